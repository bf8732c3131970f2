#include "inquiry/version_code.h"

#include "catalog/version_state.h"
#include "engine/version_store.h"
#include "platform/file_times.h"

namespace tessel {

bool IsVersionCode(const std::string& code) { return VersionStateOf(code) != VersionState::kOther; }

bool VersionCopyExists(Connection& db, std::int64_t rowid) {
    Statement q = db.prepare(
        "SELECT BKPDIR.BKPDIR, FILEKANRI.LVL, FILEKANRI.DIR, FILEKANRI.FILENM, FILEKANRI.FUPDATE, FILEKANRI.FUPTIME, "
        "FILEKANRI.FSIZE FROM FILEKANRI JOIN BKPDIR ON BKPDIR.DIRNO = FILEKANRI.DIRNO WHERE FILEKANRI.rowid = ?1");
    q.bind(1, rowid);
    if (!q.step()) return false;
    std::optional<std::string> dest = q.optText(0), dir = q.optText(2), name = q.optText(3);
    if (!dest || dest->empty() || !dir || !name || name->empty()) return false;
    const VersionCopy copy{*dest, q.int64(1), *dir, *name};
    const FileTime recorded{static_cast<std::int32_t>(q.int64(4)), static_cast<std::int32_t>(q.int64(5))};
    const auto size = static_cast<std::int32_t>(q.int64(6));
    q.reset();
    switch (FoundCopy(db, copy).value_or(Storage::kMissing)) {
    case Storage::kArchive: return true;
    case Storage::kPlain: {
        // A plain copy of another file of that name is not this version's.
        const FileTimes plain = ReadFileTimes(copy.plainCopy());
        return plain.status == 0 && plain.lastWrite.ticks() == recorded.ticks() && plain.size == size;
    }
    case Storage::kMissing: break;
    }
    return InBulkArchive(copy);
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
    if (ClaimsOwnCopy(entered) && !VersionCopyExists(db, rowid))
        return "この版にはバックアップの写しがないため、KBN を " + entered + " にはできません。\n"
               "（使える区分は 2, 8, 9 です）";
    db.prepare("UPDATE FILEKANRI SET KBN1 = ?1 WHERE rowid = ?2").bind(1, entered).bind(2, rowid).run();
    return std::nullopt;
}

}  // namespace tessel
