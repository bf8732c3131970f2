#pragma once
#include "backup/backup_runs.h"

namespace tessel {

// A run titled "自動バックアップ" over every registered directory that takes
// part in automatic backups, with the silent flag on while it runs.
void AutomaticBackup(SharedState& state, const BackupEngine& engine, std::time_t now);

}  // namespace tessel
