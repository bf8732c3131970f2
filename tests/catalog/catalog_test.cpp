#include "catalog/connection.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <tuple>

#include "catalog/catalog_transfer.h"
#include "catalog/table_files.h"
#include "catalog_fixture.h"
#include "support/temp_dir.h"

namespace tessel {
namespace {

// Opens a catalog the way start-up does and returns the message of the
// refusal, "" when it opened. Root writes to read-only files and folders, so
// under root the opening runs in a child that has dropped to user nobody.
std::string OpeningMessage(const std::string& path, bool unprivileged) {
    auto attempt = [&]() -> std::string {
        try {
            Connection::open("Provider=SQLite;Data Source=" + path + ";", 200);
            return "";
        } catch (const CatalogError& e) {
            return e.what();
        }
    };
    if (!unprivileged || geteuid() != 0) return attempt();
    int out[2];
    if (pipe(out) != 0) return "pipe failed";
    if (fork() == 0) {
        const uid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 || setresuid(nobody, nobody, nobody) != 0)
            _exit(3);
        const std::string message = attempt();
        _exit(write(out[1], message.data(), message.size()) == ssize_t(message.size()) ? 0 : 4);
    }
    close(out[1]);
    std::string message;
    char buf[512];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) message.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    wait(&status);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? message : "child failed";
}

TEST(Connection, EachUnusableCatalogHasItsOwnMessageAndIsLeftAsItWas) {
    struct Case {
        const char* what;
        // "x…": that text; "CREATE…": another program's database; else the
        // template with these statements run on it as another program would.
        std::string content;
        mode_t catalogMode, folderMode;
        bool writeAhead, heldByAnother;
        std::string expected;  // with @ for the catalog path and # for its folder
    };
    const std::string notCatalog = "ファイル @ はこのプログラムのカタログではありません（表 AUTODEF がありません）。ファイルには手を加えていません。";
    const std::string readOnlyFolder = "データフォルダー # に書き込めないため、カタログ @ を使用できません。フォルダーを書き込みできるようにしてください。";
    const Case cases[] = {
        {"not a database", "x" + std::string(4096, 'x'), 0644, 0755, false, false,
         "カタログ @ はデータベースではありません: file is not a database"},
        {"empty file", "x", 0644, 0755, false, false, notCatalog},
        {"another program's database", "CREATE TABLE notes (id INTEGER, body TEXT); INSERT INTO notes VALUES (1, 'keep me')",
         0644, 0755, false, false, notCatalog},
        {"catalog without its versions table", "DROP TABLE FILEKANRI", 0644, 0755, false, false,
         "ファイル @ はこのプログラムのカタログではありません（表 FILEKANRI がありません）。ファイルには手を加えていません。"},
        {"locked by another program", "", 0644, 0755, false, true,
         "カタログ @ は他のプログラムが使用中のため開けません。しばらくしてからやり直してください。"},
        {"read-only catalog", "", 0444, 0777, false, false,
         "カタログ @ は読み取り専用のため使用できません。ファイルを書き込みできるようにしてください。"},
        {"read-only data folder", "", 0666, 0555, false, false, readOnlyFolder},
        {"read-only data folder, catalog in write-ahead mode", "", 0666, 0555, true, false, readOnlyFolder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDataFolder folder;
        const std::string catalog = folder / "filebkp.mdb";
        if (c.content.starts_with("x")) {
            test::WriteFile(catalog, c.content.substr(1));
        } else {
            if (!c.content.starts_with("CREATE")) std::filesystem::copy_file(folder / "bkpDEF.mdb", catalog);
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(catalog.c_str(), &db), SQLITE_OK);
            EXPECT_EQ(sqlite3_exec(db, c.content.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        if (c.writeAhead) Connection::openFile(catalog);  // switches it to write-ahead logging
        sqlite3* holder = nullptr;
        if (c.heldByAnother) {
            ASSERT_EQ(sqlite3_open(catalog.c_str(), &holder), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(holder, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; DELETE FROM KBNDEF WHERE 0", nullptr,
                                   nullptr, nullptr),
                      SQLITE_OK);
        }
        chmod(catalog.c_str(), c.catalogMode);
        chmod(folder.path().c_str(), c.folderMode);  // user nobody reaches the catalog
        const std::string before = test::ReadFile(catalog);
        std::string expected = c.expected;
        for (size_t at; (at = expected.find('@')) != std::string::npos;) expected.replace(at, 1, catalog);
        for (size_t at; (at = expected.find('#')) != std::string::npos;) expected.replace(at, 1, folder.path());
        EXPECT_EQ(OpeningMessage(catalog, c.folderMode != 0755), expected);
        EXPECT_EQ(test::ReadFile(catalog), before);
        // Nothing is made beside a file in rollback-journal mode either.
        EXPECT_TRUE(c.writeAhead || !std::filesystem::exists(catalog + "-wal"));
        if (holder) sqlite3_close(holder);
        chmod(folder.path().c_str(), 0755);
    }
}

TEST(Connection, RefusesUnknownProviderAndMissingFileNumbersRunsAndRollsBackUncommittedWork) {
    test::TempDataFolder folder;
    std::unique_ptr<Connection> db = Connection::openFile(folder / "bkpDEF.mdb");
    EXPECT_THROW(Connection::open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (folder / "bkpDEF.mdb") + ";"),
                 CatalogError);
    EXPECT_THROW(Connection::open("Data Source=" + (folder / "none.mdb") + ";"), CatalogError);
    EXPECT_FALSE(std::filesystem::exists(folder / "none.mdb"));
    EXPECT_NO_THROW(Connection::open("provider=sqlite;Data Source=" + (folder / "bkpDEF.mdb") + ";"));
    for (bool commit : {false, true}) {
        Transaction t(*db);
        db->prepare("INSERT INTO BKPNAME (BKPNO) VALUES (?1)").bind(1, commit ? 6 : 5).run();
        if (commit) t.commit();
    }
    // Run and directory numbers count from the AUTODEF row, which is added when missing.
    EXPECT_EQ(NextNumber(*db, "BKPNO"), 1);
    EXPECT_EQ(NextNumber(*db, "BKPNO"), 2);
    db->exec("DELETE FROM AUTODEF");
    EXPECT_EQ(NextNumber(*db, "DIRNO"), 1);
    EXPECT_EQ(NextNumber(*db, "BKPNO"), 1);
    EXPECT_EQ(test::Rows(*db, "SELECT (SELECT group_concat(BKPNO) FROM BKPNAME), count(*), BKPNO, DIRNO FROM AUTODEF"),
              (std::vector<test::Row>{{"6", "1", "1", "1"}}));
}

using test::Blanks;
using test::CatalogFolder;
using test::Insert;
using test::kFilekanriColumns;
using test::ReadFile;

// Bytes written out in hexadecimal, e.g. "92ca8fed".
std::string Hex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// A text field: the given bytes padded with blanks to the width.
std::string Field(const std::string& bytes, std::size_t width) { return bytes + Blanks(width - bytes.size()); }

// Fields are cut to their width and read back without trailing blanks and
// NULs; a blank field stays blank.
TEST(FitText, CutsAtTheWidthAndDropsAHalfCharacterOfEveryLeadByteRangeAndTrimTrailingUndoesThePadding) {
    EXPECT_EQ(TrimTrailing(std::string("ab \0 \0", 6)), "ab");
    EXPECT_EQ(TrimTrailing(Blanks(50)), Blanks(50));
    EXPECT_EQ(FitText("ab", 4), "ab  ");
    EXPECT_EQ(FitText("a" + Hex("b6"), 2), "a" + Hex("b6"));  // half-width kana is one byte
    // Both ends of both lead-byte ranges; trail bytes that are "\" or a
    // lead-byte value themselves must not start a character.
    for (std::string c : {"8140", "835c", "9f40", "9ffc", "e040", "eaa4", "fa5c", "fc4b", "fcfc"}) {
        const std::string ch = Hex(c);
        EXPECT_EQ(FitText("a" + ch, 3), "a" + ch) << c;                // fits exactly
        EXPECT_EQ(FitText("ab" + ch, 3), "ab ") << c;                  // the lead byte alone would remain: dropped
        EXPECT_EQ(FitText(ch + ch + ch, 5), ch + ch + " ") << c;       // the cut finds the character starts
    }
}

// Dates and times as the exported table files hold them: days since
// 1899-12-30, the time as the fraction of a day.
TEST(AutomationDates, ConvertBothWaysWithTheSameEpochAsOleAndRefuseWhatIsNoDateOrTime) {
    for (const auto& [day, number] : {std::pair<std::string, double>{"1899-12-30", 0}, {"1900-01-01", 2}, {"2003-04-05", 37716},
                                      {"2024-02-29", 45351}}) {
        EXPECT_EQ(DayToAutomation(day), number);
        EXPECT_EQ(AutomationToDay(number), day);
    }
    for (std::string t : {"00:00:00", "12:00:00", "13:05:09", "23:59:59"}) EXPECT_EQ(AutomationToTime(*TimeToAutomation(t)), t);
    EXPECT_EQ(TimeToAutomation("12:00:00"), 0.5);
    for (const char* bad : {"2023-02-29", "2003-4-5", "2003-04-05 ", "", "2003/04/05", "0099-12-31"})
        EXPECT_FALSE(DayToAutomation(bad)) << bad;
    for (const char* bad : {"24:00:00", "1:02:03", "12:60:00", "", "12:00"}) EXPECT_FALSE(TimeToAutomation(bad)) << bad;
    // Before 1899-12-30 the whole part is the day and the fraction the time;
    // rounding up to midnight carries into the next day.
    for (const auto& [number, day, time] : {std::tuple<double, const char*, const char*>{-1.25, "1899-12-29", "06:00:00"},
                                            {37715.9999999, "2003-04-05", "00:00:00"}}) {
        EXPECT_EQ(AutomationToDay(number), day);
        EXPECT_EQ(AutomationToTime(number), time);
    }
    EXPECT_FALSE(AutomationToDay(std::nan("")));
    EXPECT_FALSE(AutomationToTime(-1e9));
}

// The 1.03 catalog with one row in each table (two runs), values chosen to
// exercise Japanese text, a value of exactly 255 bytes, longer values, a
// double-byte character at the cut, null texts, numbers and dates, and
// negative numbers.
TEST(ExportRecords, OneRowOfEachTableByteForByte) {
    CatalogFolder c;
    c.db().exec("UPDATE AUTODEF SET BKPNO = 12, DIRNO = 3, BIKOU = '通常'");
    Insert(c.db(), "BKPDIR", "DIRNO,DIR,BKPDIR,KBN,BIKOU,ABKP,CHK1,CHK2",
           {"1", "/home/データ", "/" + Repeat("あ", 127), "1", std::nullopt, "1", "1", "01"});
    Insert(c.db(), "BKPNAME", "BKPNO,BKPNAME,KBN,DAY1,TIME1", {"7", "バックアップ１", "1", "2003-04-05", "13:05:09"});
    Insert(c.db(), "BKPNAME", "BKPNO,BKPNAME,KBN,DAY1,TIME1", {"8", "x", "1", std::nullopt, "08:00:00"});
    Insert(c.db(), "FILEKANRI", kFilekanriColumns + ",ano",
           {"7", "1", "2", std::string(300, 'd'), std::string(254, 'x') + "あ", "-123456789", "30000000",
            "2003年4月5日(土)", "13時5分9秒", std::nullopt, "1", std::nullopt, "", "2147483647", " ", "-1", "0", "1.0.0.1",
            "65536", std::nullopt, "0", std::nullopt, "1", std::nullopt, "42"});
    Insert(c.db(), "SUBDIR", "CHK,FULLNAME,SUBDIR", {"0", "A/サブ", "サブ"});
    c.makeVersion("1.03");
    ExportedCatalog kept = ExportCatalog(c.state, "1.03");
    EXPECT_EQ(kept.versionRecord, "V1.03");

    EXPECT_EQ(ReadFile(c.folder / "AUTODEF.DAT"), Hex("0c000000") + Hex("03000000") + Field(Hex("92ca8fed"), 50));

    std::string bkpdir = Hex("01000000") + Field("/home/" + Hex("8366815b835e"), 255) + "/" + Repeat(Hex("82a0"), 127) +
                         Field("1", 50) + Blanks(50) + Field("1", 50) + Field("1", 50) + Field("01", 50);
    ASSERT_EQ(bkpdir.size(), 764u);
    EXPECT_EQ(ReadFile(c.folder / "BKPDIR.DAT"), bkpdir);

    // A null date travels as the no-date marker (a NaN).
    std::string bkpname = Hex("07000000") + Hex("00000000806ae240") + Hex("5d6e7f90a172e13f") +
                          Field(Hex("836f8362834e8341836283768250"), 50) + Field("1", 50) + Hex("08000000") +
                          Hex("000000000000f87f") + Hex("555555555555d53f") + Field("x", 50) + Field("1", 50);
    ASSERT_EQ(bkpname.size(), 240u);
    EXPECT_EQ(ReadFile(c.folder / "BKPNAME.DAT"), bkpname);

    std::string filekanri = Hex("07000000") + Hex("01000000") + Hex("02000000") + std::string(255, 'd') +
                            std::string(254, 'x') + " " + Hex("eb32a4f8") + Hex("80c3c901") +
                            Field(Hex("32303033944e348c8e3593fa28937929"), 50) + Field(Hex("31338e9e3595aa399562"), 50) +
                            Hex("00000000") + Hex("01000000") + Blanks(50) + Blanks(50) + Hex("ffffff7f") + Blanks(50) +
                            Hex("ffffffff") + Hex("00000000") + Field("1.0.0.1", 50) + Hex("00000100") + Hex("00000000") +
                            Field("0", 50) + Blanks(50) + Field("1", 50) + Blanks(50) + Hex("2a000000");
    ASSERT_EQ(filekanri.size(), 1062u);
    EXPECT_EQ(ReadFile(c.folder / "FILEKANRI.DAT"), filekanri);

    std::string subdir = Field("0", 50) + Field("A/" + Hex("83548375"), 255) + Field(Hex("83548375"), 255);
    ASSERT_EQ(subdir.size(), 560u);
    EXPECT_EQ(ReadFile(c.folder / "SUBDIR.DAT"), subdir);

    EXPECT_FALSE(c.exists("KBNDEF.DAT"));  // the category names are never exported
}

}  // namespace
}  // namespace tessel
