#pragma once
// Backup runs: the BKPNAME rows that a titled or automatic run adds, and
// the call of the backup engine for one registered directory.
#include <ctime>
#include <functional>
#include <string>

#include "backup/backup_directory.h"
#include "backup/run_reporting.h"
#include "catalog/connection.h"
#include "engine/shared_state.h"

namespace tessel {

// Takes the next run number from AUTODEF and adds the run's BKPNAME row
// with today's date and the current time. Returns the run number.
int AddBackupRun(Connection& db, const std::string& title, const std::string& kind, std::time_t now);

// The arguments of one backup engine call, in the engine's order.
struct BackupCall {
    std::string source;
    std::string initialFlag;
    std::string runKind;
    std::string destination;
    int runNumber = 0;
    int dirNo = 0;
    std::string subdirFlag;
    bool operator==(const BackupCall&) const = default;
};

// Backs up one registered directory. The program passes the real engine;
// tests may pass a recorder.
using BackupEngine = std::function<BackupResult(SharedState&, const BackupCall&, const BackupOptions&)>;
BackupEngine RealBackupEngine();

// A run over the registered directories: its number and what its engine
// calls did together.
struct BackupRunResult {
    int runNumber = 0;
    BackupResult result;
};

// Runs the initial backup of every listed registration that has not had
// one (CHK1 not "1"); the engine marks each one done with its rows. With a
// control, the engine calls are watched through it, and a stop asked for
// there ends the call at work and leaves the later ones; a registration
// whose initial backup was stopped stays not done, so it can be started
// again.
// Every run keeps a log in the data folder (run 0 for initial backups),
// and reports as `reporting` says.
BackupResult RunInitialBackups(SharedState& state, const BackupEngine& engine, RunControl* control = nullptr,
                               const RunReporting& reporting = {});

// A titled run over every registered directory, as the backup run window
// starts it: the run's record comes first (onRunAdded is called then, so the
// run can be shown before any directory is processed), the prefix row's
// compression flag goes into the options, an empty CHK2 is filled with
// "00", and the engine is called for every directory that has a source, in
// DIRNO order; directories of kind "9" and runs of kind "9" are
// information only. With a control, as for RunInitialBackups: a stop ends
// the directory at work and leaves the later ones (the run's record stays).
BackupRunResult RunTitledBackup(SharedState& state, const BackupEngine& engine, const std::string& title, const std::string& kindCode,
                    std::time_t now, const std::function<void(int)>& onRunAdded = {}, RunControl* control = nullptr,
                    const RunReporting& reporting = {});

}  // namespace tessel
