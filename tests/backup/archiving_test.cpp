// Storing versions: archiver requests, plain copies, failures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>

#include "archiver/archive_ops.h"
#include "archiver/archiver_test_util.h"
#include "catalog/scan_rules.h"
#include "engine/run_control.h"
#include "support/backup_fixture.h"

namespace tessel::test {
namespace {

std::string Storing(const std::string& path) { return " ﾌｧｲﾙ　" + path + " をﾊﾞｯｸｱｯﾌﾟしています。"; }

const ArchiverCall real = [](const archive::ArchiveRequest& r) { return archive::Perform(r); };

// A failing or throwing archiver marks the row "9" and the run goes on; the
// archiver's code and the engine's complaint are shown even when silent.
TEST(Archive, ArchiverFailureMarksTheRowAndTheRunGoesOn) {
    BackupFixture f;
    f.options.compression = "1";
    f.options.silent = true;
    for (const char* n : {"a.txt", "b.txt", "c.txt"}) WriteFile(f.src(n), n);
    f.archiver.results = {-3};
    f.archiver.throwOnCall = 1;
    f.run("9", "1", 1);
    EXPECT_EQ(f.ui.messages, (std::vector<std::string>{"UNLHA32.DLL error return rc = FFFFFFFD", " error lzh u:追加･更新 function ",
                                                       "ファイルのコピーで判別できないエラーが発生しました! FILE= " + f.src("b.txt")}));
    EXPECT_EQ(f.rowsOf("a.txt")[0].kbn1 + f.rowsOf("b.txt")[0].kbn1 + f.rowsOf("c.txt")[0].kbn1, "990");
}

// Plain copies check the file themselves: what vanished, turned into a FIFO
// or cannot be opened since the scan gets "9", silently when silent.
TEST(Archive, FilesThatVanishOrTurnSpecialOrUnreadableBeforeCopyingGetCodeNine) {
    BackupFixture f;
    f.options.compression = "0";
    for (const char* n : {"fine.txt", "gone.txt", "locked.txt", "pipe"}) WriteFile(f.src(n), n);
    f.ui.onStatus = [&](const std::string& text) {
        if (text != Storing(f.src("fine.txt"))) return;
        unlink(f.src("gone.txt").c_str());
        unlink(f.src("pipe").c_str());
        mkfifo(f.src("pipe").c_str(), 0644);
        f.options.silent = true;  // what follows is stored silently
    };
    ScopedFileFault fault([&](const std::string& path, FileAccess access) {
        return access == FileAccess::kOpenForRead && path == f.src("locked.txt") ? EACCES : 0;
    });
    f.run("9", "1", 1);
    EXPECT_EQ(f.rowsOf("fine.txt")[0].kbn1, "0");
    for (std::string n : {"gone.txt", "pipe", "locked.txt"}) EXPECT_EQ(f.rowsOf(n)[0].kbn1, "9") << n;
    EXPECT_EQ(f.ui.messages, std::vector<std::string>{});
    EXPECT_TRUE(f.archiver.commands.empty());
    EXPECT_EQ(ReadFile(f.dst("V00001/fine.txt")), "fine.txt");
}

// The real archiver, one call per file and one add per archive on 1 and 3
// threads: the same archive, rows and messages. A file that vanished or
// turned into a FIFO since the scan is refused without blocking; the next
// run finds every file again.
TEST(Archive, OneAddPerArchiveOnAnyNumberOfJobsStoresWhatOneCallPerFileStores) {
    BackupFixture f;
    f.options.compression = "1";
    MakeDirs(f.src("T"));
    const std::string noise = Noise(200000, 7);
    std::vector<std::string> archives;
    std::vector<std::vector<std::string>> rows, messages;
    for (unsigned jobs : {0u, 1u, 3u}) {
        for (int i = 0; i < 30; ++i) {
            const std::string path = f.src("T/f" + std::to_string(i));
            unlink(path.c_str());
            WriteFile(path, i % 2 ? noise.substr(i * 997) : std::string(9000 * i, 'a' + i % 26) + noise.substr(0, i * 50));
            SetMtime(path, 1700000000 + i);
        }
        f.ui.onStatus = [&](const std::string& text) {
            if (text != Storing(f.src("T/f3"))) return;
            unlink(f.src("T/f7").c_str());
            unlink(f.src("T/f9").c_str());
            mkfifo(f.src("T/f9").c_str(), 0644);
        };
        f.state.db().exec("DELETE FROM FILEKANRI");
        std::filesystem::remove_all(f.dst("V00001"));
        UnlhaDropIndexCache();
        f.ui.messages.clear();
        const ArchiverAddEach addEach = [jobs](const std::string& root, const std::string& a,
                                               const std::vector<std::string>& files) {
            return archive::AddEach(root, a, files, jobs);
        };
        BackupDirectory(f.state, f.options, {f.source, "9", "1", f.destination, 1, 1, "01"}, real, jobs ? addEach : ArchiverAddEach{});
        archives.push_back(ReadFile(f.dst("V00001/bkpcmp.lzh")));
        messages.push_back(f.ui.messages);
        rows.push_back(Column(f.state.db(), "SELECT DIR || FILENM || ' ' || LVL || ' ' || KBN1 "
                                            "FROM FILEKANRI ORDER BY rowid"));
    }
    EXPECT_TRUE(archives[1] == archives[0] && archives[2] == archives[0]);
    std::vector<std::string> once;
    // Each failure names the file and the cause.
    for (auto [n, cause] : {std::pair{"T/f7", "No such file or directory"}, std::pair{"T/f9", "通常のファイルではなくなっています"}})
        once.insert(once.end(), {"UNLHA32.DLL error return rc = 8107", " error lzh u:追加･更新 function ",
                                 "ファイルのコピーに失敗しました! FILE= " + f.src(n) + "\n     RC  エラー　33031\n" + cause});
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_EQ(rows[pass], rows[0]);
        EXPECT_EQ(messages[pass], once) << pass;
    }
    EXPECT_EQ(std::count(rows[0].begin(), rows[0].end(), f.src("T/f7") + " 1 9"), 1);
    const std::string level1 = f.dst("V00001/bkpcmp.lzh");
    const auto paths = MemberPaths(level1);
    EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()).size(), 28u);
    EXPECT_EQ(Shell("lhasa t " + ShellQuote(level1) + " >/dev/null 2>&1"), 0);
    BackupDirectory(f.state, f.options, {f.source, "9", "1", f.destination, 2, 1, "01"}, real);
    EXPECT_EQ(f.rows().size(), rows[0].size());
}

// With an archiver call of the caller's, a bulk backup is one folder add;
// with the program's own, the bulk archive holds exactly the files the scan
// recorded (code "2"): what patterns and hidden folders leave out never
// reaches the destination, and an empty source gets an empty archive.
TEST(Archive, BulkKindArchivesTheRecordedFilesOnceAndRecordsCodeTwo) {
    BackupFixture f;
    f.options.compression = "1";
    for (const char* d : {"A", ".hidden"}) MakeDirs(f.src(d));
    for (const char* n : {"a.txt", "A/b.txt", "secret.key", ".hidden/h.txt"}) WriteFile(f.src(n), n);
    {
        Transaction t(f.state.db());
        WriteScanPatterns(f.state.db(), 1, {"*.key"});
        t.commit();
    }
    f.run("1", "3", 0);
    EXPECT_EQ(f.archiver.commands,
              (std::vector<std::string>{"u -d1n " + f.dst("bkpcmp.lzh") + " \"" + f.source + "/*.*\""}));
    EXPECT_EQ(RowFiles(f, true), (std::vector<std::string>{"A/b.txt", "a.txt"}));
    f.state.db().exec("DELETE FROM FILEKANRI");
    const BackupResult r =
        BackupDirectory(f.state, f.options, {f.source, "1", "3", f.destination, 0, 1, "01"});
    EXPECT_EQ(std::make_tuple(r.failures, r.versionsStored), std::make_tuple(0, std::int64_t{2}));
    EXPECT_EQ(Column(f.state.db(), "SELECT DISTINCT KBN1 FROM FILEKANRI"), std::vector<std::string>{"2"});
    std::vector<std::string> members = MemberPaths(f.dst("bkpcmp.lzh"));
    std::sort(members.begin(), members.end());
    EXPECT_EQ(members, (std::vector<std::string>{f.src("A/b.txt").substr(1), f.src("a.txt").substr(1)}));

    BackupFixture g;
    g.options.compression = "1";
    EXPECT_FALSE(BackupDirectory(g.state, g.options, {g.source, "1", "3", g.destination, 0, 1, "01"}).failed());
    EXPECT_EQ(ReadFile(g.dst("bkpcmp.lzh")), std::string(1, '\0'));
}

// An initial bulk backup stopped after its first batch leaves what it
// added; the next one keeps those members as they are (the archive is not
// rewritten) and adds the rest, each file once.
TEST(Archive, AStoppedBulkBackupGoesOnFromWhereItStopped) {
    BackupFixture f;
    f.options.compression = "1";
    for (int i = 0; i < 300; ++i) WriteFile(f.src("f" + std::to_string(1000 + i)), "file " + std::to_string(i));
    RunControl control;
    f.options.control = &control;
    int batches = 0;
    f.ui.onStatus = [&](const std::string& text) {
        if (text.ends_with(" をﾊﾞｯｸｱｯﾌﾟしています。") && ++batches == 2) control.requestStop();
    };
    EXPECT_TRUE(BackupDirectory(f.state, f.options, {f.source, "1", "3", f.destination, 0, 1, "01"}).stopped);
    EXPECT_TRUE(f.rows().empty());
    struct stat before {};
    ASSERT_EQ(::stat(f.dst("bkpcmp.lzh").c_str(), &before), 0);
    EXPECT_EQ(MemberPaths(f.dst("bkpcmp.lzh")).size(), 256u);
    f.options.control = nullptr;
    EXPECT_FALSE(BackupDirectory(f.state, f.options, {f.source, "1", "3", f.destination, 0, 1, "01"}).failed());
    struct stat after {};
    ASSERT_EQ(::stat(f.dst("bkpcmp.lzh").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    std::vector<std::string> members = MemberPaths(f.dst("bkpcmp.lzh"));
    EXPECT_EQ(std::set<std::string>(members.begin(), members.end()).size(), 300u);
    EXPECT_EQ(members.size(), 300u);
    EXPECT_EQ(f.rows().size(), 300u);
}

// A stop asked for while a file is being compressed gives the file up at
// once: the run stores nothing, and no archive holds the file.
TEST(Archive, AStopEndsTheAddOfTheFileBeingCompressed) {
    BackupFixture f;
    f.options.compression = "1";
    WriteFile(f.src("big.bin"), Noise(8 << 20, 7));
    RunControl control;
    f.options.control = &control;
    f.ui.onStatus = [&](const std::string& text) {
        if (text == Storing(f.src("big.bin"))) control.requestStop();
    };
    const BackupResult r = BackupDirectory(f.state, f.options, {f.source, "9", "1", f.destination, 1, 1, "01"});
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(r.failures, 0);
    EXPECT_TRUE(f.rows().empty());
    EXPECT_FALSE(std::filesystem::exists(f.dst("V00001/bkpcmp.lzh")));
}

}  // namespace
}  // namespace tessel::test
