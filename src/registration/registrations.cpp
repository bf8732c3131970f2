#include "registration/registrations.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/paths.h"

namespace tessel {
namespace {

std::optional<Registration> FindOne(Connection& db, const std::string& where, const auto& value) {
    Statement s = db.prepare(std::string(kRegistrationListQuery) + " AND " + where + " LIMIT 1");
    s.bind(1, value);
    if (!s.step()) return std::nullopt;
    return RegistrationOf(s);
}

}  // namespace

bool RegistrationListEmpty(Connection& db) {
    Statement s = db.prepare(std::string(kRegistrationListQuery) + " LIMIT 1");
    return !s.step();
}

std::optional<Registration> FindRegistrationByDir(Connection& db, const std::string& dir) {
    // The prefix row is never a registration: a source that happens to equal
    // the prefix must not overwrite it.
    return FindOne(db, "BKPDIR.DIR = ?1 AND BKPDIR.DIRNO <> 0", dir);
}

std::optional<Registration> FindRegistrationByNumber(Connection& db, std::int64_t dirNo) {
    return FindOne(db, "BKPDIR.DIRNO = ?1", dirNo);
}

std::int64_t SaveRegistration(Connection& db, const std::optional<Registration>& existing, const RegistrationFields& f) {
    std::string dir = f.dir;
    // The stored source has no final separator; the root itself stays "/".
    if (dir.size() > 1 && dir.back() == kSep) dir.pop_back();
    Transaction t(db);
    std::int64_t dirNo;
    if (existing) {
        dirNo = existing->dirNo;
    } else {
        dirNo = CTSET(db);
        db.prepare("INSERT INTO BKPDIR (DIRNO, CHK1) VALUES (?1, '0')").bind(1, dirNo).run();
    }
    db.prepare("UPDATE BKPDIR SET DIR = ?1, BKPDIR = ?2, KBN = ?3, BIKOU = ?4, ABKP = ?5, CHK2 = ?6 WHERE DIRNO = ?7")
        .bind(1, dir)
        .bind(2, f.dest)
        .bind(3, f.kind)
        .bind(4, f.remark)
        .bind(5, f.abkp)
        .bind(6, f.chk2)
        .bind(7, dirNo)
        .run();
    t.commit();
    return dirNo;
}

int CTSET(Connection& db) { return NextNumber(db, "DIRNO"); }

void DeleteRegistration(Connection& db, std::int64_t dirNo) {
    db.prepare("DELETE FROM BKPDIR WHERE DIRNO = ?1").bind(1, dirNo).run();
}

void SavePrefix(Connection& db, const std::string& prefix, const std::string& compressFlag) {
    Transaction t(db);
    Statement find = db.prepare("SELECT 1 FROM BKPDIR WHERE DIRNO = 0");
    bool exists = find.step();
    find.reset();
    if (exists)
        db.prepare("UPDATE BKPDIR SET DIR = ?1, BKPDIR = '', KBN = '0', ABKP = ?2 WHERE DIRNO = 0")
            .bind(1, prefix)
            .bind(2, compressFlag)
            .run();
    else
        db.prepare("INSERT INTO BKPDIR (DIRNO, DIR, KBN, BIKOU, ABKP) VALUES (0, ?1, '0', 'PREFIX', ?2)")
            .bind(1, prefix)
            .bind(2, compressFlag)
            .run();
    t.commit();
}

void SaveCompression(Connection& db, const std::string& compressFlag) {
    db.prepare("UPDATE BKPDIR SET ABKP = ?1 WHERE DIRNO = 0").bind(1, compressFlag).run();
}

std::string DestinationFor(const std::string& source, const std::string& prefix) {
    size_t last = source.rfind(kSep);
    std::string leaf = last != std::string::npos && last + 1 < source.size() ? source.substr(last + 1) : "ROOT";
    return prefix + leaf;
}

std::string CreateDirectories(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec) return ec.message();
    if (!IsDirectory(path)) return std::strerror(ENOTDIR);
    return {};
}

}  // namespace tessel
