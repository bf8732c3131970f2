#pragma once
// Texts the backup engine shows, word for word.
#include <string>

namespace tessel::backup {

// Status line of the window that started the engine.
inline const std::string kCheckingPrefix = " ﾌｧｲﾙ　";
inline const std::string kCheckingSuffix = " をﾁｪｯｸしています。";
inline const std::string kBackingUpSuffix = " をﾊﾞｯｸｱｯﾌﾟしています。";

// Start checks.
inline const std::string kSourceMissing = "指定されたディレクトリーが見つかりません！ (";
inline const std::string kDestinationMissing = "バックアップの指定されたディレクトリーが見つかりません！ (";
// A level archive damaged with members behind the damage: followed by its
// path and ")". Its versions go to the next level instead.
inline const std::string kLevelArchiveDamaged =
    "書庫が途中で壊れているため、この書庫には追加せず、次の版のフォルダーに保存します！ (";
// The same for a link or anything else but a file in a level archive's place.
inline const std::string kLevelArchiveNotAFile =
    "書庫の場所に通常のファイルでないものがあるため、この書庫には追加せず、次の版のフォルダーに保存します！ (";
inline const std::string kDestinationIsLink =
    "バックアップ先のパスにシンボリックリンクがあるため書き込みません。リンクを含まない実際のフォルダーを登録し直してください！ (";

// What the scan and the bulk backup could not read, and what never belongs
// to a backup. Followed by the path, ")" and the system's reason.
inline const std::string kFolderUnreadable = "ディレクトリーを読み取れないため、その中のファイルはバックアップされません！ (";
inline const std::string kPathTooLong = "パスが長すぎるため、ファイルをバックアップできません！ (";
inline const std::string kBulkFileSkipped = "ファイルを一括バックアップに入れられませんでした！ (";
inline const std::string kSourceInsideDataFolder = "バックアップ対象がデータフォルダーそのものであるため、バックアップしません！ (";
inline const std::string kSourceInsideDestination = "バックアップ対象がバックアップ先の中にあるため、バックアップしません！ (";

// What a backup never stores, in the run log. Followed by the path and ")".
inline const std::string kLinkSkipped = "シンボリックリンクはバックアップしません (";
inline const std::string kSpecialSkipped = "通常のファイルでもディレクトリーでもないため、バックアップしません (";
inline const std::string kHiddenFolderSkipped = "隠しディレクトリーのため、その中はバックアップしません (";
// A pattern: followed by the pattern, kPatternSkippedPath, the path and ")".
inline const std::string kPatternSkipped = "除外パターン「";
inline const std::string kPatternSkippedPath = "」に当たるため、バックアップしません (";
inline const std::string kCacheSkipped = "キャッシュディレクトリー (CACHEDIR.TAG) のため、その中はバックアップしません (";
inline const std::string kExcludedFolderSkipped =
    "バックアップ先・データフォルダー・別の登録のディレクトリーのため、その中はバックアップしません (";

// The completion of a run in which something could not be backed up.
inline const std::string kRunHadFailures = "バックアップできなかったディレクトリーまたはファイルがあります。表示されたメッセージを確認してください！";

// The copies of a call did not reach the disk (write-back failed).
inline const std::string kWriteBackFailed =
    "バックアップ先への書き込みを確定できませんでした。この回のファイルは次回保存し直します！ (";

// Unexpected errors: the whole call stops, or one version is skipped.
inline const std::string kAborted = "予期しないエラーが発生した為、処理を中断します。!  step = ";
inline const std::string kSkipped = "予期しないエラーが発生した為、処理をスキップします。!  step = ";
inline const std::string kSkippedFile = " FILE = ";

// One file.
inline const std::string kNoEntry = " FILE 更新日付情報を取得できません。";
inline const std::string kMaybeInUse = " ファイルが使用中かもしれません　FILE=";
inline const std::string kOlderFile = "ファイルが古いようです！ FILE = ";
inline const std::string kOlderDate = "日付 = ";
inline const std::string kOlderFileVersion = "ﾌｧｲﾙﾊﾞｰｼﾞｮﾝ = ";
inline const std::string kOlderProductVersion = "ﾌﾟﾛｸﾞﾗﾑﾊﾞｰｼﾞｮﾝ =";

// Storing versions.
inline const std::string kArchiverFailed = " error lzh u:追加･更新 function ";
inline const std::string kBulkArchiverFailed = " error lzh U:追加･更新 一括 function ";
inline const std::string kCopyFailed = "ファイルのコピーに失敗しました! FILE= ";
inline const std::string kCopyFailedCode = "     RC  ";
inline const std::string kChangedWhileRead = "ファイルが読み取り中に変更され続けたため、バックアップできません！ (";
// The cause of a failed copy whose file is no longer a regular file.
inline const std::string kNotRegularFile = "通常のファイルではなくなっています";
inline const std::string kCopyUnknownError = "ファイルのコピーで判別できないエラーが発生しました! FILE= ";

}  // namespace tessel::backup
