#include "inquiry/version_code.h"

#include <sys/stat.h>

#include "archiver/archive_ops.h"
#include "platform/file_times.h"
#include "platform/paths.h"
#include "engine/version_store.h"

namespace tessel {
namespace {

bool ClaimsCopy(const std::string& code) { return code == "0" || code == "7"; }

// The archive at `archive` holds a file member stored under `member`.
bool ArchiveHolds(const std::string& archive, const std::string& member) {
    struct stat st {};
    if (::stat(archive.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::int32_t code = 0;
    const auto index = archive::LoadIndex(archive, &code);
    if (!index) return false;
    for (const lzh::Member& m : index->members)
        if (m.path == member && !m.isDirectory()) return true;
    return false;
}

}  // namespace

bool IsVersionCode(const std::string& code) {
    return code == "0" || code == "2" || code == "7" || code == "8" || code == "9";
}

bool VersionCopyExists(Connection& db, std::int64_t rowid) {
    Statement q = db.prepare(
        "SELECT BKPDIR.BKPDIR, FILEKANRI.LVL, FILEKANRI.DIR, FILEKANRI.FILENM, FILEKANRI.FUPDATE, FILEKANRI.FUPTIME, "
        "FILEKANRI.FSIZE FROM FILEKANRI JOIN BKPDIR ON BKPDIR.DIRNO = FILEKANRI.DIRNO WHERE FILEKANRI.rowid = ?1");
    q.bind(1, rowid);
    if (!q.step()) return false;
    std::optional<std::string> dest = q.optText(0), dir = q.optText(2), name = q.optText(3);
    if (!dest || dest->empty() || !dir || !name || name->empty()) return false;
    const std::int64_t level = q.int64(1);
    const FileTime recorded{static_cast<std::int32_t>(q.int64(4)), static_cast<std::int32_t>(q.int64(5))};
    const auto size = static_cast<std::int32_t>(q.int64(6));
    q.reset();

    std::string member;
    if (!archive::CleanPath("/" + *dir + "/" + *name, &member) || member.size() < 2) return false;
    member.erase(0, 1);
    if (ArchiveHolds(LevelArchive(*dest, level), member)) return true;
    if (level == 0 && ArchiveHolds(BulkArchive(*dest), member)) return true;
    const std::string plain = PlainCopy(*dest, level, *name);
    FileTimes copy = ReadFileTimes(plain);
    struct stat st {};
    return copy.status == 0 && ::lstat(plain.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           copy.lastWrite.ticks() == recorded.ticks() && copy.size == size;
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
    if (ClaimsCopy(entered) && !VersionCopyExists(db, rowid))
        return "この版にはバックアップの写しがないため、KBN を " + entered + " にはできません。\n"
               "（使える区分は 2, 8, 9 です）";
    db.prepare("UPDATE FILEKANRI SET KBN1 = ?1 WHERE rowid = ?2").bind(1, entered).bind(2, rowid).run();
    return std::nullopt;
}

}  // namespace tessel
