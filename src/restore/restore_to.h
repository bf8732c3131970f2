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
    // Each file lands under its name with its level's folder name put in
    // (VersionTaggedName), so that several versions of one file are kept
    // side by side.
    bool levelInName = false;
    // Set when a window watches the call from another thread: every file
    // dealt with is counted here, and a stop asked for here ends the call
    // after the current file (the summary's `stopped`).
    RunControl* control = nullptr;
};

// A file's name with a level folder's name put in before its extension:
// report.odt at level 2 becomes report.V00002.odt; a name without an
// extension (or only a leading dot) gets it at the end: Makefile.V00002,
// .profile.V00002.
std::string VersionTaggedName(const std::string& name, std::int64_t level);

// Where the version of the file <dir><name> at `level` lands: below the
// target folder at its full source path, its name tagged when levelInName
// is set.
std::string RestoreToPath(const RestoreToOptions& options, const std::string& dir, const std::string& name,
                          std::int64_t level);

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
