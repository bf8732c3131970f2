#pragma once
// The counts of a backup at its end, in one form for every place that
// shows them: the run log, the backup window, the companion's output and
// the desktop notification.
#include <cstdint>
#include <string>
#include <vector>

#include "backup/backup_directory.h"

namespace tessel {

// One count with its name in the companion's output (text and JSON).
struct SummaryField {
    const char* name;
    std::int64_t value;
};

// directories, examined, recorded, stored, warnings, failed, skipped, then
// the left-out entries by reason: skipped_pattern, skipped_cache,
// skipped_hidden, skipped_link, skipped_special, skipped_own.
std::vector<SummaryField> SummaryFields(const BackupResult& result);

// "ディレクトリー 2、調べたファイル 120、記録した版 3、保存した版 3、警告 0、失敗 1、対象外 3",
// followed by the reasons that left something out ("（除外パターン 2、リンク 1）")
// and by "（中止）" for a run that was stopped.
std::string SummaryText(const BackupResult& result);

// The first entry of a run's log: "バックアップ 12「自動バックアップ」 通常"
// (kind "9": 情報のみ); "初期バックアップ" for run 0.
std::string RunStartText(int runNumber, const std::string& title, const std::string& kind);

// The notification at the end of an unattended run: its title line
// ("自動バックアップ 12") and its text ("保存した版 3、失敗 1").
std::string NotificationTitle(int runNumber);
std::string NotificationText(const BackupResult& result);

}  // namespace tessel
