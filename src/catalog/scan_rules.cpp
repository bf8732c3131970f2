#include "catalog/scan_rules.h"

namespace tessel {
namespace {

bool HasTable(Connection& db, const char* table) {
    Statement s = db.prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
    s.bind(1, table);
    return s.step();
}

void MakeTables(Connection& db) {
    db.exec("CREATE TABLE IF NOT EXISTS SCANPAT (DIRNO INTEGER NOT NULL, SEQ INTEGER NOT NULL, PATTERN TEXT NOT NULL, "
            "PRIMARY KEY (DIRNO, SEQ))");
    db.exec("CREATE TABLE IF NOT EXISTS SCANOPT (DIRNO INTEGER NOT NULL PRIMARY KEY, HIDDEN TEXT, CACHES TEXT)");
}

}  // namespace

ScanChoices ReadScanChoices(Connection& db, std::int64_t dirNo) {
    ScanChoices c;
    if (HasTable(db, "SCANPAT")) {
        Statement s = db.prepare("SELECT PATTERN FROM SCANPAT WHERE DIRNO = ?1 ORDER BY SEQ");
        s.bind(1, dirNo);
        while (s.step()) c.patterns.push_back(s.text(0));
    }
    if (HasTable(db, "SCANOPT")) {
        Statement s = db.prepare("SELECT HIDDEN, CACHES FROM SCANOPT WHERE DIRNO = ?1");
        s.bind(1, dirNo);
        if (s.step()) {
            c.hiddenFolders = s.optText(0) == "1";
            c.cacheFolders = s.optText(1) == "1";
        }
    }
    return c;
}

void WriteScanPatterns(Connection& db, std::int64_t dirNo, const std::vector<std::string>& patterns) {
    MakeTables(db);
    db.prepare("DELETE FROM SCANPAT WHERE DIRNO = ?1").bind(1, dirNo).run();
    Statement add = db.prepare("INSERT INTO SCANPAT (DIRNO, SEQ, PATTERN) VALUES (?1, ?2, ?3)");
    std::int64_t seq = 0;
    for (const std::string& p : patterns) {
        add.reset();
        add.bind(1, dirNo).bind(2, ++seq).bind(3, p).run();
    }
}

void WriteScanOptions(Connection& db, std::int64_t dirNo, bool hiddenFolders, bool cacheFolders) {
    MakeTables(db);
    db.prepare("INSERT INTO SCANOPT (DIRNO, HIDDEN, CACHES) VALUES (?1, ?2, ?3) "
               "ON CONFLICT(DIRNO) DO UPDATE SET HIDDEN = excluded.HIDDEN, CACHES = excluded.CACHES")
        .bind(1, dirNo)
        .bind(2, hiddenFolders ? "1" : "0")
        .bind(3, cacheFolders ? "1" : "0")
        .run();
}

void DeleteScanChoices(Connection& db, std::int64_t dirNo) {
    for (const char* table : {"SCANPAT", "SCANOPT"})
        if (HasTable(db, table))
            db.prepare(std::string("DELETE FROM ") + table + " WHERE DIRNO = ?1").bind(1, dirNo).run();
}

void CopyScanChoices(Connection& from, Connection& to) {
    if (HasTable(from, "SCANPAT")) {
        MakeTables(to);
        Statement rows = from.prepare("SELECT DIRNO, SEQ, PATTERN FROM SCANPAT ORDER BY DIRNO, SEQ");
        Statement add = to.prepare("INSERT INTO SCANPAT (DIRNO, SEQ, PATTERN) VALUES (?1, ?2, ?3)");
        while (rows.step()) {
            add.reset();
            add.bind(1, rows.int64(0)).bind(2, rows.int64(1)).bind(3, rows.text(2)).run();
        }
    }
    if (HasTable(from, "SCANOPT")) {
        MakeTables(to);
        Statement rows = from.prepare("SELECT DIRNO, HIDDEN, CACHES FROM SCANOPT");
        Statement add = to.prepare("INSERT INTO SCANOPT (DIRNO, HIDDEN, CACHES) VALUES (?1, ?2, ?3)");
        while (rows.step()) {
            add.reset();
            add.bind(1, rows.int64(0)).bind(2, rows.optText(1)).bind(3, rows.optText(2)).run();
        }
    }
}

}  // namespace tessel
