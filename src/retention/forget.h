#pragma once
// Forgetting old backup runs and getting their space back. A retention
// policy picks the runs to keep; the runs it does not keep lose their
// BKPNAME rows, and every recorded version that no kept run needs loses its
// row and its copy. Every kept run restores exactly as before, and the next
// backup stores exactly what changed.
//
// The catalog changes first, in one transaction; the copies go after it.
// What is to be swept is written to a journal in the data folder (and
// flushed) before the catalog changes, so a forget killed at any instant
// leaves no row without its copy, and the next forget finishes the sweep
// of copies that no row claims any more.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/shared_state.h"
#include "retention/retention_policy.h"

namespace tessel {

// The status line the forget writes its progress to.
inline const char* const kForgetStatusWindow = "BKPSEIRI";
// The journal of copies still to sweep, in the data folder.
inline constexpr const char* kForgetJournalName = ".tessel-forget.journal";

struct ForgetOptions {
    RetentionPolicy policy;
    // Works out and returns everything, changes nothing.
    bool dryRun = false;
    // Tests only: called at each step of a real forget ("journal" written,
    // "catalog" committed, each "archive" or "copy" swept, "done").
    std::function<void(const char* step)> onStep;
};

struct ForgetRun {
    std::int64_t run = 0;
    std::string title;
    std::string kind;                 // BKPNAME.KBN
    std::string started;              // "yyyy-mm-ddThh:mm:ss" as recorded; "" when unknown
    std::vector<KeepReason> reasons;  // empty: removed
    bool kept() const { return !reasons.empty(); }
};

struct ForgetResult {
    std::vector<ForgetRun> runs;          // every run, newest first
    std::int64_t runsRemoved = 0;
    std::int64_t versionsRemoved = 0;     // rows deleted
    std::int64_t versionsReleased = 0;    // rows kept without their copy (a file's first version)
    std::uint64_t bytesFreed = 0;         // what the copies let go hold in the destinations
    int failed = 0;                       // copies or folders that could not be removed (each said)
    bool refused = false;                 // nothing was changed (said)
};

// Applies the policy (an empty policy is refused). The caller holds the
// engine lock.
ForgetResult ForgetRuns(SharedState& state, const ForgetOptions& options);

// Said when a restore names a run that a forget removed.
inline const std::string kForgottenRun = "整理で削除されたバックアップのため、復元できません: ";
// Whether the run number was handed out and its run has been removed since
// (runs are numbered in order and numbers are never reused).
bool ForgottenRun(Connection& db, std::int64_t run);

// Finishes the sweep a killed or failed forget left, if any; returns the
// number of failures (each said). What may still be swept later stays in
// the journal; nothing there holds up the next forget, which sweeps it with
// its own copies. The caller holds the engine lock.
int FinishPendingForget(SharedState& state, const std::function<void(const char*)>& onStep = {});

}  // namespace tessel
