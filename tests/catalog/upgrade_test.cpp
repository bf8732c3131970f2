// The catalog's table files and its upgrade: the run and version records
// byte for byte as the export writes them, every row carried over, every
// failure leaving the old catalog in place, a kill at any point finished or
// redone at the next start; and its opening: each unusable file refused with
// its own message, untouched.
#include "app/catalog_upgrade.h"

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <tuple>

#include "catalog/catalog_transfer.h"
#include "catalog/connection.h"
#include "catalog/destination_tokens.h"
#include "catalog/scan_rules.h"
#include "app/startup.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace tessel {
namespace {

using test::ReadFile;
using test::WriteFile;

using Cell = std::optional<std::string>;
using Row = std::vector<Cell>;

std::string Blanks(std::size_t n) { return std::string(n, ' '); }

// A data folder with an open catalog made from the template, as start-up
// leaves it.
struct CatalogFolder {
    test::TempDataFolder folder;
    test::RecordingUi ui;
    test::FakeSystem system;
    SharedState state{ui, system};

    CatalogFolder() {
        std::filesystem::copy_file(folder / "bkpDEF.mdb", folder / "filebkp.mdb");
        Open(state, folder.path());
    }
    static void Open(SharedState& s, const std::string& dataFolder) {
        s.dataFolder = dataFolder;
        s.providerClause = "Provider=SQLite;";
        s.catalog = Connection::open(BuildConnectionString(s.providerClause, dataFolder));
    }
    Connection& db() { return state.db(); }

    // Turns the catalog into one of an older version: "1.02" has no `ano`
    // column; "" has no version table at all.
    void makeVersion(const std::string& version) {
        if (version <= "1.02") db().exec("ALTER TABLE FILEKANRI DROP COLUMN ano");
        if (version.empty()) {
            db().exec("DROP TABLE DBVERSION");
        } else {
            db().prepare("UPDATE DBVERSION SET VNUM = ?1").bind(1, "V" + version).run();
        }
        state.catalogVersion = version;
    }
    bool exists(const std::string& name) const { return std::filesystem::exists(folder / name); }
};

// Every row of a query, each column as text (numbers in decimal), nullopt for NULL.
std::vector<Row> Rows(Connection& db, const std::string& sql) {
    std::vector<Row> rows;
    Statement s = db.prepare(sql);
    int n = sqlite3_column_count(s.raw());
    while (s.step()) {
        Row r;
        for (int c = 0; c < n; ++c) r.push_back(s.optText(c));
        rows.push_back(std::move(r));
    }
    return rows;
}

// Inserts one row; the values are bound in order.
void Insert(Connection& db, const std::string& table, const std::string& columns, const Row& values) {
    std::string marks;
    for (std::size_t i = 0; i < values.size(); ++i) marks += (i ? ",?" : "?") + std::to_string(i + 1);
    Statement s = db.prepare("INSERT INTO " + table + " (" + columns + ") VALUES (" + marks + ")");
    for (std::size_t i = 0; i < values.size(); ++i) s.bind(static_cast<int>(i + 1), values[i]);
    s.run();
}

const std::string kFilekanriColumns =
    "BKPNO,DIRNO,LVL,DIR,FILENM,FCRDATE,FCRTIME,FCRDAYD,FCRTIMED,FUPDATE,FUPTIME,FUPDAYD,FUPTIMED,FSIZE,"
    "FVERNO,FMVER,FLVER,PVERNO,PMVER,PLVER,KBN1,KBN2,CHK1,CHK2";

// Bytes written out in hexadecimal, e.g. "92ca8fed".
std::string Hex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// A text field: the given bytes padded with blanks to the width.
std::string Field(const std::string& bytes, std::size_t width) { return bytes + Blanks(width - bytes.size()); }

// The run and version records of a 1.03 catalog (two runs), values chosen to
// exercise Japanese text, longer values, a double-byte character at the cut,
// null texts, numbers and dates, and negative numbers. The other tables'
// records hold the same kinds of fields; the upgrade tests carry them over.
TEST(ExportRecords, RunAndVersionRecordsByteForByte) {
    CatalogFolder c;
    Insert(c.db(), "BKPNAME", "BKPNO,BKPNAME,KBN,DAY1,TIME1", {"7", "バックアップ１", "1", "2003-04-05", "13:05:09"});
    Insert(c.db(), "BKPNAME", "BKPNO,BKPNAME,KBN,DAY1,TIME1", {"8", "x", "1", std::nullopt, "08:00:00"});
    Insert(c.db(), "FILEKANRI", kFilekanriColumns + ",ano",
           {"7", "1", "2", std::string(300, 'd'), std::string(254, 'x') + "あ", "-123456789", "30000000",
            "2003年4月5日(土)", "13時5分9秒", std::nullopt, "1", std::nullopt, "", "2147483647", " ", "-1", "0", "1.0.0.1",
            "65536", std::nullopt, "0", std::nullopt, "1", std::nullopt, "42"});
    c.makeVersion("1.03");
    EXPECT_EQ(ExportCatalog(c.state.db(), c.state.dataFolder, "1.03").versionRecord, "V1.03");

    // A null date travels as the no-date marker (a NaN).
    std::string bkpname = Hex("07000000") + Hex("00000000806ae240") + Hex("5d6e7f90a172e13f") +
                          Field(Hex("836f8362834e8341836283768250"), 50) + Field("1", 50) + Hex("08000000") +
                          Hex("000000000000f87f") + Hex("555555555555d53f") + Field("x", 50) + Field("1", 50);
    EXPECT_EQ(ReadFile(c.folder / "BKPNAME.DAT"), bkpname);

    std::string filekanri = Hex("07000000") + Hex("01000000") + Hex("02000000") + std::string(255, 'd') +
                            std::string(254, 'x') + " " + Hex("eb32a4f8") + Hex("80c3c901") +
                            Field(Hex("32303033944e348c8e3593fa28937929"), 50) + Field(Hex("31338e9e3595aa399562"), 50) +
                            Hex("00000000") + Hex("01000000") + Blanks(50) + Blanks(50) + Hex("ffffff7f") + Blanks(50) +
                            Hex("ffffffff") + Hex("00000000") + Field("1.0.0.1", 50) + Hex("00000100") + Hex("00000000") +
                            Field("0", 50) + Blanks(50) + Field("1", 50) + Blanks(50) + Hex("2a000000");
    EXPECT_EQ(ReadFile(c.folder / "FILEKANRI.DAT"), filekanri);
    EXPECT_FALSE(c.exists("KBNDEF.DAT"));  // the category names are never exported
}

const Cell N = std::nullopt;

// A catalog of an older version holding a few rows in every table.
struct OldCatalog : CatalogFolder {
    explicit OldCatalog(const std::string& version) {
        db().exec("UPDATE AUTODEF SET BKPNO = 5, DIRNO = 2, BIKOU = 'メモ'");
        const std::string bkpdir = "DIRNO,DIR,BKPDIR,KBN,BIKOU,ABKP,CHK1,CHK2";
        Insert(db(), "BKPDIR", bkpdir, {"0", "/backup", N, "0", "PREFIX", "1", N, N});
        Insert(db(), "BKPDIR", bkpdir, {"1", "/home/u/データ", "/backup/データ", "1", "", "1", "1", "01"});
        Insert(db(), "BKPDIR", bkpdir, {"2", "/srv/x", "/backup/x", "3", "備考 ", "9", "0", "00"});
        const std::string bkpname = "BKPNO,BKPNAME,KBN,DAY1,TIME1";
        Insert(db(), "BKPNAME", bkpname, {"0", "初期", "1", "2003-04-05", "13:05:09"});
        Insert(db(), "BKPNAME", bkpname, {"5", "自動バックアップ", "1", "2024-02-29", "23:59:59"});
        Insert(db(), "BKPNAME", bkpname, {"3", "日付なし", "9", N, N});
        const std::string fk = kFilekanriColumns + ",ano";
        Insert(db(), "FILEKANRI", fk,
               {"0", "1", "0", "/home/u/データ/", "a.txt", "-5", "7", "2003年4月5日(土)", "13時5分9秒", "-5", "7",
                "2003年4月5日(土)", "13時5分9秒", "100", " ", "0", "0", " ", "0", "0", "0", N, "0", N, "10"});
        Insert(db(), "FILEKANRI", fk,
               {"5", "1", "1", "/home/u/データ/", "a.txt", "-5", "9", "2003年4月5日(土)", "13時5分9秒", "-4", "-2147483648",
                "2024年2月29日(木)", "23時59分59秒", "2147483647", "1.2.3.4", "65537", "262148", "1.2.0.0", "65538", "0",
                "7", N, "1", N, "20"});
        Insert(db(), "FILEKANRI", fk,
               {"5", "2", "1", "/srv/x/sub/", "O'Neil.txt", N, N, N, N, N, N, N, N, N, N, N, N, N, N, N, "9", "k", "1", "c",
                N});
        const std::string sub = "CHK,FULLNAME,SUBDIR";
        Insert(db(), "SUBDIR", sub, {"9", "sub", "sub"});
        Insert(db(), "SUBDIR", sub, {"0", "sub/深い", "深い"});
        Insert(db(), "RSTRLIST", "TEXT", {"前回の復元"});
        makeVersion(version);
    }

    // Everything the catalog holds, table by table, in the order rows were added.
    std::vector<std::vector<Row>> contents() {
        std::vector<std::vector<Row>> all;
        for (const std::string& sql : std::vector<std::string>{"SELECT BKPNO,DIRNO,BIKOU FROM AUTODEF ORDER BY rowid",
                                "SELECT DIRNO,DIR,BKPDIR,KBN,BIKOU,ABKP,CHK1,CHK2 FROM BKPDIR ORDER BY rowid",
                                "SELECT BKPNO,BKPNAME,KBN,DAY1,TIME1 FROM BKPNAME ORDER BY rowid",
                                std::string("SELECT ") + kFilekanriColumns + " FROM FILEKANRI ORDER BY rowid",
                                "SELECT CHK,FULLNAME,SUBDIR FROM SUBDIR ORDER BY rowid",
                                "SELECT KBN,ID,NAIYOU FROM KBNDEF ORDER BY KBN,ID",
                                "SELECT TEXT FROM RSTRLIST"})
            all.push_back(Rows(db(), sql));
        return all;
    }
    std::vector<Row> ano() { return Rows(db(), "SELECT ano FROM FILEKANRI ORDER BY rowid"); }
    std::vector<Row> versions() { return Rows(db(), "SELECT VNUM FROM DBVERSION"); }
};

// What the upgraded catalog holds: every row as before, except that null or
// empty texts are blanks of the field's width, null numbers 0, trailing
// blanks gone, the AUTODEF remark at its full width, SUBDIR carried from
// "1.03" on, the categories the template's, and the restore report (not
// carried) empty.
std::vector<std::vector<Row>> Upgraded(bool withSubdir, const std::vector<Row>& categories) {
    const std::string b50 = Blanks(50), b255 = Blanks(255);
    return {
        {{"5", "2", "メモ" + Blanks(46)}},
        {{"0", "/backup", b255, "0", "PREFIX", "1", b50, b50},
         {"1", "/home/u/データ", "/backup/データ", "1", b50, "1", "1", "01"},
         {"2", "/srv/x", "/backup/x", "3", "備考", "9", "0", "00"}},
        {{"0", "初期", "1", "2003-04-05", "13:05:09"},
         {"5", "自動バックアップ", "1", "2024-02-29", "23:59:59"},
         {"3", "日付なし", "9", N, N}},
        {{"0", "1", "0", "/home/u/データ/", "a.txt", "-5", "7", "2003年4月5日(土)", "13時5分9秒", "-5", "7",
          "2003年4月5日(土)", "13時5分9秒", "100", b50, "0", "0", b50, "0", "0", "0", b50, "0", b50},
         {"5", "1", "1", "/home/u/データ/", "a.txt", "-5", "9", "2003年4月5日(土)", "13時5分9秒", "-4", "-2147483648",
          "2024年2月29日(木)", "23時59分59秒", "2147483647", "1.2.3.4", "65537", "262148", "1.2.0.0", "65538", "0",
          "7", b50, "1", b50},
         {"5", "2", "1", "/srv/x/sub/", "O'Neil.txt", "0", "0", b50, b50, "0", "0", b50, b50, "0", b50, "0", "0", b50,
          "0", "0", "9", "k", "1", "c"}},
        withSubdir ? std::vector<Row>{{"9", "sub", "sub"}, {"0", "sub/深い", "深い"}} : std::vector<Row>{},
        categories,
        {},
    };
}

void ExpectNoLeftovers(const CatalogFolder& c) {
    for (const char* name : {"filebkp-upgrade.mdb", "filebkp-upgrade.mdb-wal", "filebkp-old.mdb", "AUTODEF.DAT",
                             "BKPDIR.DAT", "BKPNAME.DAT", "FILEKANRI.DAT", "SUBDIR.DAT"})
        EXPECT_FALSE(c.exists(name)) << name;
}

// Older catalogs keep every row; a current or newer one only gets its version record rewritten.
TEST(Upgrade, OlderCatalogsKeepEveryRowAndNewerOnesAreLeft) {
    const std::vector<Row> running = {{"1"}, {"2"}, {"3"}}, kept = {{"10"}, {"20"}, {"0"}};
    struct Case {
        std::string version;  // "" has no version table
        bool withSubdir;
        std::vector<Row> ano;
        bool current = false;
    };
    for (const Case& k : {Case{"1.02", false, running}, Case{"", false, running}, Case{"1.03", true, kept},
                          Case{"1.05", true, {{"10"}, {"20"}, {N}}, true}}) {
        SCOPED_TRACE(k.version);
        OldCatalog c(k.version);
        if (k.version == "1.02") {  // a catalog spelt in other case ends under its usual name
            c.state.catalog.reset();
            std::filesystem::rename(c.folder / "filebkp.mdb", c.folder / "FILEBKP.MDB");
            c.state.catalog = Connection::openFile(c.folder / "FILEBKP.MDB");
        }
        if (k.version == "1.03") c.db().exec("INSERT INTO DBVERSION (VNUM) VALUES ('V1.01')");  // several records end as one
        // The scan choices have no table file: they come across as they are,
        // a pattern that Shift JIS cannot hold and one that is not UTF-8 included.
        const std::vector<std::string> patterns{"node_modules/", "!\xE2\x99\xA5.txt", "caf\xC3\x28/**"};
        WriteScanPatterns(c.db(), 0, {"*.tmp"});
        WriteScanPatterns(c.db(), 2, patterns);
        WriteScanOptions(c.db(), 2, true, true);
        SaveDestinationToken(c.db(), "/backup/x", {"new", "old"});  // and so do the write tokens
        const std::vector<std::vector<Row>> before = c.contents();
        ASSERT_TRUE(UpgradeCatalog(c.state));
        EXPECT_EQ(ReadScanChoices(c.db(), 0).patterns, std::vector<std::string>{"*.tmp"});
        const ScanChoices kept = ReadScanChoices(c.db(), 2);
        EXPECT_EQ(std::make_tuple(kept.patterns, kept.hiddenFolders, kept.cacheFolders), std::make_tuple(patterns, true, true));
        const std::optional<DestinationToken> token = ReadDestinationToken(c.db(), "/backup/x");
        EXPECT_EQ(token ? token->current + " " + token->previous : "none", "new old");
        EXPECT_EQ(c.ui.messages, (std::vector<std::string>{kUpgradeStarting, kUpgradeFinished}));
        EXPECT_EQ(c.contents(), k.current ? before : Upgraded(k.withSubdir, before[5]));  // newer: nulls are still nulls
        EXPECT_EQ(c.ano(), k.ano);
        EXPECT_EQ(c.versions(), (std::vector<Row>{{"V1.04"}}));
        EXPECT_EQ(c.state.catalog->path(), c.folder / "filebkp.mdb");
        EXPECT_FALSE(c.exists("FILEBKP.MDB"));
        ExpectNoLeftovers(c);
    }
}

TEST(Upgrade, PlacedCategoryFileAddsAndRenamesCategoriesAndTheCountersSurviveATemplateWithoutThem) {
    OldCatalog c("1.03");
    Connection::openFile(c.folder / "bkpDEF.mdb")->exec("DELETE FROM AUTODEF");
    auto record = [](char group, const std::string& id, const std::string& cp932Name) {
        return std::string(1, group) + std::string(3, '\0') + id + Blanks(50 - id.size()) + cp932Name + Blanks(50 - cp932Name.size());
    };
    // 1 "5" "テスト" is new; 2 "0" takes the name "サブ".
    WriteFile(c.folder / "kbndef.dat", record(1, "5", "\x83\x65\x83\x58\x83\x67") + record(2, "0", "\x83\x54\x83\x75"));
    std::vector<std::vector<Row>> expected = Upgraded(true, c.contents()[5]);
    ASSERT_TRUE(UpgradeCatalog(c.state));
    std::vector<Row>& categories = expected[5];
    categories.insert(categories.begin() + 1, Row{"1", "5", "テスト"});
    categories[3] = Row{"2", "0", "サブ"};
    EXPECT_EQ(c.contents(), expected);
    EXPECT_FALSE(c.exists("kbndef.dat"));
}

// A catalog spoilt before the upgrade, or a table file as the export left
// it, changed before it is read back.
struct Damage {
    std::function<void(OldCatalog&)> spoil;
    const char* file;
    std::function<std::string(std::string)> change;
    const char* reason;  // in the failure message
};

const Damage kDamages[] = {
    {nullptr, "FILEKANRI.DAT", [](std::string b) { return b.substr(0, b.size() - 1); },
     "/FILEKANRI.DAT の長さ 3185 バイトがレコード長 1062 バイトの倍数ではありません"},
    {nullptr, "BKPNAME.DAT", [](std::string b) { return b.replace(140, 1, "\xFF"); },
     "/BKPNAME.DAT の 2 件目のレコード (BKPNAME): シフトJIS (コードページ 932) の文字として読めないバイトがあります"},
    {nullptr, "BKPNAME.DAT", [](std::string b) { return b.replace(4, 8, std::string(8, '\xFF')); },
     "/BKPNAME.DAT の 1 件目のレコード (DAY1): 日付として読めない値です"},
    {nullptr, "BKPDIR.DAT", [](std::string b) { return b + b.substr(764, 764); }, "UNIQUE constraint failed: BKPDIR.DIRNO"},
    {[](OldCatalog& c) { c.db().exec("UPDATE FILEKANRI SET FILENM = 'café.txt' WHERE ano = 20"); }, nullptr, nullptr,
     "カタログの FILEKANRI の 2 行目の FILENM の値 \"café.txt\" にはシフトJIS"},
    {[](OldCatalog& c) { std::filesystem::remove(c.folder / "bkpDEF.mdb"); }, nullptr, nullptr, "カタログのひな形が見つかりません"},
};

// ---- failures: the old catalog stays in place, open and unchanged
TEST(UpgradeFailure, DamagedTableFilesTextShiftJisCannotHoldOrAMissingTemplateFailClearlyAndKeepTheOldCatalog) {
    for (const Damage& d : kDamages) {
        SCOPED_TRACE(d.reason);
        OldCatalog c("1.03");
        if (d.spoil) d.spoil(c);
        std::vector<std::vector<Row>> before = c.contents();
        EXPECT_FALSE(UpgradeCatalog(c.state, [&](std::string_view point) {
            const std::string file = d.file ? c.folder / d.file : "";
            if (d.file && point == "exported") WriteFile(file, d.change(c.exists(d.file) ? ReadFile(file) : ""));
        }));
        ASSERT_EQ(c.ui.messages.size(), 2u);
        const std::string& failure = c.ui.messages[1];
        std::string head = kUpgradeFailed + "\n元のカタログ " + c.folder / "filebkp.mdb" + " はそのまま残っています。\n";
        EXPECT_EQ(failure.substr(0, head.size()), head);
        EXPECT_NE(failure.find(d.reason), std::string::npos) << failure;
        ASSERT_TRUE(c.state.catalog);
        EXPECT_EQ(c.contents(), before);
        EXPECT_EQ(c.versions(), (std::vector<Row>{{"V1.03"}}));
        EXPECT_FALSE(c.exists("filebkp-upgrade.mdb"));
    }
}

// ---- a kill at any point, then a new start, loses no row

TEST(KilledUpgrade, NextStartFinishesOrRedoesItAtEveryPoint) {
    for (const std::string point : {"exported", "AUTODEF 1", "BKPDIR 2", "FILEKANRI 2", "SUBDIR 1", "built", "kept", "replaced"}) {
        SCOPED_TRACE(point);
        OldCatalog c("1.03");
        const std::vector<std::vector<Row>> upgraded = Upgraded(true, c.contents()[5]);
        c.state.catalog.reset();  // the child opens its own connection
        const std::string folder = c.folder.path();
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            SharedState s{c.ui, c.system};
            CatalogFolder::Open(s, folder);
            s.catalogVersion = "1.03";
            UpgradeCatalog(s, [&](std::string_view p) {
                if (p == point) raise(SIGKILL);
            });
            _exit(3);  // the point was never reached
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

        test::TempDir runtime;
        InstanceLock lock{runtime / "tessel.lock"};
        StartupOutcome outcome = RunStartup(c.state, lock, folder);
        if (point == "replaced") {
            EXPECT_EQ(outcome, StartupOutcome::Ready);  // the new catalog was already in place
        } else {
            ASSERT_EQ(outcome, StartupOutcome::NeedsUpgrade);
            ASSERT_TRUE(UpgradeCatalog(c.state));
            ExpectNoLeftovers(c);
        }
        EXPECT_EQ(c.contents(), upgraded);
        EXPECT_EQ(c.ano(), (std::vector<Row>{{"10"}, {"20"}, {"0"}}));
        EXPECT_EQ(c.versions(), (std::vector<Row>{{"V1.04"}}));
    }
}

// ---- opening: an unusable catalog is refused and left as it was

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
        // "x…": that text; else the template with these statements run on it
        // as another program would.
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
            std::filesystem::copy_file(folder / "bkpDEF.mdb", catalog);
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

TEST(Connection, RefusesUnknownProviderAndMissingFileAndRollsBackUncommittedWork) {
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
    EXPECT_EQ(test::Column(*db, "SELECT BKPNO FROM BKPNAME"), std::vector<std::string>{"6"});
}

}  // namespace
}  // namespace tessel
