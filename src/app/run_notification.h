#pragma once
// What a timed or start-up backup tells the user at its end, when nobody
// watched it: a desktop notification with the run, the versions stored and
// failed, and the message that ends an unattended start-up with failures.
#include <string>

#include "backup/backup_runs.h"

namespace tessel {

// How long a message of a start-up backup that ends the program waits for
// OK before it closes itself.
inline constexpr int kStartupMessageSeconds = 30;

// Notifies the end of the run: always when something failed (a warning),
// otherwise only while the NOTIFY setting is on.
void NotifyRunEnd(SharedState& state, const BackupRunResult& run);

// The message a start-up backup with failures ends with: what failed is in
// the run log.
inline const std::string kStartupFailures = "起動時の自動バックアップで、バックアップできなかったファイルがあります。";
inline const std::string kReasonsInLog = "理由は実行記録にあります: ";
std::string StartupFailuresMessage(const SharedState& state, const BackupRunResult& run);

}  // namespace tessel
