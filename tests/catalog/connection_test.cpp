#include "catalog/connection.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace tessel {
namespace {

struct Catalog {
    test::TempDataFolder folder;
    std::unique_ptr<Connection> db = Connection::openFile(folder / "bkpDEF.mdb");
};

TEST(QuoteCriterion, DoublesSingleQuotesOnly) {
    EXPECT_EQ(QuoteCriterion("O'Neil"), "O''Neil");
    EXPECT_EQ(QuoteCriterion("a''b\"c"), "a''''b\"c");
    EXPECT_EQ(QuoteCriterion(""), "");
}

TEST(Catalog, TemplateHoldsTablesIndexesAndVersion) {
    Catalog c;
    for (const char* table : {"BKPDIR", "BKPNAME", "AUTODEF", "KBNDEF", "FILEKANRI", "SUBDIR", "RSTRLIST", "DBVERSION"}) {
        Statement s = c.db->prepare("SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1");
        s.bind(1, table);
        EXPECT_TRUE(s.step()) << table;
    }
    Statement idx = c.db->prepare("SELECT count(*) FROM sqlite_master WHERE type='index' AND tbl_name='FILEKANRI'");
    ASSERT_TRUE(idx.step());
    EXPECT_EQ(idx.int64(0), 3);
    Statement v = c.db->prepare("SELECT VNUM FROM DBVERSION");
    ASSERT_TRUE(v.step());
    EXPECT_EQ(v.text(0), "V1.04");
    EXPECT_FALSE(v.step());
}

TEST(Catalog, UniqueNumbersAndAssignedReportIds) {
    Catalog c;
    c.db->exec("INSERT INTO BKPDIR (DIRNO, DIR) VALUES (1, 'a')");
    EXPECT_THROW(c.db->exec("INSERT INTO BKPDIR (DIRNO, DIR) VALUES (1, 'b')"), CatalogError);
    c.db->exec("INSERT INTO BKPNAME (BKPNO) VALUES (1)");
    EXPECT_THROW(c.db->exec("INSERT INTO BKPNAME (BKPNO) VALUES (1)"), CatalogError);
    c.db->prepare("INSERT INTO RSTRLIST (TEXT) VALUES (?1)").bind(1, "one").run();
    c.db->prepare("INSERT INTO RSTRLIST (TEXT) VALUES (?1)").bind(1, "two").run();
    Statement ids = c.db->prepare("SELECT ID FROM RSTRLIST ORDER BY ID");
    ASSERT_TRUE(ids.step());
    std::int64_t first = ids.int64(0);
    ASSERT_TRUE(ids.step());
    EXPECT_EQ(ids.int64(0), first + 1);
}

TEST(Catalog, NamesWithQuotesAreBoundNotPasted) {
    Catalog c;
    std::string name = "O'Neil'); DROP TABLE FILEKANRI; --";
    c.db->prepare("INSERT INTO FILEKANRI (DIRNO, FILENM) VALUES (1, ?1)").bind(1, name).run();
    Statement s = c.db->prepare("SELECT FILENM FROM FILEKANRI WHERE FILENM = ?1");
    s.bind(1, name);
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.text(0), name);
}

TEST(NextNumber, CountsFromTheRowAndAddsItWhenMissing) {
    Catalog c;
    EXPECT_EQ(NextNumber(*c.db, "BKPNO"), 1);
    EXPECT_EQ(NextNumber(*c.db, "BKPNO"), 2);
    EXPECT_EQ(NextNumber(*c.db, "DIRNO"), 1);
    c.db->exec("DELETE FROM AUTODEF");
    EXPECT_EQ(NextNumber(*c.db, "DIRNO"), 1);
    EXPECT_EQ(NextNumber(*c.db, "BKPNO"), 1);
    Statement rows = c.db->prepare("SELECT count(*), BKPNO, DIRNO FROM AUTODEF");
    ASSERT_TRUE(rows.step());
    EXPECT_EQ(rows.int64(0), 1);
    EXPECT_EQ(rows.int64(1), 1);
    EXPECT_EQ(rows.int64(2), 1);
}

TEST(Connection, RefusesUnknownProviderAndMissingFile) {
    Catalog c;
    EXPECT_THROW(Connection::open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (c.folder / "bkpDEF.mdb") + ";"),
                 CatalogError);
    EXPECT_THROW(Connection::open("Data Source=" + (c.folder / "none.mdb") + ";"), CatalogError);
    EXPECT_NO_THROW(Connection::open("provider=sqlite;Data Source=" + (c.folder / "bkpDEF.mdb") + ";"));
}

TEST(Transaction, RollsBackUnlessCommitted) {
    Catalog c;
    {
        Transaction t(*c.db);
        c.db->exec("INSERT INTO BKPNAME (BKPNO) VALUES (5)");
    }
    {
        Transaction t(*c.db);
        c.db->exec("INSERT INTO BKPNAME (BKPNO) VALUES (6)");
        t.commit();
    }
    Statement s = c.db->prepare("SELECT group_concat(BKPNO) FROM BKPNAME");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.text(0), "6");
}

}  // namespace
}  // namespace tessel
