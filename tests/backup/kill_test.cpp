// A killed or stopped backup leaves a catalog that opens and never claims a copy that is not there.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>

#include "support/archive_members.h"
#include "support/claimed_copies.h"
#include "archiver/archive_request.h"
#include "support/backup_fixture.h"

namespace tessel::test {
namespace {

constexpr int kFiles = 40;

struct KillPoint {
    int status = -1;        // at the n-th status text
    int afterArchive = -1;  // right after the n-th archiver call returned
    bool afterRun = false;  // after the last call returned (everything committed)
};

// File i of the tree: ten names in three directories, some files twice.
std::string TreeFile(const BackupFixture& f, int i) {
    return f.src((i % 3 == 0 ? "" : i % 3 == 1 ? "d1/" : "d1/d2/") + ("f" + std::to_string(i % 10) + ".txt"));
}

void MakeTree(BackupFixture& f) {
    MakeDirs(f.src("d1/d2"));
    for (int i = 0; i < kFiles; ++i) WriteFile(TreeFile(f, i), std::string(100 + i * 37, 'a' + i % 26));
}

// Changes every fifth file; half of those go back in time so they are recorded as older ("7").
void ChangeSome(const BackupFixture& f, int round) {
    for (int i = round % 5; i < kFiles; i += 5) {
        if ((i / 5 + round) % 2 == 0)
            SetMtime(TreeFile(f, i), 1600000000 - round * 864000);
        else
            WriteFile(TreeFile(f, i), std::string(50 + round * 13 + i, 'z'));
    }
}

// In a child process: `runs` backups from `firstRun` on, dying at the kill point.
[[noreturn]] void Child(const BackupFixture& f, const std::string& compression, int firstRun, int runs, KillPoint kill) {
    KillingUi ui;
    ui.killAt = kill.status;
    FakeSystem system;
    SharedState state(ui, system);
    state.catalog = Connection::openFile(f.data / "filebkp.mdb");
    const BackupOptions options{false, compression};
    int archiverCalls = 0;
    ArchiverCall archiver = [&](const archive::ArchiveRequest& request) {
        std::int32_t rc = archive::Perform(request);
        if (++archiverCalls == kill.afterArchive) raise(SIGKILL);
        return rc;
    };
    for (int r = 0; r < runs; ++r) {
        ChangeSome(f, firstRun + r);
        BackupDirectory(state, options, {f.source, firstRun + r == 0 ? "1" : "9", "1", f.destination, firstRun + r, 1, "01"}, archiver);
    }
    if (kill.afterRun) raise(SIGKILL);
    _exit(0);
}

// Checks every claimed copy ("0", "7") and one latest row per file, current after a complete run; returns the "7" rows.
int Verify(BackupFixture& f, const std::string& compression, bool complete = false) {
    f.state.catalog = Connection::openFile(f.data / "filebkp.mdb");
    EXPECT_EQ(Column(f.state.db(), "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    EXPECT_EQ(MissingClaimedCopies(f.state.db(), f.destination, compression), std::vector<std::string>{});
    int older = 0;
    for (const auto& r : f.rows()) {
        if (complete && r.chk1 == "1") {
            FileTimes now = ReadFileTimes(r.dir + r.filenm);
            EXPECT_TRUE(r.fupdate == now.lastWrite.high && r.fuptime == now.lastWrite.low && r.fsize == now.size) << r.filenm;
        }
        older += r.kbn1 == "7";
    }
    EXPECT_EQ(Column(f.state.db(), "SELECT FILENM || ' has latest rows: ' || sum(CHK1 = '1') FROM FILEKANRI "
                                   "GROUP BY DIR, FILENM HAVING sum(CHK1 = '1') <> 1"),
              std::vector<std::string>{});
    f.state.catalog.reset();
    return older;
}

int RunChild(BackupFixture& f, const std::string& compression, int firstRun, int runs, KillPoint kill) {
    f.state.catalog.reset();  // the child opens its own connection
    pid_t pid = fork();
    if (pid == 0) Child(f, compression, firstRun, runs, kill);
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

class Killed : public ::testing::TestWithParam<std::string> {};

TEST_P(Killed, AtChosenPoints) {
    const std::string compression = GetParam();
    std::vector<KillPoint> points = {{1}, {2}, {9}, {25}, {41}, {60}, {-1, -1, true}};
    if (compression == "1") points.insert(points.end(), {{-1, 1}, {-1, 5}, {-1, 12}});
    for (const KillPoint& p : points) {
        SCOPED_TRACE("status " + std::to_string(p.status) + " archive " + std::to_string(p.afterArchive));
        BackupFixture f;
        MakeTree(f);
        // One complete run first, so that later runs look files up.
        ASSERT_TRUE(WIFEXITED(RunChild(f, compression, 0, 1, {})));
        ASSERT_TRUE(WIFSIGNALED(RunChild(f, compression, 1, 2, p)));
        const int older = Verify(f, compression);
        if (p.afterRun || p.afterArchive == 12) {
            EXPECT_GT(older, 0) << "older files were recorded before the kill";
        }
        // A later run completes normally over whatever the killed one left.
        ASSERT_TRUE(WIFEXITED(RunChild(f, compression, 10, 1, {})));
        EXPECT_GT(Verify(f, compression, true), 0) << "the runs record older files too";
    }
}

// A folder that takes no new entry, for root too (the immutable flag, where
// the file system has it), until the end of the scope.
class NoNewEntries {
public:
    explicit NoNewEntries(std::string path) : path_(std::move(path)) {
        ::chmod(path_.c_str(), 0555);
        if (::geteuid() == 0) immutable_ = setImmutable(true);
    }
    ~NoNewEntries() {
        if (immutable_) setImmutable(false);
        ::chmod(path_.c_str(), 0755);
    }
    bool holds() const { return ::geteuid() != 0 || immutable_; }

private:
    bool setImmutable(bool on) {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0) ::close(fd);
        return done;
    }
    std::string path_;
    bool immutable_ = false;
};

// A stop asked for through the run's control ends the call after the
// current file. Before anything of the call was stored the call is undone;
// once copies exist, what was stored stays recorded, the rest (older files,
// "7", too) is marked as having no copy ("9"), and the next run stores it.
// A version folder that cannot be made ends the run the same way.
TEST_P(Killed, OrStoppedAfterTheCurrentFileOrEndedByAFolderThatCannotBeMade) {
    const std::string compression = GetParam();
    const ArchiverCall archiver = [](const archive::ArchiveRequest& r) { return archive::Perform(r); };
    constexpr int kDistinct = 30, kChanged = 6;  // the tree's files, and those ChangeSome(1) changes
    struct Case {
        int stopAt;         // the n-th status text of the second run asks for the stop; 0: no folder can be made
        std::string codes;  // of the second run's rows: / f1, / f6, d1/f1, d1/f6, d1/d2/f1, d1/d2/f6
    };
    // A check line per file comes first, then a line per stored file.
    for (const Case& c : {Case{10, ""}, Case{kDistinct, ""}, Case{kDistinct + 3, "070999"},
                          Case{kDistinct + kChanged, "070707"}, Case{0, "999999"}}) {
        SCOPED_TRACE("stop at status " + std::to_string(c.stopAt));
        BackupFixture f;
        MakeTree(f);
        RunControl control;
        const BackupOptions options{false, compression, 0, &control};
        ASSERT_FALSE(BackupDirectory(f.state, options, {f.source, "1", "1", f.destination, 0, 1, "01"}, archiver).stopped);
        ChangeSome(f, 1);
        int statusTexts = 0;
        f.ui.onStatus = [&](const std::string&) {
            if (++statusTexts == c.stopAt) control.requestStop();
        };
        std::optional<NoNewEntries> locked;
        if (c.stopAt == 0 && !locked.emplace(f.destination).holds()) GTEST_SKIP() << "no immutable flag here";
        const BackupResult stopped = BackupDirectory(f.state, options, {f.source, "9", "1", f.destination, 1, 1, "01"}, archiver);
        locked.reset();
        // The last stored file's own stop comes too late: nothing is left to stop.
        EXPECT_EQ(stopped.stopped, c.stopAt > 0 && c.stopAt < kDistinct + kChanged);
        EXPECT_EQ(stopped.failures, c.stopAt == 0);
        if (c.stopAt == 0) {
            ASSERT_GE(f.ui.messages.size(), 2u);
            EXPECT_EQ(f.ui.messages.end()[-2], "予期しないエラーが発生した為、処理を中断します。!  step = 10");
            const std::string& why = f.ui.messages.back();  // the first level folder the run needed
            EXPECT_TRUE(why.starts_with("ディレクトリーを作成できません (" + f.dst("V0000")) &&
                        why.ends_with("): " + std::string(std::strerror(::geteuid() ? EACCES : EPERM))))
                << why;
        }
        EXPECT_EQ(Column(f.state.db(), "SELECT group_concat(KBN1, '') FROM "
                                       "(SELECT KBN1 FROM FILEKANRI WHERE BKPNO = 1 ORDER BY rowid)").at(0),
                  c.codes);
        // Both calls counted: the first looked at every file, the second up to the stop.
        EXPECT_EQ(control.filesToExamine, 2 * kDistinct);
        EXPECT_EQ(control.filesExamined, kDistinct + (c.stopAt ? std::min(c.stopAt, kDistinct) : kDistinct));
        Verify(f, compression);
        f.state.catalog = Connection::openFile(f.data / "filebkp.mdb");
        f.ui.onStatus = {};
        RunControl next;
        const BackupOptions again{false, compression, 0, &next};
        EXPECT_FALSE(BackupDirectory(f.state, again, {f.source, "9", "1", f.destination, 2, 1, "01"}, archiver).stopped);
        const auto kept = static_cast<int>(std::count(c.codes.begin(), c.codes.end(), '0') +
                                           std::count(c.codes.begin(), c.codes.end(), '7'));
        EXPECT_EQ(next.versionsToStore, kChanged - kept);
        EXPECT_EQ(next.versionsStored, next.versionsToStore);
        EXPECT_EQ(next.bytesStored > 0, kept < kChanged);
        Verify(f, compression, true);
    }
}

// A run killed while storing leaves copies no committed row claims; the
// run after it stores the same files at the same levels. Afterwards every
// copy is claimed exactly once: the leftovers were dropped (in one rewrite
// per archive) or replaced, not kept beside the new ones.
TEST_P(Killed, TheRunAfterAKillWhileStoringLeavesEachCopyOnce) {
    const std::string compression = GetParam();
    BackupFixture f;
    MakeTree(f);
    ASSERT_TRUE(WIFEXITED(RunChild(f, compression, 0, 1, {})));
    for (int i = 0; i < kFiles; ++i) WriteFile(TreeFile(f, i), "changed " + std::to_string(i));
    // Killed after a few files of run 1 were stored.
    ASSERT_TRUE(WIFSIGNALED(RunChild(f, compression, 1, 1, {compression == "1" ? -1 : kFiles + 8, 8})));
    f.state.catalog = Connection::openFile(f.data / "filebkp.mdb");
    EXPECT_EQ(Column(f.state.db(), "SELECT count(*) FROM FILEKANRI WHERE BKPNO = 1"), std::vector<std::string>{"0"});
    f.options = {false, compression, 2};  // the real archiver, one add per archive on two threads
    ASSERT_FALSE(
        BackupDirectory(f.state, f.options, {f.source, "9", "1", f.destination, 1, 1, "01"}).failed());
    EXPECT_EQ(MissingClaimedCopies(f.state.db(), f.destination, compression), std::vector<std::string>{});
    // Level 1 holds this run's copies and nothing else.
    std::multiset<std::string> stored;
    if (compression == "1") {
        for (const auto& m : Members(f.levelDir(1) + "bkpcmp.lzh")) stored.insert("/" + m.path);
    } else {
        for (const auto& e : std::filesystem::directory_iterator(f.levelDir(1))) stored.insert(e.path().filename());
    }
    std::multiset<std::string> claimed;
    for (const auto& r : f.rows())
        if (r.lvl == 1 && (r.kbn1 == "0" || r.kbn1 == "7")) claimed.insert(compression == "1" ? r.dir + r.filenm : r.filenm);
    EXPECT_EQ(stored, claimed);
}

INSTANTIATE_TEST_SUITE_P(Compression, Killed, ::testing::Values("0", "1"),
                         [](const auto& info) { return info.param == "0" ? "PlainCopies" : "Archives"; });

}  // namespace
}  // namespace tessel::test
