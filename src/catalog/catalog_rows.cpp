#include "catalog/catalog_rows.h"

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

}  // namespace tessel
