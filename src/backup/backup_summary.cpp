#include "backup/backup_summary.h"

namespace tessel {

std::vector<SummaryField> SummaryFields(const BackupResult& r) {
    std::vector<SummaryField> fields{{"directories", r.directories}, {"examined", r.filesExamined},
                                     {"recorded", r.versionsRecorded}, {"stored", r.versionsStored},
                                     {"warnings", r.warnings},         {"failed", r.failures},
                                     {"skipped", r.skipped}};
    for (std::size_t i = 0; i < kLeftOutReasons; ++i)
        fields.push_back({LeftOutKey(static_cast<LeftOutReason>(i)), r.leftOut[i]});
    return fields;
}

std::string SummaryText(const BackupResult& r) {
    std::string text = "ディレクトリー " + std::to_string(r.directories) + "、調べたファイル " +
                       std::to_string(r.filesExamined) + "、記録した版 " + std::to_string(r.versionsRecorded) +
                       "、保存した版 " + std::to_string(r.versionsStored) + "、警告 " + std::to_string(r.warnings) +
                       "、失敗 " + std::to_string(r.failures) + "、対象外 " + std::to_string(r.skipped);
    std::string reasons;
    for (std::size_t i = 0; i < kLeftOutReasons; ++i)
        if (r.leftOut[i] != 0)
            reasons += (reasons.empty() ? "" : "、") + std::string(LeftOutLabel(static_cast<LeftOutReason>(i))) + " " +
                       std::to_string(r.leftOut[i]);
    if (!reasons.empty()) text += "（" + reasons + "）";
    if (r.stopped) text += "（中止）";
    return text;
}

std::string RunStartText(int runNumber, const std::string& title, const std::string& kind) {
    if (runNumber == 0) return "初期バックアップ";
    return "バックアップ " + std::to_string(runNumber) + "「" + title + "」 " + (kind == "9" ? "情報のみ" : "通常");
}

std::string NotificationTitle(int runNumber) { return "自動バックアップ " + std::to_string(runNumber); }

std::string NotificationText(const BackupResult& r) {
    std::string text = "保存した版 " + std::to_string(r.versionsStored) + "、失敗 " + std::to_string(r.failures);
    if (r.failed()) text += "\n最新状況の「エラーのみ」で確認できます。";
    return text;
}

}  // namespace tessel
