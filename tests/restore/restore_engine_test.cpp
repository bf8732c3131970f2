// The restore engine on hand-made catalogs: versions, deletions, report
// lines, messages, archiver command lines, refusals; restore-to and verify.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "archiver/archive_ops.h"
#include "platform/paths.h"
#include "platform/safe_write.h"
#include "restore/restore_to.h"
#include "restore/verify.h"
#include "restore_fixture.h"

namespace tessel::test {
namespace {

const std::string kStamp = "2004/03/09  1:05:09 p";
const std::string kHead = "    リカバリーの実施    " + kStamp;
const std::string kRefused = "     RC  登録ディレクトリーの外への書き込みを拒否しました";

struct UtcZone : ::testing::Environment {
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};
const auto* const kZone = ::testing::AddGlobalTestEnvironment(new UtcZone);

std::string Restored(const std::string& from, const std::string& to) {
    return " ファイルの戻しを実行しました! " + from + " から " + to;
}
std::string Deleted(const std::string& path, int lvl) {
    return " ファイル " + path + " を削除しました! 　/V0000" + std::to_string(lvl);
}
std::string DeletionSkipped(const std::string& path) { return " ファイル " + path + " の削除をスキップしました! 　/V00001"; }

TEST(ReportTime, TwelveHourClockWithoutLeadingZero) {
    EXPECT_EQ(FormatReportDate(1078837509), "2004/03/09");
    EXPECT_EQ(FormatReportTime(1078837509), "1:05:09 p");
    EXPECT_EQ(FormatReportTime(1078790400), "12:00:00 a");          // midnight
    EXPECT_EQ(FormatReportTime(1078790400 + 43200), "12:00:00 p");  // noon
    EXPECT_EQ(FormatReportTime(1078790400 + 9 * 3600 + 7), "9:00:07 a");
}

class Engine : public RestoreFixture, public ::testing::Test {};

// Levels 3 (run 12), 2 (run 8) and 1 (run 5) of one file with plain copies.
TEST_F(Engine, ThreeLevelsComeBackRunByRunInBothReportModesAndTestModeTouchesNothing) {
    addDirectory(1, "1");
    for (const auto& [run, lvl, bytes] : {std::tuple{12, 3, "three"}, {8, 2, "two"}, {5, 1, "one"}}) {
        addVersion(run, lvl, "", "a.txt");
        addCopy(lvl, "a.txt", bytes);
    }
    WriteFile(src("a.txt"), "current");
    const std::string level2 = Restored(versionFile(2, "a.txt"), src("a.txt"));

    restoreTest = true;
    restore(1, 3);
    restore(1, 10, "2");
    EXPECT_EQ(ReadFile(src("a.txt")), "current");
    const std::string head = "  リカバリーの実施(TEST)  " + kStamp;
    const std::string notice = "  テストの為、リカバリーは実際には行われません！ ";
    EXPECT_EQ(rows(), (std::vector<std::string>{head, notice, Deleted(src("a.txt"), 1), head, notice, level2}));
    EXPECT_EQ(reportLines(), rows());

    restoreTest = false;
    restore(1, 10);
    EXPECT_EQ(ReadFile(src("a.txt")), "two");
    EXPECT_EQ(rows(), (std::vector<std::string>{kHead, level2}));
    EXPECT_TRUE(ui.messages.empty());
    // The exact bytes: code page 932, CR LF.
    EXPECT_EQ(ReadFile(data / "RSTRLIST.TXT"), *Utf8ToCp932(kHead) + "\r\n" + *Utf8ToCp932(level2) + "\r\n");

    restore(1, 3);
    EXPECT_FALSE(PathExists(src("a.txt")));
    EXPECT_EQ(ui.status["FILEREV"], Deleted(src("a.txt"), 1));
    restore(1, 5, "2");
    EXPECT_EQ(ReadFile(src("a.txt")), "one");
    EXPECT_EQ(rows().size(), 4u) << "mode 2 appends to the report";
    EXPECT_EQ(reportLines(), rows());
}

TEST_F(Engine, FirstVersionsAreDeletedOnlyWhenTheFileWasNotThereAtTheRun) {
    addDirectory(1, "1");
    addVersion(7, 1, "", "a.txt");
    addVersion(0, 0, "", "a.txt");
    addCopy(0, "a.txt", "initial");
    addCopy(1, "a.txt", "later");
    WriteFile(src("a.txt"), "later");
    // A first version without a usable copy deletes nothing.
    addVersion(9, 1, "", "eight.txt", "8");
    WriteFile(src("eight.txt"), "8");
    // A first version at a raised level (another file took level 1).
    addVersion(5, 2, "Y", "b.txt");
    std::filesystem::create_directories(src("Y"));
    WriteFile(src("Y/b.txt"), "y");
    restore(1, 4);
    EXPECT_EQ(ReadFile(src("a.txt")), "initial");
    EXPECT_TRUE(PathExists(src("eight.txt")));
    EXPECT_FALSE(PathExists(src("Y/b.txt")));
    EXPECT_EQ(rows(), (std::vector<std::string>{kHead, Restored(versionFile(0, "a.txt"), src("a.txt")),
                                                Deleted(src("Y/b.txt"), 2)}));
}

// One walk with every outcome: restored (over a read-only file, into folders
// made again, a name outside code page 932), failed, skipped, deleted, gone.
TEST_F(Engine, EveryFileOfOneWalkGetsItsOwnOutcome) {
    addDirectory(1, "1");
    for (const char* name : {"café😀.txt", "ro.txt", "stays.txt", "top.txt"}) addVersion(2, 1, "", name);
    addVersion(2, 1, "A/B", "deep.txt");
    for (const char* name : {"gone.txt", "here.txt"}) addVersion(9, 1, "", name);
    addVersion(9, 1, "never made", "gone too.txt");
    // Level 2 of X/a.txt failed to copy; V00002/a.txt is another file's copy.
    addVersion(6, 2, "X", "a.txt", "9");
    addVersion(5, 1, "X", "a.txt");
    for (const char* name : {"café😀.txt", "ro.txt", "top.txt", "deep.txt", "a.txt"}) addCopy(1, name, name);
    addCopy(2, "a.txt", "someone else");
    for (const char* name : {"ro.txt", "stays.txt", "here.txt"}) WriteFile(src(name), "old");
    chmod(src("ro.txt").c_str(), 0444);
    chmod(src("stays.txt").c_str(), 0454);
    std::filesystem::create_directories(src("X"));
    WriteFile(src("X/a.txt"), "x2");
    const RestoreResult result = restore(1, 6);
    EXPECT_EQ(std::make_tuple(result.restored, result.deleted, result.skipped, result.failed), std::make_tuple(4, 1, 3, 1));
    for (const char* name : {"café😀.txt", "ro.txt", "top.txt"}) EXPECT_EQ(ReadFile(src(name)), name);
    EXPECT_EQ(ReadFile(src("A/B/deep.txt")), "deep.txt");
    EXPECT_EQ(ReadFile(src("stays.txt")), "old");
    EXPECT_EQ(Mode(src("stays.txt")), 0654u) << "only the write bit is added";
    EXPECT_EQ(ReadFile(src("X/a.txt")), "x2");
    EXPECT_FALSE(PathExists(src("here.txt")));
    EXPECT_FALSE(PathExists(src("never made")));
    const std::string skipped = " ファイルの戻しをスキップしました! " + versionFile(2, "a.txt") + " から " + src("X/a.txt");
    EXPECT_EQ(rows(), (std::vector<std::string>{
                          kHead, Restored(versionFile(1, "café😀.txt"), src("café😀.txt")), DeletionSkipped(src("gone.txt")),
                          Deleted(src("here.txt"), 1), Restored(versionFile(1, "ro.txt"), src("ro.txt")),
                          " ファイルの戻しに失敗しました! " + versionFile(1, "stays.txt") + " から " + src("stays.txt") +
                              "     RC  Error:2",
                          Restored(versionFile(1, "top.txt"), src("top.txt")),
                          Restored(versionFile(1, "deep.txt"), src("A/B/deep.txt")), skipped,
                          DeletionSkipped(src("never made/gone too.txt"))}));
    EXPECT_EQ(ui.messages, std::vector<std::string>{"ファイルの戻しに失敗しました! FILE= " + src("stays.txt") +
                                                    "\n     RC  Error:2"});
    // Characters outside code page 932 are marked in the report file only.
    auto lines = reportLines(), table = rows();
    ASSERT_EQ(lines.size(), table.size());
    EXPECT_EQ(lines[1], Restored(versionFile(1, "caf??.txt"), src("caf??.txt")));
    lines[1] = table[1];
    EXPECT_EQ(lines, table);
}

TEST_F(Engine, KindTwoSkipsDeletionsAndLevelZero) {
    addDirectory(1, "2");
    addVersion(0, 0, "", "old.txt", "2");
    addVersion(9, 1, "", "new.txt");
    addVersion(4, 1, "", "mid.txt");
    addCopy(1, "mid.txt", "mid");
    WriteFile(src("new.txt"), "new");
    restore(1, 5);
    EXPECT_TRUE(PathExists(src("new.txt")));
    EXPECT_EQ(ReadFile(src("mid.txt")), "mid");
    EXPECT_EQ(rows(), (std::vector<std::string>{
                          kHead, Restored(versionFile(1, "mid.txt"), src("mid.txt")), DeletionSkipped(src("new.txt")),
                          " ファイルの戻しをスキップしました! " + versionFile(0, "old.txt") + " から " + src("old.txt")}));
}

TEST_F(Engine, KindThreeExtractsTheBulkArchiveFirstInBothForms) {
    compression = "1";
    addDirectory(1, "3", "01");
    addDirectory(2, "3", std::nullopt);
    addVersion(0, 0, "", "bulk.txt", "2");
    addVersion(9, 1, "", "new.txt");
    addVersion(4, 1, "S", "b.txt");
    addVersion(4, 1, "", "b.txt", "0", 2);
    restore(1, 5);
    EXPECT_EQ(commands, (std::vector<std::string>{
                            "e -r2x1a2ncy " + destination + "/bkpcmp.lzh *.*",
                            "e -a1cynx1 " + destination + "/V00001/bkpcmp.lzh " + source + "/S/ \"b.txt\""}));
    EXPECT_EQ(rows(), (std::vector<std::string>{kHead,
                                                "  初期一括ファイルの戻しを実施しました。 " + destination + "/bkpcmp.lzh rc= 成功",
                                                DeletionSkipped(src("new.txt")),
                                                Restored(versionFile(1, "b.txt"), src("S/b.txt"))}));

    // The directory-only form, both steps failing.
    commands.clear();
    results = {0x8101, 0x8108};
    restore(2, 5);
    EXPECT_EQ(commands.at(0), "e -na1cy " + destination + "/bkpcmp.lzh \"" + source + "/\" *.*");
    EXPECT_EQ(ui.messages, (std::vector<std::string>{
                               "UNLHA32.DLL error return rc = 8101", " error lzh e:展開 一括 function ",
                               "UNLHA32.DLL error return rc = 8108", " error lzh e:展開 function ",
                               "ファイルの戻しに失敗しました! FILE= " + src("b.txt") + "\n     RC  エラー　33032"}));
    EXPECT_EQ(rows(), (std::vector<std::string>{
                          kHead, "  初期一括ファイルの戻しを実施しました。 " + destination + "/bkpcmp.lzh rc= エラー　33025",
                          " ファイルの戻しに失敗しました! " + versionFile(1, "b.txt") + " から " + src("b.txt") +
                              "     RC  エラー　33032"}));
}

TEST_F(Engine, DirectoryWithoutTrailingSlashGivesTheSameTarget) {
    compression = "1";
    addDirectory(1, "1");
    addVersion(2, 1, "", "a.txt", "0", 1, source);  // no trailing "/"
    restore(1, 2);
    EXPECT_EQ(commands, std::vector<std::string>{"e -a1cynx1 " + destination + "/V00001/bkpcmp.lzh " + source + "/ \"a.txt\""});
}

TEST_F(Engine, InformationOnlyAndUndefinedDirectoriesOnlySaySo) {
    addDirectory(1, "9");
    addVersion(2, 1, "", "a.txt");
    WriteFile(src("a.txt"), "x");
    EXPECT_EQ(restore(1, 1).failed, 1);
    EXPECT_TRUE(PathExists(src("a.txt")));
    EXPECT_EQ(restore(7, 2).failed, 1);
    EXPECT_EQ(ui.messages, (std::vector<std::string>{" 指定されたディレクトリーはバックアップ対象外です",
                                                     " 指定されたディレクトリーの定義がありません！"}));
    EXPECT_EQ(rows(), std::vector<std::string>{kHead});
    EXPECT_EQ(reportLines(), (std::vector<std::string>{kHead, " 指定されたディレクトリーの定義がありません！ 7"}));
}

TEST_F(Engine, NothingIsWrittenOutsideTheRegisteredDirectory) {
    addDirectory(1, "1");
    addDirectory(2, "1", "01", std::string());  // a row without a path
    TempDir elsewhere;
    addVersion(2, 1, "", "escape.txt", "0", 1, elsewhere.path() + "/");
    addVersion(2, 1, "", "dots.txt", "0", 1, source + "/../");
    addVersion(2, 1, "L", "linked.txt");
    addVersion(9, 1, "L", "victim.txt");
    addVersion(2, 1, "", "a.txt", "0", 2);
    for (const char* name : {"escape.txt", "dots.txt", "linked.txt", "a.txt"}) addCopy(1, name, "bad");
    // The sub-directory L has been replaced by a link to another place.
    ASSERT_EQ(symlink(elsewhere.path().c_str(), src("L").c_str()), 0);
    WriteFile(elsewhere / "victim.txt", "keep");
    restore(1, 2);
    EXPECT_FALSE(PathExists(elsewhere / "escape.txt"));
    EXPECT_FALSE(PathExists(elsewhere / "linked.txt"));
    EXPECT_FALSE(PathExists(data / "dots.txt"));
    EXPECT_EQ(ReadFile(elsewhere / "victim.txt"), "keep");
    auto r = rows();
    ASSERT_EQ(r.size(), 5u);
    for (std::size_t i = 1; i < r.size(); ++i) EXPECT_NE(r[i].find(kRefused.substr(9)), std::string::npos) << r[i];
    restore(2, 2);
    EXPECT_FALSE(PathExists(src("a.txt")));
    EXPECT_EQ(rows().back(), " ファイルの戻しに失敗しました! " + versionFile(1, "a.txt") + " から " + src("a.txt") + kRefused);
}

// One bulk archive shared with another directory (an old catalog).
TEST_F(Engine, BulkArchiveMembersElsewhereOrBehindALinkAreSkippedAndTheOthersRestored) {
    TempDir other;
    std::filesystem::create_directories(other / "o");
    std::filesystem::create_directories(src("S"));
    std::filesystem::create_directories(src("L"));
    WriteFile(other / "o/x.txt", "x");
    WriteFile(src("a.txt"), "a");
    WriteFile(src("S/b.txt"), "b");
    WriteFile(src("L/c.txt"), "c");
    for (const std::string& dir : {other.path(), source}) {
        ASSERT_EQ(archive::Perform(archive::AddFolderRequest(destination + "/bkpcmp.lzh", dir, true)), 0);
    }
    std::filesystem::remove_all(other / "o");
    std::filesystem::remove(src("a.txt"));
    std::filesystem::remove(src("S/b.txt"));
    // The sub-directory L has been replaced by a link to another place.
    std::filesystem::remove_all(src("L"));
    ASSERT_EQ(symlink(other.path().c_str(), src("L").c_str()), 0);
    addDirectory(1, "3", "01");
    hooks.archiver = DefaultRestoreHooks().archiver;
    restore(1, 1);
    EXPECT_EQ(ReadFile(src("a.txt")), "a");
    EXPECT_EQ(ReadFile(src("S/b.txt")), "b");
    EXPECT_FALSE(PathExists(other / "o/x.txt"));
    EXPECT_FALSE(PathExists(other / "c.txt"));
    const std::string archive = destination + "/bkpcmp.lzh";
    EXPECT_EQ(rows(), (std::vector<std::string>{
                          kHead, " ファイルの戻しをスキップしました! " + archive + " から " + other.path() + "/o/x.txt" + kRefused,
                          " ファイルの戻しに失敗しました! " + archive + " から " + src("L/c.txt") + kRefused,
                          "  初期一括ファイルの戻しを実施しました。 " + archive + " rc= 成功"}));
}

// X/a.txt and Y/a.txt (same name and level) stored with the compression
// switched between: each comes back from its own copy under either setting.
TEST_F(Engine, EachVersionComesFromItsOwnCopyWhateverTheSwitchSaysNow) {
    addDirectory(1, "1");
    hooks.archiver = DefaultRestoreHooks().archiver;
    std::filesystem::create_directories(src("X"));
    std::filesystem::create_directories(src("Y"));
    for (const std::string first : {"0", "1"}) {
        SCOPED_TRACE("first run with compression " + first);
        std::filesystem::remove_all(destination);
        std::filesystem::create_directories(destination);
        state.db().exec("DELETE FROM FILEKANRI");
        std::filesystem::remove(src("Y/a.txt"));
        put("X/a.txt", "from X", 1500000000, 123456700);
        compression = first;
        backUp(1);
        put("Y/a.txt", "from Y", 1500000100, 987654300);
        compression = first == "0" ? "1" : "0";
        backUp(2);
        compression = "0";
        put("X/a.txt", "changed", 1);
        std::filesystem::remove(src("Y/a.txt"));
        restore(1, 2);
        EXPECT_EQ(ReadFile(src("X/a.txt")), "from X");
        EXPECT_EQ(ReadFile(src("Y/a.txt")), "from Y");
        EXPECT_EQ(Mtime(src("X/a.txt")), "1500000000.123456700");
        EXPECT_EQ(Mtime(src("Y/a.txt")), "1500000100.987654300");
        // A version whose own copy is gone fails; it never takes another's.
        const bool xPlain = first == "0";
        if (xPlain) std::filesystem::remove(versionFile(1, "a.txt"));
        else std::filesystem::rename(destination + "/V00001/bkpcmp.lzh", destination + "/elsewhere.lzh");
        put("X/a.txt", "changed", 1);
        put("Y/a.txt", "changed", 1);
        restore(1, 2);
        EXPECT_EQ(ReadFile(src("X/a.txt")), "changed");
        EXPECT_EQ(ReadFile(src("Y/a.txt")), xPlain ? "from Y" : "changed");
        EXPECT_EQ(rows()[1], " ファイルの戻しに失敗しました! " + versionFile(1, "a.txt") + " から " + src("X/a.txt") +
                                 "     RC  " + (xPlain ? "エラー　33032" : "Error:2"));
    }
}

std::vector<std::string> TempFilesBelow(const std::string& root) {
    std::vector<std::string> out;
    for (auto& e : std::filesystem::recursive_directory_iterator(root))
        if (IsTempFileName(e.path().filename().string())) out.push_back(e.path());
    return out;
}

TEST_F(Engine, AKilledRestoreLeavesReportAndListAgreeingAndNoTemporaryFileOutlivesTheNextRun) {
    addDirectory(1, "1");
    const std::string body(256 * 1024, 'b');
    auto name = [](int i) { return "d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".bin"; };
    for (int i = 0; i < 120; ++i) {
        addVersion(2, i / 4 + 1, "d" + std::to_string(i % 4), "f" + std::to_string(i) + ".bin");
        addCopy(i / 4 + 1, "f" + std::to_string(i) + ".bin", body + std::to_string(i));
    }
    restore(1, 2);  // the previous restore's report
    hooks.archiver = DefaultRestoreHooks().archiver;
    // Killed at the n-th status line, or after some microseconds.
    const std::vector<std::pair<int, int>> kills = {{1, -1}, {60, -1}, {-1, 3000}, {-1, 20000}, {-1, 80000}};
    for (const auto& [atStatus, afterMicros] : kills) {
        SCOPED_TRACE("status " + std::to_string(atStatus) + ", micros " + std::to_string(afterMicros));
        for (int i = 0; i < 120; i += 7) std::filesystem::remove(src(name(i)));
        state.catalog.reset();  // the child opens its own connection
        const pid_t pid = fork();
        if (pid == 0) {
            KillingUi killing;
            killing.killAt = atStatus;
            FakeSystem sys;
            SharedState child(killing, sys);
            child.dataFolder = data.path();
            child.catalog = Connection::openFile(data / "filebkp.mdb");
            RestoreDirectory(child, 1, 2, RestoreOptions{}, hooks);
            _exit(0);
        }
        if (afterMicros >= 0) {
            usleep(static_cast<useconds_t>(afterMicros));
            ::kill(pid, SIGKILL);
        }
        waitpid(pid, nullptr, 0);
        state.catalog = Connection::openFile(data / "filebkp.mdb");
        const auto r = rows();
        EXPECT_EQ(reportLines(), r);
        EXPECT_TRUE(r.empty() || r[0] == kHead) << r[0];
    }
    // The next restore sweeps leftover and planted temporary files; the next
    // backup neither records nor keeps them.
    WriteFile(src("d1/.tessel-tmp-stale001"), "half");
    WriteFile(src("d2/f9.bin.tessel-tmp-4242"), "half");
    restore(1, 2);
    EXPECT_EQ(TempFilesBelow(source), std::vector<std::string>{});
    EXPECT_EQ(ReadFile(src("d3/f7.bin")), body + "7");
    WriteFile(src("d0/.tessel-tmp-stale002"), "half");
    backUp(3);
    Statement q = state.db().prepare("SELECT count(*) FROM FILEKANRI WHERE FILENM LIKE '%tessel-%'");
    ASSERT_TRUE(q.step());
    EXPECT_EQ(q.int64(0), 0);
    EXPECT_EQ(TempFilesBelow(source), std::vector<std::string>{});
}

TEST_F(Engine, RestoreToAFolderPutsChosenVersionsBelowItAndTouchesNothingElse) {
    addDirectory(1, "1");
    std::filesystem::create_directories(src("S/T"));
    // Run, file, bytes, nanoseconds of its time (the seconds follow).
    const std::tuple<int, const char*, const char*, long> history[] = {
        {1, "a.txt", "a1", 100}, {1, "S/b.txt", "b1", 200}, {1, "S/T/c.txt", "c1", 300},
        {2, "a.txt", "a2", 1100}, {2, "S/b.txt", "b2", 1200}, {3, "S/d.txt", "d3", 2300}};
    for (int run = 1; run <= 3; ++run) {
        for (const auto& [when, rel, bytes, nsec] : history)
            if (when == run) put(rel, bytes, 1500000000 + nsec / 100, nsec);
        compression = run == 1 ? "0" : "1";
        backUp(run);
    }
    put("a.txt", "now", 1600000000);
    std::filesystem::remove(src("S/b.txt"));

    std::vector<std::string> log;
    auto progress = [&](RestoreToOutcome o, const std::string& from, const std::string& to, const std::string& detail) {
        static const char* const kNames[] = {"restored", "exists", "no copy", "failed"};
        log.push_back(std::string(kNames[static_cast<int>(o)]) + " " + from + " -> " + to + (detail.empty() ? "" : " " + detail));
    };
    TempDir target;
    const std::string t = target.path();
    // A folder at run 1 (plain copies), and one file at run 2 (archive).
    RestoreRunTo(state, 1, {src("S") + "/"}, {t, false}, progress);
    EXPECT_EQ(ReadFile(t + src("S/b.txt")), "b1");
    EXPECT_EQ(ReadFile(t + src("S/T/c.txt")), "c1");
    EXPECT_EQ(Mtime(t + src("S/b.txt")), "1500000002.200");
    EXPECT_FALSE(PathExists(t + src("a.txt")));
    EXPECT_FALSE(PathExists(t + src("S/d.txt")));
    RestoreRunTo(state, 2, {src("a.txt")}, {t, false}, progress);
    EXPECT_EQ(ReadFile(t + src("a.txt")), "a2");
    EXPECT_EQ(Mtime(t + src("a.txt")), "1500000011.1100");

    // Everything at run 3 over what is there.
    EXPECT_EQ(RestoreRunTo(state, 3, {}, {t, true}, progress).restored, 4);
    EXPECT_EQ(ReadFile(t + src("S/b.txt")), "b2");
    EXPECT_EQ(Mtime(t + src("S/d.txt")), "1500000023.2300");

    // One chosen version row, exactly as recorded.
    Statement q = state.db().prepare("SELECT rowid FROM FILEKANRI WHERE FILENM = 'a.txt' AND BKPNO = 1");
    ASSERT_TRUE(q.step());
    TempDir other;
    EXPECT_EQ(RestoreVersionsTo(state, {q.int64(0)}, {other.path(), false}, progress).restored, 1);
    EXPECT_EQ(ReadFile(other.path() + src("a.txt")), "a1");

    // A link below the target folder is never written through.
    TempDir linked, outside;
    const std::string first = source.substr(1, source.find('/', 1) - 1);
    ASSERT_EQ(symlink(outside.path().c_str(), (linked.path() + "/" + first).c_str()), 0);
    EXPECT_EQ(RestoreRunTo(state, 3, {}, {linked.path(), false}, progress).failed, 4);
    EXPECT_EQ(log.back(), "failed " + src("S/T/c.txt") + " -> " + linked.path() + src("S/T/c.txt") + " " + kRefused.substr(9));
    EXPECT_TRUE(std::filesystem::is_empty(outside.path()));

    // The sources and the catalog's restore report are untouched.
    EXPECT_EQ(ReadFile(src("a.txt")), "now");
    EXPECT_FALSE(PathExists(src("S/b.txt")));
    EXPECT_TRUE(rows().empty());
}

// Overwrites 8 bytes in the middle of a member's data.
void Damage(const std::string& archive, const lzh::Member& m) {
    const int fd = ::open(archive.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, "ZZZZZZZZ", 8, static_cast<off_t>(m.dataOffset + m.compressedSize / 2)), 8);
    ::close(fd);
}

TEST_F(Engine, VerifyFindsDamagedAndLostCopiesAndMarkHasTheNextBackupStoreThemAgain) {
    addDirectory(1, "1");
    std::filesystem::create_directories(src("S"));
    WriteFile(src("a.txt"), std::string(5000, 'a'));
    WriteFile(src("S/b.txt"), std::string(6000, 'b'));
    WriteFile(src("c.txt"), "c is for catalog, " + std::string(7000, 'c'));
    compression = "1";
    backUp(1);
    WriteFile(src("a.txt"), "a2");
    WriteFile(src("S/b.txt"), "b2");
    compression = "0";
    backUp(2);

    std::vector<std::string> found;
    auto verify = [&](VerifyOptions options) {
        found.clear();
        return VerifyBackups(state, options, [&](const VerifyProblem& p) {
            found.push_back(std::to_string(p.run) + " " + std::to_string(p.level) + " " + p.directory + p.name + ": " + p.what);
        });
    };
    VerifySummary sum = verify({});
    EXPECT_EQ(sum.checked, 5);
    EXPECT_EQ(sum.problems, 0);

    // A damaged member and a missing plain copy.
    std::int32_t code = 0;
    const std::string archive = destination + "/V00001/bkpcmp.lzh";
    auto index = archive::LoadIndex(archive, &code);
    ASSERT_TRUE(index);
    for (const auto& m : index->members)
        if (m.path.ends_with("/c.txt")) Damage(archive, m);
    std::filesystem::remove(versionFile(2, "b.txt"));
    sum = verify({});
    EXPECT_EQ(found, (std::vector<std::string>{"1 1 " + src("c.txt") + ": データが壊れています (CRC が合いません)",
                                               "2 2 " + src("S/b.txt") + ": コピーがありません"}));
    verify(VerifyOptions{std::nullopt, 2, false});
    EXPECT_EQ(found.size(), 1u) << "only run 2's versions";

    // A lost version folder; --mark has the next backup store latest versions again.
    std::filesystem::remove_all(destination + "/V00001");
    sum = verify(VerifyOptions{std::nullopt, std::nullopt, true});
    EXPECT_EQ(found[0], "1 1 " + src("a.txt") + ": 版のフォルダーがありません");
    EXPECT_EQ(sum.marked, 2);  // b.txt (level 2) and c.txt (level 1) are latest
    backUp(3);
    Statement q = state.db().prepare("SELECT FILENM, LVL FROM FILEKANRI WHERE BKPNO = 3 ORDER BY FILENM");
    std::vector<std::string> stored;
    while (q.step()) stored.push_back(q.text(0) + " " + std::to_string(q.int64(1)));
    EXPECT_EQ(stored, (std::vector<std::string>{"b.txt 3", "c.txt 2"}));
    EXPECT_EQ(verify(VerifyOptions{std::nullopt, 3, false}).problems, 0);

    // The archive of an initial bulk backup must read through.
    TempDir bulkSource, bulkDest;
    WriteFile(bulkSource / "x.txt", std::string(9000, 'x'));
    addDirectory(2, "3", "01", bulkSource.path(), bulkDest.path());
    compression = "1";
    BackupDirectory(state, BackupOptions{false, compression}, bulkSource.path(), "1", "3", bulkDest.path(), 0, 2, "01");
    EXPECT_EQ(verify(VerifyOptions{2, std::nullopt, false}).problems, 0);
    index = archive::LoadIndex(bulkDest / "bkpcmp.lzh", &code);
    ASSERT_TRUE(index && index->members.size() == 1);
    Damage(bulkDest / "bkpcmp.lzh", index->members[0]);
    verify(VerifyOptions{2, std::nullopt, false});
    EXPECT_EQ(found, std::vector<std::string>{"0 0 " + bulkSource.path() + "/x.txt: データが壊れています (CRC が合いません)"});
}

}  // namespace
}  // namespace tessel::test
