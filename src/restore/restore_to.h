#pragma once
// Restoring chosen versions into a folder of the user's choosing: each file
// goes to the target folder + its absolute source path (as "restic restore
// --target" does), with the last-write time the catalog recorded. Nothing
// is deleted, nothing in the sources is touched, and an existing file is
// replaced only when asked.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/shared_state.h"
#include "restore/restore_directory.h"

namespace tessel {

struct RestoreToOptions {
    std::string target;      // the folder everything goes below
    bool overwrite = false;  // replace files that exist there already
    // The prefix row's compression flag: the kind of copy reported missing
    // when a version has neither.
    std::string compression = "0";
};

enum class RestoreToOutcome {
    kRestored,
    kExists,   // skipped: the file exists below the target and overwrite is off
    kNoCopy,   // skipped: the version was recorded without a copy of its own
    kFailed,
};

// One file dealt with: its source path, where it went, and for failures the
// result text ("Error:" + errno, "エラー　" + archiver code, or the refusal).
using RestoreToProgress = std::function<void(RestoreToOutcome outcome, const std::string& source,
                                             const std::string& target, const std::string& detail)>;

// Restored, skipped (kExists, kNoCopy) and failed files.
using RestoreToSummary = RestoreResult;

// The state at run runNumber of the files at or below the given absolute
// source paths (all registered directories when paths is empty): for each
// such file the newest version recorded at or before the run.
RestoreToSummary RestoreRunTo(SharedState& state, int runNumber, const std::vector<std::string>& paths,
                              const RestoreToOptions& options, const RestoreToProgress& progress);

// The given version rows (FILEKANRI rowids), each exactly as recorded.
RestoreToSummary RestoreVersionsTo(SharedState& state, const std::vector<std::int64_t>& versionRows,
                                   const RestoreToOptions& options, const RestoreToProgress& progress);

}  // namespace tessel
