#pragma once
// The run log: what every backup run said, kept in the data folder to be
// read later (tessel-backupctl log). One text file per run,
// log/run-<number>.log (six digits; run 0 holds the last initial backups),
// in UTF-8. Each entry is one line "<local time> <label> <text>"; the further
// lines of a text of several lines follow, each after a tab. Entries are
// written as they come, so a run that is killed keeps what it wrote. The
// newest kKeptRunLogs logs are kept.
#include <optional>
#include <string>
#include <vector>

#include "engine/run_report.h"

namespace tessel {

inline const char* const kRunLogFolder = "log";
inline constexpr int kKeptRunLogs = 100;

// The log of a run: <data folder>/log/run-000012.log.
std::string RunLogPath(const std::string& dataFolder, int run);

// The label of an entry kind in the log ("失敗", ...) and its name in JSON
// ("failure", ...).
const std::string& RunEntryLabel(RunEntry kind);
const std::string& RunEntryName(RunEntry kind);

class RunLog : public RunReport {
public:
    // Starts the log of `run` in the data folder, replacing an older one of
    // that number, and removes the oldest logs past kKeptRunLogs. A log that
    // cannot be made leaves error() set; the run goes on without it.
    RunLog(const std::string& dataFolder, int run);
    ~RunLog() override;
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    void entry(RunEntry kind, const std::string& text, bool shown) override;
    // 0, or the errno value of the first failure to make or write the log.
    int error() const { return error_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
    int error_ = 0;
    std::string line_;  // kept, so that an entry costs no allocation
};

struct RunLogEntry {
    std::string time;  // local time, 2024-05-01T09:30:00
    RunEntry kind = RunEntry::kMessage;
    std::string text;
};

// The run whose log was written last; nullopt when there is none.
std::optional<int> LastLoggedRun(const std::string& dataFolder);

// The entries of a run's log, in order; nullopt with *error set (ENOENT:
// the run has no log) when it cannot be read.
std::optional<std::vector<RunLogEntry>> ReadRunLog(const std::string& dataFolder, int run, int* error);

}  // namespace tessel
