#pragma once
// Registered directories and the prefix row in BKPDIR: setting the
// prefix, registering and unregistering, with their checks and messages,
// the same for the registration window and the companion.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog_rows.h"
#include "catalog/connection.h"
#include "catalog/scan_rules.h"
#include "core/user_interface.h"

namespace tessel {

namespace registration_text {
inline const char* const kNoPrefix = "  バックアップ先プレフィックスが指定されていません　";
inline const char* const kNoSource = "バックアップ対象が指定されていません!";
inline const char* const kNoDestination = "バックアップ先が指定されていません!";
// The kind of an initialised registration cannot move its copies between
// the bulk archive and the level folders.
inline const char* const kBulkKindFixed =
    " 初期バックアップ済みの登録は、一括バックアップとほかの種類の間で変更できません。登録を取り消してから登録し直してください！";
inline const char* const kCreatingDestination = " バックアップ先ディレクトリーを作成します！";
inline const char* const kDestinationChangeWarning = " バックアップ先を変更すると復元が出来ない時があります！";
inline const char* const kNotRegistered = " すでに登録済のデータを選択してください！";
inline const char* const kPrefixNotDeletable = " プレフィックスは削除できません!";
inline const char* const kAlreadyBackedUp = "これはすでに初期バックアップ済の為削除できません！";
inline const char* const kCreateFolderQuestion = "指定されたディレクトリーが存在しません。作成しますか？";
inline const char* const kDone = " 処理を完了しました！　";
}  // namespace registration_text

// A registration kind: the code stored in BKPDIR.KBN, the label the
// registration window lists and the companion's --kind name.
struct RegistrationKind {
    const char* code;
    const char* label;
    const char* name;
};
inline constexpr RegistrationKind kRegistrationKinds[] = {
    {"1", "通常", "normal"}, {"2", "初期BKP無し", "no-initial"}, {"3", "初期一括BKP", "bulk"}, {"9", "情報のみ", "info"}};
// The code of a label; "9" (information only) for any other text.
std::string KindCodeOfLabel(std::string_view label);
// The label of a code; "情報のみ" for any other code.
std::string KindLabelOf(const std::optional<std::string>& code);
// The code of a --kind name; nullopt for an unknown name.
std::optional<std::string> KindCodeOfName(std::string_view name);

// The two choices of automatic backup and of sub-directories.
inline const char* const kIncludedLabel = "対象";
inline const char* const kExcludedLabel = "対象外";
inline std::string AutoBackupCode(bool included) { return included ? "1" : "9"; }
inline std::string SubdirCode(bool included) { return included ? "01" : "00"; }

bool RegistrationListEmpty(Connection& db);
// The listed registration (never the prefix row) whose DIR is exactly dir.
std::optional<Registration> FindRegistrationByDir(Connection& db, const std::string& dir);
std::optional<Registration> FindRegistrationByNumber(Connection& db, std::int64_t dirNo);
// The registration of the source the user named: its DIR is the text as
// typed, or the text's stored form (relative to base, without "." or ".."
// parts or a final "/").
std::optional<Registration> FindRegistrationBySource(Connection& db, const std::string& typed, const std::string& base);

// The values the edit fields give a registration.
struct RegistrationFields {
    std::string dir;  // as typed; a final "/" is dropped when stored
    std::string dest;
    std::string kind;
    std::string remark;
    std::string abkp;
    std::string chk2;
    // The patterns and choices of the scan; nullopt: those kept stay.
    std::optional<ScanChoices> scan{};
};

// Shows why the first pattern that cannot be used is refused; true when
// every one can be used.
bool CheckPatterns(UserInterface& ui, const std::vector<std::string>& patterns);
// Replaces the exclusion patterns of a registration, or of the whole data
// folder for kWholeDataFolder, after CheckPatterns.
bool StorePatterns(Connection& db, UserInterface& ui, std::int64_t dirNo, const std::vector<std::string>& patterns);

// Updates the registration of the same source (existing) or adds a new one
// under the next directory number with CHK1 "0". Returns its number.
std::int64_t SaveRegistration(Connection& db, const std::optional<Registration>& existing, const RegistrationFields& f);

// The next directory number from the AUTODEF counter.
int CTSET(Connection& db);

void DeleteRegistration(Connection& db, std::int64_t dirNo);

// Stores the destination prefix (ending in "/") and the compression flag in
// the prefix row, adding the row when there is none.
void SavePrefix(Connection& db, const std::string& prefix, const std::string& compressFlag);
// Stores the compression flag in the prefix row when there is one.
void SaveCompression(Connection& db, const std::string& compressFlag);

// The destination of a source: the prefix followed by the source's last
// path component, or "ROOT" when the source ends in "/" or has none.
std::string DestinationFor(const std::string& source, const std::string& prefix);

enum class PrefixOutcome { kStored, kRefused, kDeclined, kNotCreated };
// Sets the destination prefix (in its stored form): refused when it overlaps
// a registered source; a missing folder is made when the user says Yes.
// Every refusal and failure is shown.
PrefixOutcome StorePrefix(Connection& db, UserInterface& ui, const std::string& prefix, const std::string& compressFlag);

enum class RegistrationCheck { kAllowed, kNoPrefix, kRefused };
// Whether a registration of typedSource with typedDest may be stored: a
// prefix must be set, both must be given and, in their stored forms
// (relative to base), overlap nothing; an initialised registration keeps
// its copies where its kind put them (bulk archive or level folders), so
// its kind cannot change between bulk ("3") and the others. A refusal is
// shown.
RegistrationCheck CheckRegistration(Connection& db, UserInterface& ui, const std::string& typedSource,
                                    const std::string& typedDest, const std::string& base,
                                    const std::string& kind);

// The outcome of storing a registration.
struct StoredRegistration {
    std::int64_t dirNo = 0;
    bool destinationReady = true;  // false when its missing folder could not be made
};
// Stores a checked registration (the one of the same source is updated) and
// makes its destination folder when it is missing, saying so.
StoredRegistration StoreRegistration(Connection& db, UserInterface& ui, const RegistrationFields& f);

// Removes the registration row (the one the user picked or named by
// typedSource; nullopt when none was found) unless it does not stand for
// typedSource, is the prefix or has had its initial backup; the refusal is
// shown. True when it was removed.
bool RemoveRegistration(Connection& db, UserInterface& ui, const std::optional<Registration>& row,
                        const std::string& typedSource, const std::string& base);

}  // namespace tessel
