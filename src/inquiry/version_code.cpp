#include "inquiry/version_code.h"

namespace tessel {
namespace {

bool HasNoCopy(const std::optional<std::string>& code) { return code == "2" || code == "9"; }
bool ClaimsCopy(const std::string& code) { return code == "0" || code == "7"; }

}  // namespace

bool IsVersionCode(const std::string& code) {
    return code == "0" || code == "2" || code == "7" || code == "8" || code == "9";
}

std::optional<std::string> ChangeVersionCode(Connection& db, std::int64_t rowid, const std::string& entered) {
    if (!IsVersionCode(entered))
        return "KBN に入力できるのは 0, 2, 7, 8, 9 のいずれかです。\n"
               "（8 を入れると、そのファイルは次回からバックアップされません）";
    Statement read = db.prepare("SELECT KBN1 FROM FILEKANRI WHERE rowid = ?1");
    read.bind(1, rowid);
    if (!read.step()) return "この版の記録はカタログにありません。画面を開き直してください。";
    std::optional<std::string> current = read.optText(0);
    read.reset();
    if (current == entered) return std::nullopt;
    if (HasNoCopy(current) && ClaimsCopy(entered))
        return "この版にはバックアップの写しがないため、KBN を " + entered + " にはできません。\n"
               "（使える区分は 2, 8, 9 です）";
    db.prepare("UPDATE FILEKANRI SET KBN1 = ?1 WHERE rowid = ?2").bind(1, entered).bind(2, rowid).run();
    return std::nullopt;
}

}  // namespace tessel
