#pragma once
// The backup engine: backs up one registered directory per call.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "backup/left_out.h"
#include "engine/run_archiver.h"
#include "engine/run_control.h"
#include "engine/run_report.h"
#include "engine/shared_state.h"

namespace tessel {

// How one backup call runs; the drivers make it for each call.
struct BackupOptions {
    // No status lines, and the messages about single files that a run can
    // live with are left out (automatic backups).
    bool silent = false;
    // The compression flag of the prefix row: "0" plain copies, else one
    // LZH archive per version folder.
    std::string compression = "0";
    // Threads that compress the files of one version folder; 0: as many as
    // TESSEL_JOBS or the machine's cores say.
    unsigned jobs = 0;
    // Set when a window watches the call from another thread: it is counted
    // here, and a stop asked for here ends the call after the current file
    // (what was stored stays recorded, the rest is left to the next run).
    RunControl* control = nullptr;
    // Where every message of the call goes besides the screen (the run log);
    // null: nowhere.
    RunReport* report = nullptr;
};

// What backup calls did. A run failed when anything could not be backed
// up; warnings are the other messages shown (a destination that had to be
// made, a file older than its latest version); skipped entries are those a
// backup does not store (links, FIFOs, sockets, devices, what the
// registration leaves out: patterns, caches, hidden folders; the
// destinations and data folder inside a source), counted also by reason.
struct BackupResult {
    int directories = 0;
    std::int64_t filesExamined = 0;
    std::int64_t versionsRecorded = 0;
    // Versions whose copy was stored (in an archive or as a plain copy).
    std::int64_t versionsStored = 0;
    std::int64_t failures = 0;
    std::int64_t warnings = 0;
    std::int64_t skipped = 0;
    LeftOutCounts leftOut{};
    // Ended early because a stop was asked for.
    bool stopped = false;

    bool failed() const { return failures != 0; }
    BackupResult& operator+=(const BackupResult& other) {
        directories += other.directories;
        filesExamined += other.filesExamined;
        versionsRecorded += other.versionsRecorded;
        versionsStored += other.versionsStored;
        failures += other.failures;
        warnings += other.warnings;
        skipped += other.skipped;
        for (std::size_t i = 0; i < kLeftOutReasons; ++i) leftOut[i] += other.leftOut[i];
        stopped = stopped || other.stopped;
        return *this;
    }
};

// One registered directory to back up, as its registration row and the
// run give it.
struct BackupCall {
    // The registered directory.
    std::string source;
    // "1": the initial backup from the registration window (its rows are
    // run 0 and the registration is marked done); "9": a backup run or an
    // automatic backup.
    std::string initialFlag = "9";
    // The registration's kind: "1" normal, "2" initial without backup, "3"
    // initial bulk backup, "9" information only (rows, no copies).
    std::string runKind = "1";
    // Where the version folders go.
    std::string destination;
    // The run the new versions belong to (0 for an initial backup).
    int runNumber = 0;
    // The registration's directory number.
    int dirNo = 0;
    // "01": with sub-directories; "00": the directory's own files only.
    std::string subdirFlag = "01";
    bool operator==(const BackupCall&) const = default;
};

// Scans the source directory (with its sub-directories when asked),
// records every new or changed file as a new version in FILEKANRI and
// stores a copy of each in its version folder of the destination.
BackupResult BackupDirectory(SharedState& state, const BackupOptions& options, const BackupCall& call);

// Adds each file to the archive below the destination as an ArchiverCall
// with its kAddFile request would, all in one call; one result per file,
// nothing shown. archive::AddEach in production.
using ArchiverAddEach = std::function<std::vector<std::int32_t>(
    const std::string& destination, const std::string& archive, const std::vector<std::string>& files)>;

// The same engine with the archiver call supplied by the caller (tests, and
// callers that wrap the archiver). With addEach set, the versions that go
// into one archive are added with one call of it; without, with one
// archiver call per version.
BackupResult BackupDirectory(SharedState& state, const BackupOptions& options, const BackupCall& call,
                             const ArchiverCall& archiver, const ArchiverAddEach& addEach = {});

}  // namespace tessel
