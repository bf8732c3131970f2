#pragma once
// The texts of the restore engine: report lines and message boxes.
#include <string>

namespace tessel::restore_text {

// Report lines.
inline const std::string kHeading = "    リカバリーの実施    ";
inline const std::string kHeadingTest = "  リカバリーの実施(TEST)  ";
inline const std::string kTestNotice = "  テストの為、リカバリーは実際には行われません！ ";
inline const std::string kUndefinedLine = " 指定されたディレクトリーの定義がありません！ ";
inline const std::string kBulkLine = "  初期一括ファイルの戻しを実施しました。 ";
inline const std::string kRestored = " ファイルの戻しを実行しました! ";
inline const std::string kRestoreFailed = " ファイルの戻しに失敗しました! ";
inline const std::string kRestoreSkipped = " ファイルの戻しをスキップしました! ";
inline const std::string kFrom = " から ";
inline const std::string kRc = "     RC  ";
inline const std::string kFilePrefix = " ファイル ";
inline const std::string kDeleted = " を削除しました! 　";
inline const std::string kDeleteFailed = " の削除に失敗しました! ";
inline const std::string kDeleteSkipped = " の削除をスキップしました! 　";
// The restored files did not reach the disk (write-back failed).
inline const std::string kWriteBackFailedLine = " 戻したファイルの書き込みを確定できませんでした! ";
// The user stopped the restore: nothing after this line was done.
inline const std::string kStoppedLine = " 中止の指示により復元を打ち切りました。残りのファイルは戻していません！ ";

// Message boxes.
inline const std::string kUndefinedMessage = " 指定されたディレクトリーの定義がありません！";
inline const std::string kNotBackedUpMessage = " 指定されたディレクトリーはバックアップ対象外です";
inline const std::string kBulkArchiverFailed = " error lzh e:展開 一括 function ";
inline const std::string kArchiverFailed = " error lzh e:展開 function ";
inline const std::string kRestoreFailedMessage = "ファイルの戻しに失敗しました! FILE= ";
inline const std::string kDeleteFailedMessage = " の削除に失敗しました！　";
inline const std::string kWriteBackFailedMessage = "戻したファイルの書き込みを確定できませんでした! DIR= ";

// Result texts.
// The report file could not be opened; the lines still go to RSTRLIST.
inline const std::string kReportFileFailed = "復元結果ファイルを書き込めません: ";

}  // namespace tessel::restore_text
