// The restore engine on hand-made catalogs: versions, deletions, report
// lines, messages, refusals, archive members; restore-to and verify.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <tuple>

#include "archiver/archive_ops.h"
#include "archiver/archive_request.h"
#include "platform/codepage.h"
#include "platform/safe_write.h"
#include "restore/restore_directory.h"
#include "restore/restore_to.h"
#include "restore/verify.h"
#include "support/backup_fixture.h"

namespace tessel::test {
namespace {

const std::string kStamp = "2004/03/09  1:05:09 p";
const std::string kHead = "    リカバリーの実施    " + kStamp;
const std::string kRefused = "     RC  登録ディレクトリーの外への書き込みを拒否しました";
const std::string kLinkRefusedText = "シンボリックリンクを通る書き込みを拒否しました";

std::string Restored(const std::string& from, const std::string& to) {
    return " ファイルの戻しを実行しました! " + from + " から " + to;
}
std::string Failed(const std::string& from, const std::string& to, const std::string& rc) {
    return " ファイルの戻しに失敗しました! " + from + " から " + to + "     RC  " + rc;
}
std::string Skipped(const std::string& from, const std::string& to) {
    return " ファイルの戻しをスキップしました! " + from + " から " + to;
}
std::string Deleted(const std::string& path, int lvl) {
    return " ファイル " + path + " を削除しました! 　/V0000" + std::to_string(lvl);
}
std::string DeletionSkipped(const std::string& path) { return " ファイル " + path + " の削除をスキップしました! 　/V00001"; }

// Overwrites 8 bytes in the middle of the data of the archive's member
// whose path ends with `suffix`.
void Damage(const std::string& archive, const std::string& suffix) {
    std::int32_t code = 0;
    for (const auto& m : archive::LoadIndex(archive, &code)->members) {
        if (!m.path.ends_with(suffix)) continue;
        const int fd = ::open(archive.c_str(), O_WRONLY);
        ASSERT_EQ(::pwrite(fd, "ZZZZZZZZ", 8, static_cast<off_t>(m.dataOffset + m.compressedSize / 2)), 8);
        ::close(fd);
    }
}

// A data folder with its own catalog, the source registered as directory 1
// of kind 1 and a destination; catalog rows and version copies are made by hand.
class Engine : public ::testing::Test, public BackupFixture {
protected:
    Engine() {
        setenv("TZ", "UTC", 1);  // the report's stamp is local time
        tzset();
        hooks.archiver = archiver.call();  // the bulk archive's requests
        hooks.clock = [] { return std::time_t{1078837509}; };  // 2004/03/09 13:05:09 UTC
        addDirectory(1, "1");
    }

    void addDirectory(int dirNo, const std::string& kind, const std::optional<std::string>& chk2 = "01",
                      std::optional<std::string> dir = std::nullopt, std::optional<std::string> dest = std::nullopt) {
        state.db()
            .prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) "
                     "VALUES (?1, ?2, ?3, ?4, '', '1', '1', ?5)")
            .bind(1, dirNo).bind(2, dir.value_or(source)).bind(3, dest.value_or(destination)).bind(4, kind).bind(5, chk2)
            .run();
    }
    // A version row; relDir is relative to the source ("" for the source itself).
    void addVersion(int run, int lvl, const std::string& relDir, const std::string& name, const std::string& kbn1 = "0",
                    int dirNo = 1, std::optional<std::string> absDir = std::nullopt) {
        const std::string dir = absDir ? *absDir : relDir.empty() ? source + "/" : source + "/" + relDir + "/";
        state.db()
            .prepare("INSERT INTO FILEKANRI (BKPNO, DIRNO, LVL, DIR, FILENM, KBN1, CHK1) VALUES (?1, ?2, ?3, ?4, ?5, ?6, '1')")
            .bind(1, run).bind(2, dirNo).bind(3, lvl).bind(4, dir).bind(5, name).bind(6, kbn1)
            .run();
    }
    void addCopy(int lvl, const std::string& name, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(versionFile(lvl, name)).parent_path());
        WriteFile(versionFile(lvl, name), bytes);
    }
    // Adds a source file to a version folder's archive, as the backup does.
    void addMember(int lvl, const std::string& rel) {
        std::filesystem::create_directories(std::filesystem::path(versionFile(lvl, "")));
        ASSERT_EQ(archive::Perform(archive::AddFileRequest(versionFile(lvl, "bkpcmp.lzh"), src(rel))), 0);
    }
    std::string versionFile(int lvl, const std::string& name) const { return levelDir(lvl) + name; }
    void put(const std::string& rel, const std::string& bytes, time_t sec, long nsec = 0) {
        std::filesystem::create_directories(std::filesystem::path(src(rel)).parent_path());
        WriteFile(src(rel), bytes);
        SetMtime(src(rel), sec, nsec);
    }

    RestoreResult restore(int dirNo, int run, const std::string& mode = "1") {
        return RestoreDirectory(state, dirNo, run, RestoreOptions{restoreTest, compression, mode}, hooks);
    }
    void backUp(int run) { BackupDirectory(state, BackupOptions{false, compression}, {source, "9", "1", destination, run, 1, "01"}); }

    std::vector<std::string> rows() { return Column(state.db(), "SELECT TEXT FROM RSTRLIST ORDER BY ID"); }
    // The report file's lines decoded from code page 932; a line without
    // CR LF shows as such.
    std::vector<std::string> reportLines() {
        const std::string text = Cp932ToUtf8(ReadFile(data / "RSTRLIST.TXT")).value_or("<not cp932>");
        std::vector<std::string> out;
        std::size_t pos = 0;
        for (std::size_t end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2)
            out.push_back(text.substr(pos, end - pos));
        if (pos < text.size()) out.push_back("<no CR LF>" + text.substr(pos));
        return out;
    }

    RestoreHooks hooks;
    std::string compression = "0";  // the prefix row's flag
    bool restoreTest = false;
};

// Levels 3 (run 12), 2 (run 8) and 1 (run 5) of one file with plain copies.
TEST_F(Engine, ThreeLevelsComeBackRunByRunInBothReportModesAndTestModeTouchesNothing) {
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
    const std::string head = "  リカバリーの実施(TEST)  " + kStamp, notice = "  テストの為、リカバリーは実際には行われません！ ";
    EXPECT_EQ(rows(), (std::vector<std::string>{head, notice, Deleted(src("a.txt"), 1), head, notice, level2}));
    EXPECT_EQ(reportLines(), rows());

    restoreTest = false;
    restore(1, 10);
    EXPECT_EQ(ReadFile(src("a.txt")), "two");
    EXPECT_TRUE(ui.messages.empty());
    // The exact bytes: code page 932, CR LF.
    EXPECT_EQ(ReadFile(data / "RSTRLIST.TXT"), *Utf8ToCp932(kHead) + "\r\n" + *Utf8ToCp932(level2) + "\r\n");
    EXPECT_EQ(ui.status["FILEREV"], level2);
}

// Kind 1 deletes files first recorded after the run; kind 2 skips deletions
// and level 0; kind 9 and an undefined directory only say so.
TEST_F(Engine, EachKindDeletesSkipsOrRefusesAsItShould) {
    addVersion(7, 1, "", "a.txt");
    addVersion(0, 0, "", "a.txt");
    addCopy(0, "a.txt", "initial");
    addCopy(1, "a.txt", "later");
    addVersion(9, 1, "", "eight.txt", "8");  // a first version without a usable copy deletes nothing
    addVersion(9, 1, "", "nine.txt", "9");   // nor does one whose copy failed
    addVersion(5, 2, "Y", "b.txt");          // a first version at a raised level
    for (const char* name : {"a.txt", "eight.txt", "nine.txt", "Y/b.txt", "new.txt"}) put(name, "now", 1);
    restore(1, 4);
    EXPECT_EQ(ReadFile(src("a.txt")), "initial");
    EXPECT_TRUE(PathExists(src("eight.txt")) && PathExists(src("nine.txt")));
    EXPECT_FALSE(PathExists(src("Y/b.txt")));
    EXPECT_EQ(rows(), (std::vector<std::string>{kHead, Restored(versionFile(0, "a.txt"), src("a.txt")),
                                                Deleted(src("Y/b.txt"), 2)}));
    addDirectory(2, "2");
    addVersion(0, 0, "", "old.txt", "2", 2);
    addVersion(9, 1, "", "new.txt", "0", 2);
    addVersion(4, 1, "", "mid.txt", "0", 2);
    addCopy(1, "mid.txt", "mid");
    restore(2, 5);
    EXPECT_TRUE(PathExists(src("new.txt")));
    EXPECT_EQ(ReadFile(src("mid.txt")), "mid");
    EXPECT_EQ(rows(), (std::vector<std::string>{kHead, Restored(versionFile(1, "mid.txt"), src("mid.txt")),
                                                DeletionSkipped(src("new.txt")),
                                                Skipped(versionFile(0, "old.txt"), src("old.txt"))}));
    addDirectory(3, "9");
    addVersion(2, 1, "", "new.txt", "0", 3);
    EXPECT_EQ(restore(3, 1).failed, 1);
    EXPECT_TRUE(PathExists(src("new.txt")));
    EXPECT_EQ(restore(7, 2).failed, 1);
    EXPECT_EQ(ui.messages, (std::vector<std::string>{" 指定されたディレクトリーはバックアップ対象外です",
                                                     " 指定されたディレクトリーの定義がありません！"}));
    EXPECT_EQ(rows(), std::vector<std::string>{kHead});
    EXPECT_EQ(reportLines(), (std::vector<std::string>{kHead, " 指定されたディレクトリーの定義がありません！ 7"}));
}

// One walk with every outcome: restored (over a read-only file, into folders
// made again, a name outside code page 932), failed, skipped, deleted, gone.
TEST_F(Engine, EveryFileOfOneWalkGetsItsOwnOutcome) {
    for (const char* name : {"café😀.txt", "ro.txt", "stays.txt", "top.txt"}) addVersion(2, 1, "", name);
    addVersion(2, 1, "A/B", "deep.txt");
    for (const char* name : {"gone.txt", "here.txt"}) addVersion(9, 1, "", name);
    addVersion(9, 1, "never made", "gone too.txt");
    // Level 2 of X/a.txt failed to copy; V00002/a.txt is another file's copy.
    addVersion(6, 2, "X", "a.txt", "9");
    addVersion(5, 1, "X", "a.txt");
    for (const char* name : {"café😀.txt", "ro.txt", "top.txt", "deep.txt", "a.txt"}) addCopy(1, name, name);
    addCopy(2, "a.txt", "someone else");
    for (const char* name : {"ro.txt", "stays.txt", "here.txt", "X/a.txt"}) put(name, "old", 1);
    chmod(src("ro.txt").c_str(), 0444);
    chmod(src("stays.txt").c_str(), 0454);
    const RestoreResult result = restore(1, 6);
    EXPECT_EQ(std::make_tuple(result.restored, result.deleted, result.skipped, result.failed), std::make_tuple(4, 1, 3, 1));
    for (const char* name : {"café😀.txt", "ro.txt", "top.txt"}) EXPECT_EQ(ReadFile(src(name)), name);
    EXPECT_EQ(ReadFile(src("A/B/deep.txt")), "deep.txt");
    EXPECT_EQ(ReadFile(src("stays.txt")) + ReadFile(src("X/a.txt")), "oldold");
    EXPECT_EQ(static_cast<unsigned>(std::filesystem::status(src("stays.txt")).permissions()), 0454u)
        << "a file that could not be put back is left as it was";
    EXPECT_FALSE(PathExists(src("here.txt")));
    EXPECT_FALSE(PathExists(src("never made")));
    EXPECT_EQ(rows(), (std::vector<std::string>{
                          kHead, Restored(versionFile(1, "café😀.txt"), src("café😀.txt")), DeletionSkipped(src("gone.txt")),
                          Deleted(src("here.txt"), 1), Restored(versionFile(1, "ro.txt"), src("ro.txt")),
                          Failed(versionFile(1, "stays.txt"), src("stays.txt"), "Error:2"),
                          Restored(versionFile(1, "top.txt"), src("top.txt")),
                          Restored(versionFile(1, "deep.txt"), src("A/B/deep.txt")),
                          Skipped(versionFile(2, "a.txt"), src("X/a.txt")), DeletionSkipped(src("never made/gone too.txt"))}));
    EXPECT_EQ(ui.messages, std::vector<std::string>{"ファイルの戻しに失敗しました! FILE= " + src("stays.txt") +
                                                    "\n     RC  Error:2"});
    // Characters outside code page 932 are marked in the report file only.
    EXPECT_EQ(reportLines().at(1), Restored(versionFile(1, "caf??.txt"), src("caf??.txt")));
}

// Kind 3: the bulk archive in either command form first, then the level
// archives' members (a DIR without its trailing "/" included); a damaged
// member leaves the file as it was; a member or archive that is not there
// fails with the archiver's code.
TEST_F(Engine, KindThreeExtractsTheBulkArchiveFirstThenLevelMembers) {
    compression = "1";
    state.db().exec("UPDATE BKPDIR SET KBN = '3' WHERE DIRNO = 1");
    addDirectory(2, "3", std::nullopt);
    addVersion(0, 0, "", "bulk.txt", "2");
    addVersion(9, 1, "", "new.txt");
    addVersion(4, 1, "S", "b.txt");
    addVersion(4, 1, "", "a.txt", "0", 1, source);  // no trailing "/"
    addVersion(4, 1, "", "b.txt", "0", 2);
    std::string b = "b from S ";  // text that does not shrink to a few bytes
    for (unsigned x = 1; b.size() < 5000; x = x * 1103515245 + 12345) b += static_cast<char>('a' + (x >> 16) % 26);
    put("S/b.txt", b, 1500000000);
    put("a.txt", "a", 1500000000);
    put("bulk.txt", "what the bulk archive brings back", 1500000000);
    addMember(1, "S/b.txt");
    addMember(1, "a.txt");
    put("S/b.txt", "changed", 1);
    put("a.txt", "changed", 1);
    restore(1, 5);
    EXPECT_EQ(archiver.commands, std::vector<std::string>{"e -r2x1a2ncy " + destination + "/bkpcmp.lzh *.*"});
    EXPECT_EQ(ReadFile(src("S/b.txt")), b);
    EXPECT_EQ(ReadFile(src("a.txt")), "a");
    const std::string bulk = "  初期一括ファイルの戻しを実施しました。 " + destination + "/bkpcmp.lzh rc= ";
    EXPECT_EQ(rows(), (std::vector<std::string>{kHead, bulk + "成功", Restored(versionFile(1, "a.txt"), src("a.txt")),
                                                DeletionSkipped(src("new.txt")),
                                                Restored(versionFile(1, "b.txt"), src("S/b.txt"))}));
    EXPECT_TRUE(ui.messages.empty());
    Damage(versionFile(1, "bkpcmp.lzh"), "S/b.txt");
    put("S/b.txt", "changed", 1);
    restore(1, 5);
    EXPECT_EQ(ReadFile(src("S/b.txt")), "changed");
    EXPECT_EQ(rows().back(), Failed(versionFile(1, "b.txt"), src("S/b.txt"), "エラー　33027"));

    // The directory-only form; the bulk step fails and the level archive
    // has no member src/b.txt.
    archiver.commands.clear();
    ui.messages.clear();
    archiver.results = {0x8101};
    restore(2, 5);
    EXPECT_EQ(archiver.commands.at(0), "e -na1cy " + destination + "/bkpcmp.lzh \"" + source + "/\" *.*");
    EXPECT_EQ(ui.messages, (std::vector<std::string>{
                               "UNLHA32.DLL error return rc = 8101", " error lzh e:展開 一括 function ",
                               "UNLHA32.DLL error return rc = 8108", " error lzh e:展開 function ",
                               "ファイルの戻しに失敗しました! FILE= " + src("b.txt") + "\n     RC  エラー　33032"}));
    EXPECT_EQ(rows(), (std::vector<std::string>{kHead, bulk + "エラー　33025",
                                                Failed(versionFile(1, "b.txt"), src("b.txt"), "エラー　33032")}));
}

// Catalog rows naming other places, a directory row without a path, and a
// bulk archive shared with another directory (an old catalog) and
// extracted through a sub-directory replaced by a link: nothing is written
// outside.
TEST_F(Engine, NothingIsWrittenOutsideTheRegisteredDirectory) {
    TempDir elsewhere;
    std::filesystem::create_directories(elsewhere / "o");
    WriteFile(elsewhere / "o/x.txt", "x");
    for (const char* name : {"a.txt", "S/b.txt", "L/c.txt"}) put(name, name, 1);
    for (const std::string& dir : {elsewhere.path(), source}) {
        ASSERT_EQ(archive::Perform(archive::AddFolderRequest(destination + "/bkpcmp.lzh", dir, true)), 0);
    }
    std::filesystem::remove_all(elsewhere / "o");
    std::filesystem::remove(src("a.txt"));
    std::filesystem::remove(src("S/b.txt"));
    std::filesystem::remove_all(src("L"));
    ASSERT_EQ(symlink(elsewhere.path().c_str(), src("L").c_str()), 0);
    addDirectory(2, "1", "01", std::string());  // a row without a path
    addDirectory(3, "3", "01");
    addVersion(2, 1, "", "escape.txt", "0", 1, elsewhere.path() + "/");
    addVersion(2, 1, "", "dots.txt", "0", 1, source + "/../");
    addVersion(2, 1, "", "a.txt", "0", 2);
    for (const char* name : {"escape.txt", "dots.txt", "a.txt"}) addCopy(1, name, "bad");
    restore(1, 2);
    EXPECT_FALSE(PathExists(elsewhere / "escape.txt"));
    EXPECT_FALSE(PathExists(data / "dots.txt"));
    auto r = rows();
    ASSERT_EQ(r.size(), 3u);
    // Rows naming other places are refused as outside.
    for (std::size_t i = 1; i < r.size(); ++i) EXPECT_TRUE(r[i].ends_with(kRefused.substr(9))) << r[i];
    restore(2, 2);
    EXPECT_FALSE(PathExists(src("a.txt")));
    EXPECT_EQ(rows().back(), Failed(versionFile(1, "a.txt"), src("a.txt"), kRefused.substr(9)));

    hooks.archiver = DefaultRestoreHooks().archiver;
    restore(3, 1);
    EXPECT_EQ(ReadFile(src("a.txt")) + ReadFile(src("S/b.txt")), "a.txtS/b.txt");
    EXPECT_FALSE(PathExists(elsewhere / "o/x.txt"));
    EXPECT_FALSE(PathExists(elsewhere / "c.txt"));
    const std::string archive = destination + "/bkpcmp.lzh";
    EXPECT_EQ(rows(), (std::vector<std::string>{
                          kHead, Skipped(archive, elsewhere.path() + "/o/x.txt") + kRefused,
                          Failed(archive, src("L/c.txt"), kLinkRefusedText),
                          "  初期一括ファイルの戻しを実施しました。 " + archive + " rc= エラー　33030"}));
}

// A file's rows recorded with its directory without the final "/" (older
// catalogs) and with it are one file: each restore takes the right version
// of it once, and never deletes it for a version of the other form; a path
// selects its own files and never a sibling whose name starts alike.
TEST_F(Engine, RowsOfBothFormsOfADirectoryAreOneFileAndAPathSelectsOnlyItself) {
    addVersion(1, 1, "", "a.txt", "0", 1, source);  // no trailing "/"
    addVersion(2, 2, "", "a.txt");
    addCopy(1, "a.txt", "one");
    addCopy(2, "a.txt", "two");
    WriteFile(src("a.txt"), "now");
    EXPECT_EQ(restore(1, 1).deleted, 0);
    EXPECT_EQ(ReadFile(src("a.txt")), "one");
    EXPECT_EQ(rows(), (std::vector<std::string>{kHead, Restored(versionFile(1, "a.txt"), src("a.txt"))}));
    TempDir to;
    for (const bool overwrite : {false, true}) {
        const RestoreToSummary r = RestoreRunTo(state, 2, {source + "/a.txt"}, {to.path(), overwrite}, {});
        EXPECT_EQ(r.restored + r.skipped, 1) << overwrite;
        EXPECT_EQ(ReadFile(to / (source.substr(1) + "/a.txt")), "two");
    }
    // /S/docs, with or without its final "/", never takes /S/docs2/ or /S/docs!/ along.
    int level = 0;
    for (const char* dir : {"docs", "docs2", "docs!"}) {
        addVersion(3, ++level, dir, "f.txt");
        addCopy(level, "f.txt", dir);
    }
    for (const char* path : {"/docs", "/docs/"}) {
        TempDir only;
        EXPECT_EQ(RestoreRunTo(state, 3, {source + path}, {only.path(), false}, {}).restored, 1) << path;
        EXPECT_EQ(ReadFile(only / (source.substr(1) + "/docs/f.txt")), "docs");
        for (const char* sibling : {"/docs2", "/docs!"}) EXPECT_FALSE(PathExists(only / (source.substr(1) + sibling)));
    }
}

// X/a.txt and Y/a.txt (same name and level) stored with the compression
// switched between: each comes back from its own copy under either setting.
TEST_F(Engine, EachVersionComesFromItsOwnCopyWhateverTheSwitchSaysNow) {
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
        EXPECT_EQ(ReadFile(src("X/a.txt")) + ReadFile(src("Y/a.txt")), "from Xfrom Y");
        // A version whose own copy is gone fails; it never takes another's.
        const bool xPlain = first == "0";
        if (xPlain) std::filesystem::remove(versionFile(1, "a.txt"));
        else std::filesystem::rename(versionFile(1, "bkpcmp.lzh"), destination + "/elsewhere.lzh");
        put("X/a.txt", "changed", 1);
        put("Y/a.txt", "changed", 1);
        restore(1, 2);
        EXPECT_EQ(ReadFile(src("X/a.txt")), "changed");
        EXPECT_EQ(ReadFile(src("Y/a.txt")), xPlain ? "from Y" : "changed");
        EXPECT_EQ(rows()[1], Failed(versionFile(1, "a.txt"), src("X/a.txt"), xPlain ? "エラー　33032" : "Error:2"));
        // Verify finds what restore could not take, and a damaged member of the other's archive.
        if (xPlain) Damage(versionFile(1, "bkpcmp.lzh"), "Y/a.txt");
        std::vector<std::string> found;
        VerifyBackups(state, {}, [&](const VerifyProblem& p) { found.push_back(p.directory + p.name + ": " + p.what); });
        EXPECT_EQ(found, (std::vector<std::string>{src("X/a.txt: ") + (xPlain ? "アーカイブにこの版がありません" : "コピーがありません"),
                                                   src("Y/a.txt: ") + (xPlain ? "データが壊れています (CRC が合いません)" : "コピーがありません")}));
    }
}

// Plain copies and archive members (one of 9 MB, more than the queue
// holds), restored on worker threads, killed at any moment or stopped.
TEST_F(Engine, AKilledRestoreLeavesReportAndListAgreeingAndNoTemporaryFileOutlivesTheNextRestore) {
    const std::string body(256 * 1024, 'b'), large(9 << 20, 'l');
    auto name = [](int i) { return "d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".bin"; };
    for (int i = 0; i < 120; ++i) {
        const int lvl = i / 4 + 1;
        const std::string bytes = (i == 3 ? large : body) + std::to_string(i);
        addVersion(2, lvl, "d" + std::to_string(i % 4), "f" + std::to_string(i) + ".bin");
        put(name(i), bytes, 1500000000 + i);
        if (lvl % 2) addMember(lvl, name(i));
        else addCopy(lvl, "f" + std::to_string(i) + ".bin", bytes);
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
    // Stopped at the tenth status line: the tenth file is the last one put
    // back, and the report and the list end saying so.
    RunControl control;
    int statusLines = 0;
    ui.onStatus = [&](const std::string&) {
        if (++statusLines == 10) control.requestStop();
    };
    RestoreOptions stopping;
    stopping.control = &control;
    const RestoreResult stopped = RestoreDirectory(state, 1, 2, stopping, hooks);
    ui.onStatus = {};
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.restored, 10);
    EXPECT_EQ(control.actionsToDo, 120);
    EXPECT_EQ(control.actionsDone, 10);
    const auto r = rows();
    ASSERT_EQ(r.size(), 12u);
    EXPECT_EQ(r.back(), " 中止の指示により復元を打ち切りました。残りのファイルは戻していません！ ");
    EXPECT_EQ(reportLines(), r);
    // The next restore sweeps leftover and planted temporary files.
    WriteFile(src("d2/f9.bin.tessel-tmp-4242"), "half");  // a user's file, whatever its name says
    restore(1, 2);
    EXPECT_EQ(ReadFile(src("d2/f9.bin.tessel-tmp-4242")), "half");
    for (const auto& e : std::filesystem::recursive_directory_iterator(source))
        EXPECT_FALSE(IsTempFileName(e.path().filename().string())) << e.path();
    EXPECT_EQ(ReadFile(src("d3/f7.bin")), body + "7");
    EXPECT_EQ(ReadFile(src("d3/f3.bin")), large + "3");
}

}  // namespace
}  // namespace tessel::test
