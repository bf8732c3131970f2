#include "catalog/destination_tokens.h"

#include <sys/random.h>


namespace tessel {
namespace {

// A table of the program's own beside the catalog's: a catalog without it
// reads as one without tokens.
void EnsureTable(Connection& db) {
    db.exec("CREATE TABLE IF NOT EXISTS TESSEL_DESTTOKEN (DEST TEXT PRIMARY KEY, CUR TEXT NOT NULL, PREV TEXT)");
}

}  // namespace

std::optional<DestinationToken> ReadDestinationToken(Connection& db, const std::string& destination) {
    EnsureTable(db);
    Statement q = db.prepare("SELECT CUR, PREV FROM TESSEL_DESTTOKEN WHERE DEST = ?1");
    q.bind(1, destination);
    if (!q.step()) return std::nullopt;
    return DestinationToken{q.text(0), q.isNull(1) ? std::string() : q.text(1)};
}

void SaveDestinationToken(Connection& db, const std::string& destination, const DestinationToken& token) {
    EnsureTable(db);
    db.prepare("INSERT OR REPLACE INTO TESSEL_DESTTOKEN (DEST, CUR, PREV) VALUES (?1, ?2, ?3)")
        .bind(1, destination)
        .bind(2, token.current)
        .bind(3, token.previous)
        .run();
}

bool GaveDestinationToken(Connection& db, const std::string& token) {
    EnsureTable(db);
    Statement q = db.prepare("SELECT 1 FROM TESSEL_DESTTOKEN WHERE CUR = ?1 OR PREV = ?1 LIMIT 1");
    q.bind(1, token);
    return q.step();
}

void CopyDestinationTokens(Connection& from, Connection& to) {
    EnsureTable(from);
    EnsureTable(to);
    Statement rows = from.prepare("SELECT DEST, CUR, PREV FROM TESSEL_DESTTOKEN");
    while (rows.step())
        SaveDestinationToken(to, rows.text(0), {rows.text(1), rows.isNull(2) ? std::string() : rows.text(2)});
}

std::string RandomToken() {
    unsigned char bytes[16] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        throw CatalogError("識別子を作れません: 乱数を得られません");
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : bytes) {
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
    }
    return hex;
}

}  // namespace tessel
