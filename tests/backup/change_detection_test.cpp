// Which files get a new version, at which level and with which code.
#include <gtest/gtest.h>

#include <cerrno>

#include "backup_fixture.h"

namespace tessel::test {
namespace {

constexpr std::int64_t kBase = 1700000000;  // 2023-11-14

class Versions : public ::testing::Test {
protected:
    void SetUp() override { f.state.compression = "0"; }
    void write(const std::string& rel, const std::string& text, std::int64_t mtime) {
        WriteFile(f.src(rel), text);
        SetMtime(f.src(rel), mtime);
    }
    void setKbn1(const std::string& name, const std::string& code) {
        f.state.db().prepare("UPDATE FILEKANRI SET KBN1 = ?1 WHERE FILENM = ?2 AND CHK1 = '1'").bind(1, code).bind(2, name).run();
    }
    BackupFixture f;
};

TEST_F(Versions, FirstBackupRecordsEveryFileAtLevelZeroOrOneWithItsColumns) {
    write("a.txt", "hello", kBase);
    f.run("1", "1", 0);
    auto rows = f.rows();
    ASSERT_EQ(rows.size(), 1u);
    const VersionRecord& r = rows[0];
    EXPECT_EQ(r.bkpno, 0);
    EXPECT_EQ(r.dirno, 1);
    EXPECT_EQ(r.lvl, 0);
    EXPECT_EQ(r.dir, f.source + "/");
    EXPECT_EQ(r.kbn1, "0");
    EXPECT_EQ(r.chk1, "1");
    EXPECT_EQ(r.fsize, 5);
    FileTimes t = ReadFileTimes(f.src("a.txt"));
    EXPECT_EQ(r.fupdate, t.lastWrite.high);
    EXPECT_EQ(r.fuptime, t.lastWrite.low);
    EXPECT_EQ(r.fupdayd, FormatFileTime(t.lastWrite).date);
    EXPECT_EQ(r.fuptimed, FormatFileTime(t.lastWrite).time);
    EXPECT_EQ(r.fcrdayd, FormatFileTime(t.creation).date);
    EXPECT_EQ(r.fverno, " ");
    EXPECT_EQ(r.fmver, 0);

    BackupFixture g;
    g.state.compression = "0";
    WriteFile(g.src("b.txt"), "b");
    g.run("9", "1", 7);
    ASSERT_EQ(g.rows().size(), 1u);
    EXPECT_EQ(g.rows()[0].lvl, 1);
    EXPECT_EQ(g.rows()[0].bkpno, 7);
}

TEST_F(Versions, UnchangedFilesAreLeftAndChangedOnesGetTheNextLevel) {
    write("same.txt", "same", kBase);
    write("touched.txt", "t", kBase);
    write("grown.txt", "g", kBase);
    f.run("1", "1", 0);
    f.run("9", "1", 1);
    EXPECT_EQ(f.rows().size(), 3u) << "nothing changed, nothing recorded";

    SetMtime(f.src("touched.txt"), kBase + 1);  // same content, new time
    write("grown.txt", "gg", kBase);            // new size, same time
    f.run("9", "1", 2);
    for (std::string name : {"touched.txt", "grown.txt"}) {
        auto rows = f.rowsOf(name);
        ASSERT_EQ(rows.size(), 2u) << name;
        EXPECT_EQ(rows[0].chk1, "0");
        EXPECT_EQ(rows[1].chk1, "1");
        EXPECT_EQ(rows[1].lvl, 1);
        EXPECT_EQ(rows[1].bkpno, 2);
        EXPECT_EQ(rows[1].kbn1, "0");
    }
    EXPECT_EQ(f.rowsOf("same.txt").size(), 1u);
    EXPECT_TRUE(f.ui.messages.empty());
}

TEST_F(Versions, RecordedVersionNumbersAreStillComparedWhenTimeAndSizeMatch) {
    write("plain.bin", "no resource", kBase);
    write("was-pe.bin", "no resource", kBase);
    f.run("9", "1", 1);
    // The latest version of one file says it carried a version resource: the
    // file must be read again, and its missing resource is a change.
    f.state.db().exec("UPDATE FILEKANRI SET FMVER = 65536, FVERNO = '1.0.0.0' WHERE FILENM = 'was-pe.bin'");
    f.run("9", "1", 2);
    EXPECT_EQ(f.rowsOf("plain.bin").size(), 1u);
    auto rows = f.rowsOf("was-pe.bin");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].fmver, 0);
    EXPECT_EQ(rows[1].fverno, " ");
    EXPECT_EQ(rows[1].kbn1, "7");  // the recorded version was higher
}

TEST_F(Versions, GoingBackInTimeWarnsOnlyPastOneHighHalfStep) {
    write("small.txt", "s", kBase);
    write("big.txt", "b", kBase);
    f.run("9", "1", 1);
    const std::string recordedDate = *f.rowsOf("big.txt")[0].fupdayd;
    SetMtime(f.src("small.txt"), kBase - 60);        // one minute back
    SetMtime(f.src("big.txt"), kBase - 86400 * 30);  // a month back
    f.run("9", "1", 2);
    EXPECT_EQ(f.rowsOf("small.txt").back().kbn1, "0");
    EXPECT_EQ(f.rowsOf("big.txt").back().kbn1, "7");
    EXPECT_EQ(f.rowsOf("big.txt").back().lvl, 2);
    std::string nowDate = FormatFileTime(ReadFileTimes(f.src("big.txt")).lastWrite).date;
    ASSERT_EQ(f.ui.messages.size(), 1u);
    EXPECT_EQ(f.ui.messages[0], "ファイルが古いようです！ FILE = big.txt\n日付 = " + recordedDate + " - " + nowDate +
                                    "\nﾌｧｲﾙﾊﾞｰｼﾞｮﾝ =  - \nﾌﾟﾛｸﾞﾗﾑﾊﾞｰｼﾞｮﾝ =  -  ");
    // An older file is stored all the same.
    EXPECT_EQ(ReadFile(f.dst("V00002/big.txt")), "b");

    f.ui.messages.clear();
    f.state.silent = "YES";
    SetMtime(f.src("big.txt"), kBase - 86400 * 60);
    f.run("9", "1", 3);
    EXPECT_EQ(f.rowsOf("big.txt").back().kbn1, "7");
    EXPECT_TRUE(f.ui.messages.empty());
}

TEST_F(Versions, SameNameInDifferentDirectoriesAreSeparateFiles) {
    f.state.compression = "1";  // archives: levels are never raised while storing
    MakeDirs(f.src("X"));
    MakeDirs(f.src("Y"));
    write("X/a.txt", "x", kBase);
    write("Y/a.txt", "y", kBase);
    f.run("1", "1", 0);
    write("X/a.txt", "x2", kBase + 5);
    f.run("9", "1", 1);
    EXPECT_EQ(f.rowsOf("a.txt", "X").size(), 2u);
    EXPECT_EQ(f.rowsOf("a.txt", "X").back().lvl, 1);
    EXPECT_EQ(f.rowsOf("a.txt", "Y").size(), 1u);
    EXPECT_EQ(f.rowsOf("a.txt", "Y").back().chk1, "1");
}

TEST_F(Versions, RowsWithoutACopyAreRecordedAgainAndExcludedFilesNever) {
    write("failed.txt", "f", kBase);
    write("failed0.txt", "f", kBase);
    write("nobackup.txt", "n", kBase);
    write("excluded.txt", "e", kBase);
    f.run("1", "1", 0);
    f.run("9", "1", 1);  // nothing changed
    write("failed.txt", "F", kBase + 10);
    f.run("9", "1", 2);  // failed.txt gets level 1
    setKbn1("failed.txt", "9");
    setKbn1("failed0.txt", "9");
    setKbn1("nobackup.txt", "2");
    setKbn1("excluded.txt", "8");
    f.run("9", "9", 3);  // information-only runs never re-record
    EXPECT_EQ(f.rows().size(), 5u);
    f.run("9", "1", 4);
    EXPECT_EQ(f.rowsOf("failed.txt").size(), 3u);
    EXPECT_EQ(f.rowsOf("failed.txt").back().lvl, 2);
    EXPECT_EQ(f.rowsOf("failed.txt").back().kbn1, "0");
    EXPECT_EQ(ReadFile(f.dst("V00002/failed.txt")), "F");
    // A failed first copy is not covered by anything either.
    ASSERT_EQ(f.rowsOf("failed0.txt").size(), 2u);
    EXPECT_EQ(f.rowsOf("failed0.txt").back().lvl, 1);
    EXPECT_EQ(ReadFile(f.dst("V00001/failed0.txt")), "f");
    EXPECT_EQ(f.rowsOf("nobackup.txt").size(), 1u);
    write("excluded.txt", "changed", kBase + 99);
    f.run("9", "1", 5);
    EXPECT_EQ(f.rowsOf("excluded.txt").size(), 1u);
    EXPECT_EQ(f.rowsOf("excluded.txt")[0].chk1, "1");
}

TEST_F(Versions, InformationAndNoBackupKindsRecordCodeTwoAndStoreNothing) {
    for (std::string kind : {"2", "9"}) {
        BackupFixture g;
        g.state.compression = "1";
        WriteFile(g.src("a.txt"), "a");
        g.run(kind == "2" ? "1" : "9", kind, kind == "2" ? 0 : 1);
        ASSERT_EQ(g.rows().size(), 1u);
        EXPECT_EQ(g.rows()[0].kbn1, "2");
        EXPECT_TRUE(g.archiver.commands.empty());
        EXPECT_FALSE(PathExists(g.dst("V00000")));
        EXPECT_FALSE(PathExists(g.dst("V00001")));
    }
}

TEST_F(Versions, UnreadableEntryIsReportedAndRecordedWithoutColumns) {
    write("known.txt", "k", kBase);
    f.run("1", "1", 0);
    write("new.txt", "n", kBase);
    {
        ScopedFileFault fault([&](const std::string& path, FileAccess access) {
            return access == FileAccess::kReadEntry && path.find("/src/") != std::string::npos ? EACCES : 0;
        });
        f.run("9", "1", 1);
    }
    EXPECT_EQ(f.ui.messages,
              (std::vector<std::string>{
                  " FILE 更新日付情報を取得できません。\n ファイルが使用中かもしれません　FILE=" + f.src("known.txt"),
                  " FILE 更新日付情報を取得できません。\n ファイルが使用中かもしれません　FILE=" + f.src("new.txt")}));
    auto known = f.rowsOf("known.txt");
    ASSERT_EQ(known.size(), 2u);
    EXPECT_EQ(known[1].kbn1, "9");
    EXPECT_EQ(known[1].lvl, 1);
    EXPECT_FALSE(known[1].fupdate.has_value());
    EXPECT_FALSE(known[1].fsize.has_value());
    EXPECT_FALSE(known[1].fverno.has_value());
    EXPECT_EQ(known[0].chk1, "0");
    // A new file is recorded with code "0" and stored: its contents can be read.
    auto fresh = f.rowsOf("new.txt");
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_EQ(fresh[0].kbn1, "0");
    EXPECT_FALSE(fresh[0].fupdate.has_value());
    EXPECT_EQ(ReadFile(f.dst("V00001/new.txt")), "n");
    // Next time the entry reads again: the empty columns count as a change.
    f.ui.messages.clear();
    f.run("9", "1", 2);
    EXPECT_EQ(f.rowsOf("new.txt").size(), 2u);
    EXPECT_EQ(f.rowsOf("known.txt").size(), 3u);
    EXPECT_TRUE(f.ui.messages.empty());
}

TEST_F(Versions, RowsWhoseDirectoryLacksTheTrailingSeparatorAreFoundToo) {
    write("a.txt", "a", kBase);
    write("b.txt", "b", kBase);
    f.run("1", "1", 0);
    // A row recorded elsewhere without the final "/", at a higher level.
    f.state.db().prepare("UPDATE FILEKANRI SET DIR = ?1, LVL = 5 WHERE FILENM = 'a.txt'").bind(1, f.source).run();
    write("a.txt", "changed", kBase + 100);
    f.run("9", "1", 1);
    auto rows = f.rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].filenm, "a.txt");
    EXPECT_EQ(rows[2].lvl, 6);
    EXPECT_EQ(rows[2].dir, f.source + "/");
    EXPECT_EQ(rows[0].chk1, "0");
    // A source registered with a final "/" is the same directory.
    f.source += "/";
    f.run("9", "1", 2);
    EXPECT_EQ(f.rows().size(), 3u);
}

TEST_F(Versions, AwkwardNamesAreStoredAndFoundAgain) {
    const std::vector<std::string> names = {
        "O'Neil's file.txt", "two  blanks .txt", "-rf", "--help", "日本語のファイル.txt",
        "丂☃😀.txt",  // characters code page 932 cannot hold
        std::string("latin1-caf\xe9-\xff.bin"), "a\"quoted\".txt", "back\\slash", "tab\tname"};
    MakeDirs(f.src("dir with 'quote' and 日本"));
    for (const auto& n : names) {
        write(n, "content of " + n, kBase);
        write("dir with 'quote' and 日本/" + n, "deep " + n, kBase);
    }
    f.run("9", "1", 1);
    ASSERT_EQ(f.rows().size(), names.size() * 2);
    for (const auto& n : names) {
        EXPECT_EQ(ReadFile(f.dst("V00001/" + n)), "content of " + n) << n;
        // The second file of the same name went one level up.
        EXPECT_EQ(ReadFile(f.dst("V00002/" + n)), "deep " + n) << n;
    }
    EXPECT_TRUE(f.ui.messages.empty());
    f.run("9", "1", 2);
    EXPECT_EQ(f.rows().size(), names.size() * 2) << "every name was found again";
}

}  // namespace
}  // namespace tessel::test
