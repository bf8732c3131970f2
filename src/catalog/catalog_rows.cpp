#include "catalog/catalog_rows.h"

#include <sys/random.h>

#include <cctype>

namespace tessel {
namespace {

const char* const kDirectoryColumns = "SELECT rowid, DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2 FROM BKPDIR ";

DirectoryRow RowOf(const Statement& s) {
    return {s.int64(0),   s.optInt(1),  s.optText(2), s.optText(3), s.optText(4),
            s.optText(5), s.optText(6), s.optText(7), s.optText(8)};
}

}  // namespace

std::vector<DirectoryRow> ReadDirectoryRows(Connection& db, DirectoryOrder order) {
    Statement s = db.prepare(std::string(kDirectoryColumns) +
                             (order == DirectoryOrder::kByNumber ? "ORDER BY DIRNO" : "ORDER BY rowid"));
    std::vector<DirectoryRow> rows;
    while (s.step()) rows.push_back(RowOf(s));
    return rows;
}

std::string CompressionFlag(Connection& db) {
    Statement s = db.prepare("SELECT ABKP FROM BKPDIR WHERE KBN = '0' ORDER BY DIRNO, rowid LIMIT 1");
    if (!s.step()) return "0";
    const std::optional<std::string> flag = s.optText(0);
    return flag && !flag->empty() ? *flag : "0";
}

Registration RegistrationOf(const Statement& s) {
    return {s.int64(0),   s.optText(1), s.optText(2), s.optText(3), s.optText(4),
            s.optText(5), s.optText(6), s.optText(7), s.optText(8)};
}

std::vector<Registration> ListedRegistrations(Connection& db) {
    std::vector<Registration> rows;
    Statement s = db.prepare(kRegistrationListQuery);
    while (s.step()) rows.push_back(RegistrationOf(s));
    return rows;
}

std::optional<DirectoryRow> ReadDirectoryRow(Connection& db, std::int64_t dirNo) {
    Statement s = db.prepare(std::string(kDirectoryColumns) + "WHERE DIRNO = ?1");
    s.bind(1, dirNo);
    if (!s.step()) return std::nullopt;
    return RowOf(s);
}

namespace {

constexpr std::string_view kIdentityMark = "TESSEL-ID ";

bool IsIdentity(std::string_view text) {
    if (text.substr(0, kIdentityMark.size()) != kIdentityMark) return false;
    text.remove_prefix(kIdentityMark.size());
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);  // a table file pads with blanks
    if (text.size() != 32) return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace

std::string CatalogIdentity(Connection& db) {
    Statement read = db.prepare("SELECT rowid, BIKOU FROM AUTODEF ORDER BY rowid LIMIT 1");
    if (read.step() && !read.isNull(1) && IsIdentity(read.text(1)))
        return read.text(1).substr(kIdentityMark.size(), 32);
    read.reset();
    unsigned char bytes[16] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        throw CatalogError("カタログの識別子を作れません: 乱数を得られません");
    static const char kHex[] = "0123456789abcdef";
    std::string id;
    for (unsigned char b : bytes) {
        id += kHex[b >> 4];
        id += kHex[b & 15];
    }
    Transaction t(db);
    if (read.step()) {
        const std::int64_t rowid = read.int64(0);
        read.reset();
        db.prepare("UPDATE AUTODEF SET BIKOU = ?1 WHERE rowid = ?2").bind(1, std::string(kIdentityMark) + id).bind(2, rowid).run();
    } else {
        read.reset();
        db.prepare("INSERT INTO AUTODEF (BKPNO, DIRNO, BIKOU) VALUES (0, 0, ?1)").bind(1, std::string(kIdentityMark) + id).run();
    }
    t.commit();
    return id;
}

}  // namespace tessel
