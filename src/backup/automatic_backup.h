#pragma once
#include "backup/backup_runs.h"

namespace tessel {

// A run titled "自動バックアップ" over every registered directory that takes
// part in automatic backups, silent on the screen. Nobody watches it: its
// failures and counts also go to the system log unless `reporting` says
// otherwise (its caller shows them where the system log gets them already).
BackupRunResult AutomaticBackup(SharedState& state, const BackupEngine& engine, std::time_t now,
                                const RunReporting& reporting = {nullptr, true});

}  // namespace tessel
