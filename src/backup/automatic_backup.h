#pragma once
#include "backup/backup_runs.h"

namespace tessel {

// A run titled "自動バックアップ" over every registered directory that takes
// part in automatic backups, silent.
BackupRunResult AutomaticBackup(SharedState& state, const BackupEngine& engine, std::time_t now);

}  // namespace tessel
