#pragma once
// How a backup run reports what it did, beside the screen: every entry into
// the run's log in the data folder, the failures and the counts of a run
// nobody watches into the system log, and everything to the caller's own
// report (the companion prints there what a silent run kept off the screen).
#include <memory>
#include <string>

#include "backup/backup_directory.h"
#include "engine/run_log.h"
#include "engine/shared_state.h"

namespace tessel {

// Where a driver's run reports besides its log.
struct RunReporting {
    // The caller's report; null: none.
    RunReport* watcher = nullptr;
    // The failures and the counts also go to the system log (runs nobody
    // watches).
    bool systemLog = false;
};

class BackupRunReport {
public:
    // Starts the log of the run (no log without a data folder) with its
    // start entry. A log that cannot be made is said on the screen; the run
    // goes on.
    BackupRunReport(SharedState& state, int runNumber, const std::string& startText, const RunReporting& to);
    ~BackupRunReport();
    BackupRunReport(const BackupRunReport&) = delete;
    BackupRunReport& operator=(const BackupRunReport&) = delete;

    // The report the engine calls are given.
    RunReport* report() { return &all_; }
    // The closing entry with the run's counts.
    void finish(const BackupResult& result);

private:
    class SystemLogReport;
    std::unique_ptr<RunLog> log_;
    std::unique_ptr<SystemLogReport> system_;
    RunReports all_;
};

}  // namespace tessel
