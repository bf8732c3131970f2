#pragma once
// A restore of every registered directory to the state of one run, as the
// file restore window starts it.
#include <functional>
#include <string>

#include "engine/shared_state.h"
#include "restore/restore_directory.h"

namespace tessel {

using RestoreEngine = std::function<RestoreResult(SharedState&, int dirNo, int runNumber, const RestoreOptions&)>;

// Takes the prefix row's compression flag into the options, then restores
// every directory except the prefix row and directories of kind "9", the
// first with report mode "1" (a fresh report) and the others with "2".
// test: a test restore. Returns what the calls did together. With a
// control, the engine calls are watched through it, and a stop asked for
// there ends the directory at work and leaves the later ones.
RestoreResult RestoreAllDirectories(SharedState& state, int runNumber, bool test, const RestoreEngine& engine,
                                    RunControl* control = nullptr);

// The run can be restored from: it exists, is not information only and is
// not the initial backups' run 0.
bool RestorableRun(Connection& db, int runNumber);

}  // namespace tessel
