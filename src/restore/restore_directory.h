#pragma once
// The restore engine: brings one registered directory back to the state it
// had at a chosen backup run, and reports every action.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "engine/run_archiver.h"
#include "engine/run_control.h"
#include "engine/shared_state.h"

namespace tessel {

// How one restore call runs; the drivers make it for each call.
struct RestoreOptions {
    // A test restore: no file is touched and every action is reported as
    // done.
    bool test = false;
    // The compression flag of the prefix row; names the kind of copy that
    // is missing when a version has neither.
    std::string compression = "0";
    // "1" starts the report afresh; any other value adds to it.
    std::string reportMode = "1";
    // Threads that decode archive members; 0: as many as TESSEL_JOBS or the
    // machine's cores say.
    unsigned jobs = 0;
    // Set when a window watches the call from another thread: the actions
    // are counted here, and a stop asked for here ends the call after the
    // current file, with a report line that says so.
    RunControl* control = nullptr;
};

// What restore calls did: files put back, files deleted, actions passed
// over, and failures (files or deletions that failed, a report file that
// could not be opened, a directory that cannot be restored).
struct RestoreResult {
    int directories = 0;
    int restored = 0;
    int deleted = 0;
    int skipped = 0;
    int failed = 0;
    // Ended early because a stop was asked for.
    bool stopped = false;

    RestoreResult& operator+=(const RestoreResult& other) {
        directories += other.directories;
        restored += other.restored;
        deleted += other.deleted;
        skipped += other.skipped;
        failed += other.failed;
        stopped = stopped || other.stopped;
        return *this;
    }
};

// Restores directory dirNo to the state of run runNumber. For every file it
// puts back the newest version recorded at or before that run, from that
// version's own copy (archive member or plain copy, however the compression
// was set when it was stored) and with the last-write time the catalog
// recorded; it deletes the files first recorded by a later run (one already
// gone is a skipped deletion). Nothing is written outside the registered
// directory or through a link below it. Each action goes to the report file
// RSTRLIST.TXT in the data folder, to the RSTRLIST table (the two hold the
// same lines at every moment a kill can come, but for the one batch whose
// commit it interrupts) and, for the progress lines, to the status line of
// FILEREV.
RestoreResult RestoreDirectory(SharedState& state, int dirNo, int runNumber, const RestoreOptions& options);

// What the engine calls outside itself; tests replace them.
struct RestoreHooks {
    // Carries out the archiver's requests (archive::Perform) for the bulk
    // archive of an initial bulk backup. Level archives are read by the
    // engine itself, decoded on RestoreOptions::jobs threads.
    ArchiverCall archiver;
    // The time printed in the heading line.
    std::function<std::time_t()> clock;
};
RestoreHooks DefaultRestoreHooks();

RestoreResult RestoreDirectory(SharedState& state, int dirNo, int runNumber, const RestoreOptions& options,
                               const RestoreHooks& hooks);

// The heading's date "yyyy/mm/dd" and time "h:mm:ss a/p" (12-hour clock,
// hour without leading zero) of a local time.
std::string FormatReportDate(std::time_t t);
std::string FormatReportTime(std::time_t t);

}  // namespace tessel
