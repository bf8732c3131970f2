// Durable or failed: write-back that fails after write() returned, files
// that change while they are read, bulk archives cut or damaged at every
// member boundary, and initial backups killed at random moments. In each
// case no row claims a copy that is not there, every lost copy is named,
// and verify --mark with a backup repairs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "archiver/archive_ops.h"
#include "archiver/archive_request.h"
#include "archiver/archiver_test_util.h"
#include "archiver/unlha.h"
#include "backup/backup_runs.h"
#include "restore/restore_directory.h"
#include "restore/restore_to.h"
#include "restore/verify.h"
#include "support/backup_fixture.h"
#include "support/archive_members.h"
#include "support/claimed_copies.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;

class Durability : public ::testing::Test, public BackupFixture {
protected:
    // The prefix row with the fixture's compression, and a registration of
    // kind `kind` for its source and destination.
    void registerAs(const std::string& kind, const std::string& done = "1") {
        state.db().exec("DELETE FROM BKPDIR");
        state.db()
            .prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES "
                     "(0, ?5, '', '0', 'PREFIX', ?6, NULL, NULL), (1, ?1, ?2, ?3, '', '1', ?4, '01')")
            .bind(1, source).bind(2, destination).bind(3, kind).bind(4, done).bind(5, data / "prefix/")
            .bind(6, options.compression).run();
    }
    BackupResult backUp(int run, const std::string& kind = "1", const std::string& initial = "9") {
        return BackupDirectory(state, options, {source, initial, kind, destination, run, 1, "01"});
    }
    std::vector<VerifyProblem> verify(bool mark = false) {
        std::vector<VerifyProblem> out;
        VerifyBackups(state, VerifyOptions{.mark = mark}, [&](const VerifyProblem& p) { out.push_back(p); });
        return out;
    }
    // A fault that fails one access (by default the write-back of the
    // folder) at `path` with EIO.
    static FileFaultHook failsAt(const std::string& path, FileAccess which = FileAccess::kSync) {
        return [=](const std::string& p, FileAccess access) { return access == which && p == path ? EIO : 0; };
    }
    std::vector<std::string> claimedThisRun(int run) {
        return Column(state.db(), "SELECT FILENM FROM FILEKANRI WHERE BKPNO = " + std::to_string(run) +
                                      " AND KBN1 IN ('0', '7') ORDER BY rowid");
    }
    void makeTree(int files) {
        MakeDirs(src("sub"));
        for (int i = 0; i < files; ++i)
            WriteFile(src((i % 2 ? "sub/f" : "f") + std::to_string(i) + ".txt"), std::string(200 + 53 * i, 'a' + i % 26));
    }
};

// Write-back failing after every write() returned: the backup claims no copy
// of the run and fails, the next one stores everything; restores fail too.
TEST_F(Durability, WriteBackThatFailsLeavesNoClaimAndFailsTheRun) {
    for (const std::string compression : {"1", "0"}) {
        SCOPED_TRACE("compression " + compression);
        state.db().exec("DELETE FROM FILEKANRI");
        fs::remove_all(destination);
        MakeDirs(destination);
        options.compression = compression;
        registerAs("1");
        makeTree(6);
        {
            ScopedFileFault fault(failsAt(destination));
            EXPECT_TRUE(backUp(1).failed());
            EXPECT_EQ(ui.messages.back(), "バックアップ先への書き込みを確定できませんでした。この回のファイルは次回保存し直します！ (" +
                                              destination + "): " + std::strerror(EIO));
        }
        EXPECT_EQ(claimedThisRun(1), std::vector<std::string>{});
        EXPECT_FALSE(backUp(2).failed());
        EXPECT_EQ(claimedThisRun(2).size(), 6u);
        EXPECT_EQ(MissingClaimedCopies(state.db(), destination, compression), std::vector<std::string>{});
        EXPECT_TRUE(verify().empty());

        // A restore whose write-back fails says so for its directory.
        fs::remove_all(source);
        ScopedFileFault fault(failsAt(source));
        const RestoreResult in = RestoreDirectory(state, 1, 2, RestoreOptions{false, compression, "1"});
        EXPECT_EQ(std::make_pair(in.restored, in.failed), std::make_pair(6, 1));
        EXPECT_EQ(Column(state.db(), "SELECT TEXT FROM RSTRLIST ORDER BY ID DESC LIMIT 1"),
                  std::vector<std::string>{" 戻したファイルの書き込みを確定できませんでした! " + source + "     RC  Error:5"});
        TempDir target;
        ScopedFileFault toFault(failsAt(target.path()));
        EXPECT_EQ(RestoreRunTo(state, 2, {}, {target.path(), false}, {}).failed, 1);
    }
}

// The same with a real disk: an ext4 image on a full tmpfs, where the
// kernel loses the pages it cannot write back (root only).
TEST_F(Durability, ALoopFileSystemOnAFullTmpfsLosesWritesAndTheRunSaysSo) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
    TempDir t;
    const std::string backing = t / "backing", mnt = t / "mnt";
    MakeDirs(backing);
    MakeDirs(mnt);
    if (::mount("tmpfs", backing.c_str(), "tmpfs", 0, "size=24m") != 0) GTEST_SKIP() << "no tmpfs";
    const bool ready = Shell("truncate -s 96m " + ShellQuote(backing + "/img") + " && mkfs.ext4 -q -F " +
                             ShellQuote(backing + "/img") + " && mount -o loop " + ShellQuote(backing + "/img") + " " +
                             ShellQuote(mnt) + " 2>/dev/null") == 0;
    if (!ready) {
        ::umount(backing.c_str());
        GTEST_SKIP() << "no loop device";
    }
    Shell("dd if=/dev/zero of=" + ShellQuote(backing + "/fill") + " bs=1M count=64 2>/dev/null");
    destination = mnt + "/dest";
    MakeDirs(destination);
    registerAs("1");
    options.compression = "0";
    for (int i = 0; i < 8; ++i) WriteFile(src("big" + std::to_string(i)), std::string(4 << 20, static_cast<char>('a' + i)));
    EXPECT_TRUE(backUp(1).failed());
    EXPECT_EQ(claimedThisRun(1), std::vector<std::string>{});
    Shell("umount " + ShellQuote(mnt) + " 2>/dev/null");
    ::umount(backing.c_str());
    // Archives on a destination that fills up: each failed file says why.
    ASSERT_EQ(::mount("tmpfs", backing.c_str(), "tmpfs", 0, "size=3m"), 0);
    destination = backing + "/dest";
    MakeDirs(destination);
    registerAs("1");
    options.compression = "1";
    WriteFile(src("noise"), Noise(8 << 20, 3));
    EXPECT_TRUE(backUp(2).failed());
    EXPECT_TRUE(std::any_of(ui.messages.begin(), ui.messages.end(), [](const std::string& m) {
        return m.find("エラー　33028\n" + std::string(std::strerror(ENOSPC))) != std::string::npos;
    }));
    ::umount(backing.c_str());
}

// A file written to while it is read: read again once; a file still
// changing is refused; the row of a file stored after it changed describes
// what was stored.
TEST_F(Durability, AFileThatChangesWhileItIsReadIsReadAgainThenRefused) {
    registerAs("1");
    options.compression = "1";
    WriteFile(src("settles.txt"), "first");
    WriteFile(src("grows.txt"), "first");
    backUp(1);
    WriteFile(src("settles.txt"), "second");
    WriteFile(src("grows.txt"), "second");
    // The archiver call of each file appends to it right after reading it:
    // "settles" only the first time.
    std::map<std::string, int> calls;
    const ArchiverCall archiver = [&](const archive::ArchiveRequest& r) {
        const std::int32_t rc = archive::Perform(r);
        const std::string name = fs::path(r.path).filename();
        if (name == "grows.txt" || (name == "settles.txt" && calls[name]++ == 0))
            std::ofstream(r.path, std::ios::app) << " and more";
        return rc;
    };
    EXPECT_TRUE(
        BackupDirectory(state, options, {source, "9", "1", destination, 2, 1, "01"}, archiver).failed());
    EXPECT_EQ(Column(state.db(), "SELECT FILENM || ' ' || KBN1 || ' ' || FSIZE FROM FILEKANRI WHERE BKPNO = 2 ORDER BY FILENM"),
              (std::vector<std::string>{"grows.txt 9 6", "settles.txt 0 15"}));
    EXPECT_NE(std::find(ui.messages.begin(), ui.messages.end(),
                        "ファイルが読み取り中に変更され続けたため、バックアップできません！ (" + src("grows.txt") + ")"),
              ui.messages.end());
    // What the archive holds for settles.txt is what its row says.
    const auto members = ListMembers(levelDir(2) + "bkpcmp.lzh");
    EXPECT_EQ(members.at(MemberPath(src("settles.txt"))), 15u);
    EXPECT_TRUE(verify().empty());
    // The next run stores the file that kept changing.
    EXPECT_FALSE(backUp(3).failed());
    EXPECT_EQ(claimedThisRun(3), std::vector<std::string>{"grows.txt"});

    // The archiver itself refuses a file that grows while it reads it.
    const std::string big = src("big.bin");
    WriteFile(big, std::string(32 << 20, 'x'));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop) {
            std::ofstream(big, std::ios::app) << "y";
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    EXPECT_EQ(archive::Perform(archive::AddFileRequest(data / "grow.lzh", big)), kUnlhaSourceChanged);
    stop = true;
    writer.join();
}

// An initial bulk archive cut at each member boundary (or with one byte of
// the header there changed, outside the name): verify names every file the
// archive no longer holds, a restore reports each one it cannot bring back
// and leaves it as it was, and verify --mark with a backup stores them again.
TEST_F(Durability, ABulkArchiveCutOrDamagedAtEveryMemberBoundaryIsFoundAndRepaired) {
    options.compression = "1";
    makeTree(5);
    registerAs("3", "0");
    ASSERT_FALSE(RunInitialBackups(state, RealBackupEngine()).failed());
    EXPECT_EQ(Column(state.db(), "SELECT CHK1 FROM BKPDIR WHERE DIRNO = 1"), std::vector<std::string>{"1"});
    // The tree as backed up, times included, to put back after each round.
    ASSERT_EQ(Shell("cp -a " + ShellQuote(source) + " " + ShellQuote(source + ".orig")), 0);
    const std::string putBack =
        "rm -rf " + ShellQuote(source) + " && cp -a " + ShellQuote(source) + ".orig " + ShellQuote(source);
    const std::string bulk = dst("bkpcmp.lzh");
    const std::string whole = ReadFile(bulk);
    const std::vector<lzh::Member> members = Members(bulk);
    ASSERT_EQ(members.size(), 5u);
    for (std::size_t k = 0; k < members.size(); ++k) {
        for (const bool damaged : {false, true}) {
            SCOPED_TRACE("member " + std::to_string(k) + (damaged ? " damaged" : " cut"));
            std::string bytes = whole;
            if (damaged) bytes[members[k].headerOffset + 15] ^= 1;  // the last-write time
            else bytes = bytes.substr(0, members[k].headerOffset) + std::string(1, '\0');
            WriteFile(bulk, bytes);
            UnlhaDropIndexCache();
            std::set<std::string> lost;
            for (std::size_t j = k; j < members.size(); ++j) lost.insert(fs::path(members[j].path).filename());
            std::set<std::string> named;
            for (const VerifyProblem& p : verify())
                if (p.name != "bkpcmp.lzh") named.insert(p.name);
            EXPECT_EQ(named, lost);
            // In place, every file changed: the lost ones each have a failure line.
            for (const lzh::Member& m : members) WriteFile("/" + m.path, "changed");
            const RestoreResult r = RestoreDirectory(state, 1, 0, RestoreOptions{false, "1", "1"});
            // A damaged archive fails as a whole too.
            EXPECT_EQ(r.failed, static_cast<int>(lost.size()) + (damaged ? 1 : 0));
            for (const std::string& name : lost)
                EXPECT_EQ(Column(state.db(), "SELECT count(*) FROM RSTRLIST WHERE TEXT LIKE '%ファイルの戻しに失敗しました!%" +
                                                 name + "%'"),
                          std::vector<std::string>{"1"})
                    << name;
            for (const lzh::Member& m : members)
                EXPECT_EQ(ReadFile("/" + m.path) == "changed", lost.count(fs::path(m.path).filename()) > 0) << m.path;
            ASSERT_EQ(Shell(putBack), 0);
        }
    }
    // Unreadable for now: every file fails, and one changed at its recorded
    // size keeps its own time, for the next backup to see the change.
    {
        ScopedFileFault eio(failsAt(bulk, FileAccess::kOpenForRead));
        const std::string first = "/" + members[0].path;
        WriteFile(first, std::string(ReadFile(first).size(), 'x'));
        const auto changed = fs::last_write_time(first);
        EXPECT_GE(RestoreDirectory(state, 1, 0, RestoreOptions{false, "1", "1"}).failed, 5);
        EXPECT_EQ(fs::last_write_time(first), changed);
        ASSERT_EQ(Shell(putBack), 0);
    }
    // Cut after the second member: --mark, then a backup stores the rest.
    WriteFile(bulk, whole.substr(0, members[2].headerOffset) + std::string(1, '\0'));
    UnlhaDropIndexCache();
    EXPECT_EQ(verify(true).size(), 3u);
    EXPECT_FALSE(backUp(1).failed());
    EXPECT_EQ(claimedThisRun(1).size(), 3u);
    EXPECT_TRUE(verify().empty());
}

// A level archive zeroed over a member's header and on past 64 KiB, with a
// member behind: verify names the archive; the next backup adds nothing to
// it (every byte stays for a repair) and stores the new first version at
// the next level, saying so once; that version comes back.
TEST_F(Durability, ALevelArchiveDamagedInTheMiddleKeepsItsBytesAndNewVersionsGoToTheNextLevel) {
    options.compression = "1";
    registerAs("1");
    WriteFile(src("a.txt"), "a");
    WriteFile(src("b.bin"), Noise(200 << 10, 5));
    WriteFile(src("c.txt"), "c");
    ASSERT_FALSE(backUp(1).failed());
    const std::string level1 = dst("V00001/bkpcmp.lzh");
    const std::vector<lzh::Member> members = Members(level1);
    ASSERT_EQ(members.size(), 3u);
    // An archive the disk cannot read now, or a destination not there (a
    // drive not mounted), is said, and --mark takes no copy for lost; nor
    // does a file of a version's name beside the archive stand in for it.
    WriteFile(dst("V00001/a.txt"), "stray");
    {
        ScopedFileFault eio(failsAt(level1, FileAccess::kOpenForRead));
        UnlhaDropIndexCache();
        EXPECT_EQ(verify(true).size(), 3u);
        EXPECT_EQ(RestoreDirectory(state, 1, 1, RestoreOptions{false, "1", "1"}).failed, 3);
    }
    EXPECT_EQ(ReadFile(src("a.txt")), "a");
    fs::remove(dst("V00001/a.txt"));
    fs::rename(destination, data / "unmounted");
    EXPECT_EQ(verify(true).size(), 3u);
    fs::rename(data / "unmounted", destination);
    const std::string kbn1 = "SELECT group_concat(KBN1, '') FROM FILEKANRI";
    EXPECT_EQ(Column(state.db(), kbn1), std::vector<std::string>{"000"});
    // An archive that is not one any more: its versions are lost, and marked.
    const std::string whole = ReadFile(level1);
    WriteFile(level1, std::string(100, 'x'));
    EXPECT_EQ(verify(true).size(), 3u);
    EXPECT_EQ(Column(state.db(), kbn1), std::vector<std::string>{"999"});
    WriteFile(level1, whole);
    state.db().exec("UPDATE FILEKANRI SET KBN1 = '0'");
    ui.messages.clear();
    std::string bytes = ReadFile(level1);
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(members[1].headerOffset), 70000, '\0');
    WriteFile(level1, bytes);
    UnlhaDropIndexCache();
    std::vector<std::string> named;
    for (const VerifyProblem& p : verify()) named.push_back(p.directory + p.name + " " + p.what);
    EXPECT_EQ(named, (std::vector<std::string>{src("b.bin") + " アーカイブにこの版がありません", src("c.txt") + " アーカイブにこの版がありません",
                                               levelDir(1) + "bkpcmp.lzh アーカイブの途中が壊れています (後ろの版は読めず、追加もできません)"}));

    WriteFile(src("d.txt"), "new after the damage");
    const BackupResult r = backUp(2);
    EXPECT_EQ(std::make_tuple(r.failed(), r.warnings), std::make_tuple(false, 1));
    EXPECT_EQ(ui.messages, std::vector<std::string>{
                               "書庫が途中で壊れているため、この書庫には追加せず、次の版のフォルダーに保存します！ (" + level1 + ")"});
    EXPECT_EQ(ReadFile(level1), bytes);
    ASSERT_EQ(rowsOf("d.txt").size(), 1u);
    EXPECT_EQ(std::make_tuple(rowsOf("d.txt")[0].lvl, rowsOf("d.txt")[0].kbn1), std::make_tuple(std::int64_t{2}, std::string("0")));
    fs::remove(src("d.txt"));
    EXPECT_EQ(RestoreDirectory(state, 1, 2, RestoreOptions{false, "1", "1"}).failed, 2);  // b.bin and c.txt are lost
    EXPECT_EQ(ReadFile(src("d.txt")), "new after the damage");
    // A plain copy too: beside the damaged archive, V00001/c.txt would be
    // taken for the hidden member's copy.
    options.compression = "0";
    MakeDirs(src("sub"));
    WriteFile(src("sub/c.txt"), "plain after the damage");
    EXPECT_FALSE(backUp(3).failed());
    EXPECT_EQ(rowsOf("c.txt", "sub").at(0).lvl, 2);
    EXPECT_EQ(ReadFile(levelDir(2) + "c.txt"), "plain after the damage");
    EXPECT_EQ(verify().size(), named.size());
}

// Files of 4 GiB or more are kept as plain copies (other LHA tools read
// 32-bit sizes), holes and all, and come back with their holes; a file
// whose first bytes do not shrink but which is mostly zero bytes further on
// is compressed to the end; one that does not shrink at all, larger than
// the encoder holds, is stored as it is. Our own reader alone brings each back.
TEST_F(Durability, HugeSparseMostlyZeroAndIncompressibleFilesAreKeptCompactlyAndComeBack) {
    options.compression = "1";
    registerAs("1");
    const std::string huge = src("disk.img");
    const off_t size = (4ll << 30) + 12345;
    const std::pair<off_t, std::string> marks[] = {{0, "head"}, {3ll << 30, "middle"}, {size - 4, "tail"}};
    {
        std::ofstream out(huge, std::ios::binary);
        for (const auto& [at, text] : marks) out.seekp(at).write(text.data(), text.size());
    }
    std::string image(64 << 20, '\0');
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < (1u << 20); ++i) image[i] = static_cast<char>(rng());
    WriteFile(src("mostly-zero.img"), image);
    const std::string noise = image.substr(0, 3 << 18);  // its random part only
    WriteFile(src("noise.bin"), noise);
    ASSERT_FALSE(backUp(1).failed());
    EXPECT_EQ(ListMembers(levelDir(1) + "bkpcmp.lzh").count(MemberPath(huge)), 0u);
    struct stat st {};
    ASSERT_EQ(::stat((levelDir(1) + "disk.img").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, size);
    EXPECT_LT(st.st_blocks * 512, 64ll << 20) << "the copy keeps the holes";
    for (const auto& m : Members(levelDir(1) + "bkpcmp.lzh")) {
        if (m.path == MemberPath(src("mostly-zero.img"))) {
            EXPECT_EQ(m.method, "-lh7-");
            EXPECT_LT(m.compressedSize, 2u << 20);
        }
        if (m.path == MemberPath(src("noise.bin"))) EXPECT_EQ(m.method, "-lh0-");
    }
    EXPECT_TRUE(verify().empty());

    for (const char* name : {"mostly-zero.img", "noise.bin"}) fs::remove(src(name));
    fs::remove(huge);
    EXPECT_EQ(RestoreDirectory(state, 1, 1, RestoreOptions{false, "1", "1"}).failed, 0);
    ASSERT_EQ(::stat(huge.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, size);
    EXPECT_LT(st.st_blocks * 512, 64ll << 20) << "restored with its holes";
    std::ifstream in(huge, std::ios::binary);
    for (const auto& [at, text] : marks) {
        std::string back(text.size(), '\0');
        EXPECT_TRUE(in.seekg(at).read(back.data(), back.size()));
        EXPECT_EQ(back, text);
    }
    EXPECT_TRUE(ReadFile(src("mostly-zero.img")) == image);
    EXPECT_TRUE(ReadFile(src("noise.bin")) == noise);
}

// An initial backup killed at random moments is either done with all its
// rows or not done with none, and the next press completes it.
TEST_F(Durability, AnInitialBackupKilledAtRandomIsDoneWithItsRowsOrNotAtAll) {
    options.compression = "1";
    makeTree(30);
    std::mt19937 rng(30);
    for (const std::string kind : {"1", "3"}) {
        for (int round = 0; round < 6; ++round) {
            SCOPED_TRACE(kind + " round " + std::to_string(round));
            state.db().exec("DELETE FROM FILEKANRI");
            fs::remove_all(destination);
            MakeDirs(destination);
            registerAs(kind, "0");
            state.catalog.reset();
            const pid_t pid = fork();
            if (pid == 0) {
                RecordingUi quiet;
                FakeSystem system;
                SharedState child(quiet, system);
                child.catalog = Connection::openFile(data / "filebkp.mdb");
                RunInitialBackups(child, RealBackupEngine());
                _exit(0);
            }
            ::usleep(std::uniform_int_distribution<useconds_t>(0, 60000)(rng));
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            state.catalog = Connection::openFile(data / "filebkp.mdb");
            const std::string done = Column(state.db(), "SELECT CHK1 FROM BKPDIR WHERE DIRNO = 1").at(0);
            const std::string rows = Column(state.db(), "SELECT count(*) FROM FILEKANRI").at(0);
            EXPECT_TRUE((done == "1" && rows == "30") || (done == "0" && rows == "0")) << done << " " << rows;
            EXPECT_EQ(MissingClaimedCopies(state.db(), destination, "1"), std::vector<std::string>{});
            EXPECT_FALSE(RunInitialBackups(state, RealBackupEngine()).failed());
            EXPECT_EQ(Column(state.db(), "SELECT CHK1 || ' ' || (SELECT count(*) FROM FILEKANRI) FROM BKPDIR WHERE DIRNO = 1"),
                      std::vector<std::string>{"1 30"});
            EXPECT_TRUE(verify().empty());
        }
    }
}

}  // namespace
}  // namespace tessel::test
