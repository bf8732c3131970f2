// Which files get a new version, at which level and with which code.
#include <gtest/gtest.h>

#include <cerrno>
#include <tuple>

#include "backup/catalog_queries.h"
#include "support/backup_fixture.h"
#include "platform/file_version.h"
#include "support/pe_image.h"

namespace tessel::test {
namespace {

constexpr std::int64_t kBase = 1700000000;  // 2023-11-14

class Versions : public ::testing::Test {
protected:
    void write(const std::string& rel, const std::string& text, std::int64_t mtime) {
        WriteFile(f.src(rel), text);
        SetMtime(f.src(rel), mtime);
    }
    void setKbn1(const std::string& name, const std::string& code) {
        f.state.db().prepare("UPDATE FILEKANRI SET KBN1 = ?1 WHERE FILENM = ?2 AND CHK1 = '1'").bind(1, code).bind(2, name).run();
    }
    // The rows of one file, oldest first, as "level code latest" triples.
    std::string history(const std::string& name, const std::string& relDir = "") {
        std::string out;
        for (const auto& r : f.rowsOf(name, relDir))
            out += (out.empty() ? "" : ", ") + std::to_string(r.lvl) + " " + r.kbn1 + " " + r.chk1;
        return out;
    }
    BackupFixture f;
};

TEST_F(Versions, FirstBackupRecordsEveryFileWithItsColumnsAndOnlyChangesAfterwards) {
    write("a.txt", "hello", kBase);
    write("touched.txt", "t", kBase);
    write("grown.txt", "g", kBase);
    f.run("1", "1", 0);
    const VersionRecord r = f.rowsOf("a.txt").at(0);
    FileTimes t = ReadFileTimes(f.src("a.txt"));
    EXPECT_EQ(std::make_tuple(r.bkpno, r.dirno, r.lvl, r.dir, r.kbn1, r.chk1, r.fsize),
              std::make_tuple(0, 1, 0, f.source + "/", "0", "1", 5));
    EXPECT_EQ(std::make_tuple(r.fupdate, r.fuptime, r.fupdayd, r.fuptimed, r.fcrdayd, r.fverno, r.fmver),
              std::make_tuple(t.lastWrite.high, t.lastWrite.low, FormatFileTime(t.lastWrite).date,
                              FormatFileTime(t.lastWrite).time, FormatFileTime(t.creation).date, " ", 0));
    const BackupResult unchanged = f.run("9", "1", 1);
    EXPECT_EQ(std::make_tuple(unchanged.filesExamined, unchanged.versionsRecorded), std::make_tuple(3, 0));
    EXPECT_EQ(f.rows().size(), 3u) << "nothing changed, nothing recorded";

    SetMtime(f.src("touched.txt"), kBase + 1);  // same content, new time
    write("grown.txt", "gg", kBase);            // new size, same time
    f.run("9", "1", 2);
    EXPECT_EQ(history("touched.txt"), "0 0 0, 1 0 1");
    EXPECT_EQ(history("grown.txt"), "0 0 0, 1 0 1");
    EXPECT_EQ(history("a.txt"), "0 0 1");
    EXPECT_TRUE(f.ui.messages.empty());

    write("b.txt", "b", kBase);
    f.run("9", "1", 7);
    EXPECT_EQ(history("b.txt"), "1 0 1");
}

TEST_F(Versions, GoingBackInTimeWarnsOnlyPastOneHighHalfStep) {
    write("small.txt", "s", kBase);
    write("big.txt", "b", kBase);
    f.run("9", "1", 1);
    const std::string recordedDate = *f.rowsOf("big.txt")[0].fupdayd;
    SetMtime(f.src("small.txt"), kBase - 60);        // one minute back
    SetMtime(f.src("big.txt"), kBase - 86400 * 30);  // a month back
    const BackupResult older = f.run("9", "1", 2);
    EXPECT_EQ(std::make_tuple(older.failures, older.warnings, older.versionsRecorded), std::make_tuple(0, 1, 2));
    EXPECT_EQ(history("small.txt"), "1 0 0, 2 0 1");
    EXPECT_EQ(history("big.txt"), "1 0 0, 2 7 1");
    std::string nowDate = FormatFileTime(ReadFileTimes(f.src("big.txt")).lastWrite).date;
    EXPECT_EQ(f.ui.messages, std::vector<std::string>{"ファイルが古いようです！ FILE = big.txt\n日付 = " + recordedDate + " - " + nowDate +
                                                      "\nﾌｧｲﾙﾊﾞｰｼﾞｮﾝ =  - \nﾌﾟﾛｸﾞﾗﾑﾊﾞｰｼﾞｮﾝ =  -  "});
    EXPECT_EQ(ReadFile(f.dst("V00002/big.txt")), "b");

    f.ui.messages.clear();
    f.options.silent = true;
    SetMtime(f.src("big.txt"), kBase - 86400 * 60);
    f.run("9", "1", 3);
    EXPECT_EQ(f.rowsOf("big.txt").back().kbn1, "7");
    EXPECT_TRUE(f.ui.messages.empty());
}

TEST_F(Versions, RowsWithoutACopyAreRecordedAgainExcludedFilesNeverAndRowsWithoutTheFinalSeparatorAreFound) {
    for (std::string name : {"failed0.txt", "nobackup.txt", "excluded.txt"}) write(name, "f", kBase);
    f.run("1", "1", 0);
    setKbn1("failed0.txt", "9");
    setKbn1("nobackup.txt", "2");
    setKbn1("excluded.txt", "8");
    f.run("9", "9", 3);  // information-only runs never re-record
    EXPECT_EQ(f.rows().size(), 3u);
    write("excluded.txt", "changed", kBase + 99);
    f.run("9", "1", 4);
    EXPECT_EQ(history("failed0.txt"), "0 9 0, 1 0 1");
    EXPECT_EQ(ReadFile(f.dst("V00001/failed0.txt")), "f");
    EXPECT_EQ(history("nobackup.txt"), "0 2 1");
    EXPECT_EQ(history("excluded.txt"), "0 8 1");

    // Rows whose directory lacks the final separator (older catalogs) are found too, also from a source named with one.
    f.state.db().prepare("UPDATE FILEKANRI SET DIR = ?1, LVL = 5 WHERE FILENM = 'excluded.txt'").bind(1, f.source).run();
    setKbn1("excluded.txt", "0");
    write("excluded.txt", "again", kBase + 100);
    f.run("9", "1", 5);
    EXPECT_EQ(history("excluded.txt"), "6 0 1");
    EXPECT_EQ(f.rows().at(0).chk1, "0");  // the first excluded.txt row
    f.source += "/";
    f.run("9", "1", 6);
    EXPECT_EQ(f.rows().size(), 5u);
}

// An excluded file ("8") gets no row, readable or not.
TEST_F(Versions, UnreadableEntryIsReportedAndRecordedWithoutColumnsUnlessExcluded) {
    write("known.txt", "k", kBase);
    write("excluded.txt", "x", kBase);
    f.run("1", "1", 0);
    setKbn1("excluded.txt", "8");
    write("new.txt", "n", kBase);
    {
        ScopedFileFault fault([&](const std::string& path, FileAccess access) {
            return access == FileAccess::kReadEntry && path.find("/src/") != std::string::npos ? EACCES : 0;
        });
        EXPECT_EQ(f.run("9", "1", 1).failures, 3);
    }
    std::vector<std::string> said;
    for (const char* name : {"excluded.txt", "known.txt", "new.txt"})
        said.push_back(" FILE 更新日付情報を取得できません。\n ファイルが使用中かもしれません　FILE=" + f.src(name));
    EXPECT_EQ(f.ui.messages, said);
    EXPECT_EQ(history("excluded.txt"), "0 8 1");
    EXPECT_EQ(history("known.txt"), "0 0 0, 1 9 1");
    EXPECT_EQ(history("new.txt"), "1 0 1");  // a new file is stored: its contents can be read
    for (const auto& r : {f.rowsOf("known.txt").back(), f.rowsOf("new.txt").back()})
        EXPECT_FALSE(r.fupdate || r.fsize || r.fverno) << r.filenm;
    f.ui.messages.clear();
    f.run("9", "1", 2);
    EXPECT_EQ(f.rowsOf("new.txt").size(), 2u);
    EXPECT_EQ(f.rowsOf("known.txt").size(), 3u);
    EXPECT_EQ(history("excluded.txt"), "0 8 1");
    EXPECT_TRUE(f.ui.messages.empty());
}

// Same size and time throughout: only the PE version numbers tell the versions apart.
TEST_F(Versions, PeFileVersionNumbersAloneMakeANewVersionOrAnOlderOne) {
    if (!HaveMingw()) GTEST_SKIP() << "mingw-w64 binutils are not installed";
    TempDir build;
    const std::string image = ReadFile(BuildPe(build, "app", kVersionedRc));
    const std::uint32_t p = 0xFFFF0000u, q = (40000u << 16) | 7u;
    struct Step {
        const char* what;
        std::uint32_t fileHigh, fileLow, productHigh, productLow;
        std::string kbn1;  // empty: no new version
    };
    const Step steps[] = {
        {"first", 0x00010002, 0x00030004, p, q, "0"},
        {"unchanged", 0x00010002, 0x00030004, p, q, ""},
        {"file low number up", 0x00010002, 0x00030005, p, q, "0"},
        {"product low number up", 0x00010002, 0x00030005, p, q + 1, "0"},
        {"file low number down", 0x00010002, 0x00030004, p, q + 1, "7"},
        {"file high number up, low down", 0x00010003, 0, p, q + 1, "0"},
        {"product low number down", 0x00010003, 0, p, q, "7"},
        {"product high number up, low down", 0x00010003, 0, p + 1, 0, "0"},
        {"product high number down", 0x00010003, 0, p, 0x7FFFFFFF, "7"},
        {"file high number down", 0x00010002, 0x7FFFFFFF, p, 0x7FFFFFFF, "7"},
    };
    std::size_t versions = 0;
    for (int i = 0; i < static_cast<int>(std::size(steps)); ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE(s.what);
        const std::string bytes = WithVersion(image, s.fileHigh, s.fileLow, s.productHigh, s.productLow);
        write("app.exe", bytes, kBase);
        f.ui.messages.clear();
        f.run("9", "1", i + 1);
        auto rows = f.rowsOf("app.exe");
        versions += s.kbn1.empty() ? 0 : 1;
        ASSERT_EQ(rows.size(), versions);
        if (s.kbn1.empty()) continue;
        const VersionRecord& r = rows.back();
        const std::string fileText = VersionText(s.fileHigh, s.fileLow), productText = VersionText(s.productHigh, s.productLow);
        EXPECT_EQ(std::make_tuple(r.kbn1, r.fverno, r.pverno, r.fmver),
                  std::make_tuple(s.kbn1, fileText, productText, static_cast<std::int32_t>(s.fileHigh)));
        EXPECT_EQ(ReadFile(f.levelDir(r.lvl) + "app.exe"), bytes);
        const VersionRecord& before = rows[rows.size() - 2];
        EXPECT_EQ(f.ui.messages, s.kbn1 != "7" ? std::vector<std::string>{}
                                               : std::vector<std::string>{
                                                     "ファイルが古いようです！ FILE = app.exe\n日付 = " + *before.fupdayd + " - " +
                                                     *before.fupdayd + "\nﾌｧｲﾙﾊﾞｰｼﾞｮﾝ = " + *before.fverno + "-" + fileText +
                                                     "\nﾌﾟﾛｸﾞﾗﾑﾊﾞｰｼﾞｮﾝ =" + *before.pverno + " - " + productText});
    }
}

// The engine's per-file statements stay index seeks on the schema as shipped.
TEST(QueryPlans, PerFileStatementsNeitherScanNorSortFilekanri) {
    BackupFixture f;
    for (const std::string& sql : std::vector<std::string>{backup::kLatestVersionSql, backup::kDirectoryVersionsSql, backup::kVersionByRowidSql,
                            backup::kBareRowsSql, backup::kSupersedeSql, backup::kNextRowsSql,
                            backup::kWriteBackSql, backup::kMarkFailedSql, backup::kMarkUnstoredSql,
                            kCopyClaimedSql, kPlainCopyClaimedSql, kPlainCopyClaimantsSql}) {
        Statement plan = f.state.db().prepare("EXPLAIN QUERY PLAN " + sql);
        std::string details;
        while (plan.step()) details += plan.text(3) + "\n";
        // The few BKPDIR rows may be read through; FILEKANRI never is.
        EXPECT_EQ(details.find("SCAN FILEKANRI") + details.find("TEMP B-TREE"), 2 * std::string::npos) << sql << "\n" << details;
        EXPECT_NE(details.find("SEARCH"), std::string::npos) << sql << "\n" << details;
    }
}

}  // namespace
}  // namespace tessel::test
