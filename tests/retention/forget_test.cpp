// Forgetting runs: which rows and copies go, the space that comes back,
// kills at every step, the policy in the settings file, and a destination
// of another catalog.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "catalog/catalog_rows.h"
#include "backup/automatic_backup.h"
#include "backup/backup_runs.h"
#include "engine/destination_owner.h"
#include "restore/restore_directory.h"
#include "restore/restore_to.h"
#include "restore/verify.h"
#include "retention/forget.h"
#include "retention/retention_settings.h"
#include "support/archive_members.h"
#include "support/backup_fixture.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;

using Row = std::tuple<std::string, std::int64_t, std::int64_t, std::string>;  // name, level, run, KBN1

// Six runs on three days, two a day: keeping the last run of each day
// keeps runs 2, 4 and 6.
//   a.txt  changes at every run
//   c.txt  recorded by run 1, never changed
//   e.txt  recorded by run 1, changed by run 3
//   h.txt  recorded by run 5, changed by run 6: its first version is
//          needed by no kept run, but runs 2 and 4 must still delete it
//   x.txt  recorded by run 3, never changed
class History : public BackupFixture {
public:
    explicit History(const std::string& compression) {
        options.compression = compression;
        state.db()
            .prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, ABKP, CHK1, CHK2) VALUES "
                     "(0, ?1, NULL, '0', ?2, NULL, NULL), (1, ?3, ?1, '1', '1', '1', '01')")
            .bind(1, destination).bind(2, compression).bind(3, source)
            .run();
    }

    void write(const std::string& name, int run) {
        WriteFile(source + "/" + name, name + " as of run " + std::to_string(run) + std::string(200 + run * 50, 'x'));
        SetMtime(source + "/" + name, 1700000000 + run * 1000);
    }

    int backUp(const char* day, const char* time) {
        const int run = AddBackupRun(state.db(), "run", "1", 0);
        state.db().prepare("UPDATE BKPNAME SET DAY1 = ?1, TIME1 = ?2 WHERE BKPNO = ?3").bind(1, day).bind(2, time).bind(3, run).run();
        BackupDirectory(state, options, {source, "9", "1", destination, run, 1, "01"});
        return run;
    }

    void build() {
        const char* days[] = {"2024-03-01", "2024-03-01", "2024-03-02", "2024-03-02", "2024-03-03", "2024-03-03"};
        const char* times[] = {"10:00:00", "12:00:00", "10:00:00", "12:00:00", "10:00:00", "11:00:00"};
        for (int run = 1; run <= 6; ++run) {
            write("a.txt", run);
            if (run == 1) write("c.txt", run), write("e.txt", run);
            if (run == 3) write("e.txt", run), write("x.txt", run);
            if (run == 5 || run == 6) write("h.txt", run);
            backUp(days[run - 1], times[run - 1]);
        }
    }

    std::set<Row> rows() {
        std::set<Row> out;
        for (Statement q = state.db().prepare("SELECT FILENM, LVL, BKPNO, KBN1 FROM FILEKANRI"); q.step();)
            out.insert({q.text(0), q.int64(1), q.int64(2), q.text(3)});
        return out;
    }
    std::vector<std::string> runs() { return Column(state.db(), "SELECT BKPNO FROM BKPNAME ORDER BY BKPNO"); }

    // Every entry below the destination with its size.
    std::map<std::string, std::uintmax_t> files() {
        std::map<std::string, std::uintmax_t> out;
        if (!fs::exists(destination)) return out;
        for (auto& e : fs::recursive_directory_iterator(destination))
            out[e.path().string().substr(destination.size())] = e.is_regular_file() ? e.file_size() : 0;
        return out;
    }
    std::uintmax_t bytes() {
        std::uintmax_t sum = 0;
        for (const auto& [path, size] : files()) sum += size;
        return sum;
    }

    std::vector<std::string> problems() {
        std::vector<std::string> found;
        VerifyBackups(state, {}, [&](const VerifyProblem& p) { found.push_back(p.name + " " + p.what); });
        return found;
    }

    ForgetResult forget(RetentionPolicy policy, bool dryRun = false) { return ForgetRuns(state, {policy, dryRun, {}}); }

    std::map<std::string, std::string> restored(int run) {
        RestoreDirectory(state, 1, run, RestoreOptions{false, options.compression, "1"});
        return FilesBelow(source);
    }
    std::map<std::string, std::string> restoredTo(int run) {
        TempDir to;
        RestoreRunTo(state, run, {}, {to.path(), false}, {});
        return FilesBelow(to.path());
    }
};

const RetentionPolicy kDaily3{0, 3, 0, 0, 0};
const std::vector<std::string> kNone;

TEST(Forget, RemovesTheRunsAndVersionsNoKeptRunNeeds) {
    for (const std::string compression : {"1", "0"}) {
        SCOPED_TRACE("compression " + compression);
        History h(compression);
        h.build();
        const std::set<Row> before = h.rows();
        const auto filesBefore = h.files();
        const std::map<std::string, std::string> run4 = h.restored(4), run6To = h.restoredTo(6);

        // A dry run says all and changes nothing.
        const ForgetResult preview = h.forget(kDaily3, true);
        EXPECT_EQ(h.rows(), before);
        EXPECT_EQ(h.files(), filesBefore);
        EXPECT_EQ(h.runs(), (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
        EXPECT_EQ(preview.runs.front().started, "2024-03-03T11:00:00");

        const std::uintmax_t bytesBefore = h.bytes();
        const ForgetResult done = h.forget(kDaily3);
        EXPECT_EQ(std::make_tuple(done.refused, done.failed, done.versionsRemoved, done.versionsReleased),
                  std::make_tuple(false, 0, std::int64_t{3}, std::int64_t{1}));
        EXPECT_EQ(preview.versionsRemoved, done.versionsRemoved);
        EXPECT_EQ(preview.bytesFreed, done.bytesFreed);
        EXPECT_EQ(h.runs(), (std::vector<std::string>{"2", "4", "6"}));
        EXPECT_EQ(h.rows(), (std::set<Row>{{"a.txt", 2, 2, "0"}, {"a.txt", 4, 4, "0"}, {"a.txt", 6, 6, "0"},
                                           {"c.txt", 1, 1, "0"}, {"e.txt", 1, 1, "0"}, {"e.txt", 2, 3, "0"},
                                           {"h.txt", 1, 5, "2"}, {"h.txt", 2, 6, "0"}, {"x.txt", 1, 3, "0"}}));
        // The destination shrank by exactly what the copies let go held.
        EXPECT_GT(done.bytesFreed, 0u);
        EXPECT_EQ(bytesBefore - h.bytes(), done.bytesFreed);
        const auto after = h.files();
        EXPECT_FALSE(after.count("/V00003")) << "a level folder left empty goes";
        EXPECT_FALSE(after.count("/V00005"));
        EXPECT_TRUE(after.count("/V00006"));
        if (compression == "1") {
            std::set<std::string> level1;
            for (const auto& [path, size] : ListMembers(h.levelDir(1) + "bkpcmp.lzh"))
                level1.insert(fs::path(path).filename());
            EXPECT_EQ(level1, (std::set<std::string>{"c.txt", "e.txt", "x.txt"}));
        } else {
            EXPECT_FALSE(after.count("/V00001/a.txt"));
            EXPECT_FALSE(after.count("/V00001/h.txt"));
            EXPECT_TRUE(after.count("/V00001/x.txt"));
        }
        EXPECT_EQ(h.problems(), kNone);
        EXPECT_FALSE(fs::exists(h.data / kForgetJournalName));
        EXPECT_EQ(h.ui.messages, kNone);

        // Kept runs restore as before, in place (h.txt, first recorded
        // later, goes) and into another folder (h.txt from its second version).
        EXPECT_EQ(h.restored(4), run4);
        EXPECT_EQ(h.restoredTo(6), run6To);
        EXPECT_FALSE(run4.count("h.txt"));
    }
}

TEST(Forget, RefusesAnEmptyPolicyAndAnotherCatalogsDestination) {
    History h("1");
    h.build();
    const std::set<Row> before = h.rows();
    EXPECT_TRUE(h.forget({}).refused);
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{"残すバックアップの指定がありません。何も削除しません。"});

    // The destination's mark names another catalog now.
    History other("1");
    WriteFile(h.destination + "/" + kOwnerMarkName, "Tesselバックアップ管理 destination\nid=" + CatalogIdentity(other.state.db()) +
                                                 "\ncatalog=" + other.state.db().path() + "\n");
    const auto files = h.files();
    h.ui.messages.clear();
    EXPECT_TRUE(h.forget(kDaily3).refused);
    EXPECT_EQ(h.rows(), before);
    EXPECT_EQ(h.files(), files);
    ASSERT_EQ(h.ui.messages.size(), 1u);
    EXPECT_EQ(h.ui.messages[0], ForeignDestination(h.destination, h.state.db()));

    // This catalog's identity, but marked by a data folder elsewhere (a
    // copy of this one that wrote there since): nothing is swept either.
    WriteFile(h.destination + "/" + kOwnerMarkName, "Tesselバックアップ管理 destination\nid=" + CatalogIdentity(h.state.db()) +
                                                 "\ncatalog=/elsewhere/filebkp.mdb\n");
    h.ui.messages.clear();
    EXPECT_TRUE(h.forget(kDaily3).refused);
    EXPECT_EQ(h.rows(), before);
    ASSERT_EQ(h.ui.messages.size(), 1u);
    EXPECT_NE(h.ui.messages[0].find("複製されたデータフォルダー"), std::string::npos) << h.ui.messages[0];
}

// Kills the forget at each of its steps in turn; every time the catalog
// claims only copies that are there, and the next forget ends where a
// forget that was never killed ends.
TEST(Forget, KilledAtAnyStepTheNextForgetFinishes) {
    for (const std::string compression : {"1", "0"}) {
        SCOPED_TRACE("compression " + compression);
        History clean(compression);
        clean.build();
        int steps = 0;
        ForgetRuns(clean.state, {kDaily3, false, [&](const char*) { ++steps; }});
        ASSERT_GE(steps, 4);
        for (int killAt = 1; killAt <= steps; ++killAt) {
            SCOPED_TRACE("killed at step " + std::to_string(killAt));
            History h(compression);
            h.build();
            h.state.catalog.reset();  // the child opens its own connection
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                h.state.catalog = Connection::openFile(h.data / "filebkp.mdb");
                int step = 0;
                ForgetRuns(h.state, {kDaily3, false, [&](const char*) {
                                         if (++step == killAt) raise(SIGKILL);
                                     }});
                _exit(0);
            }
            int status = 0;
            waitpid(child, &status, 0);
            ASSERT_TRUE(WIFSIGNALED(status));
            h.state.catalog = Connection::openFile(h.data / "filebkp.mdb");
            EXPECT_EQ(h.problems(), kNone);
            const ForgetResult next = h.forget(kDaily3);
            EXPECT_EQ(next.failed, 0);
            EXPECT_EQ(h.rows(), clean.rows());
            EXPECT_EQ(h.files(), clean.files());
            EXPECT_FALSE(fs::exists(h.data / kForgetJournalName));
            EXPECT_EQ(h.problems(), kNone);
        }
    }
}

// Links planted where the forget removes: a version folder that is a link,
// a plain copy that is a link, an archive that is a link. Nothing outside
// the destination changes, and each refusal is said once: it holds up no
// later forget. A failure that may pass (a write-back) is tried again by
// the next forget.
TEST(Forget, NeverRemovesThroughALink) {
    for (const std::string compression : {"1", "0"}) {
        SCOPED_TRACE("compression " + compression);
        History h(compression);
        h.build();
        const std::string outside = h.data / "outside";
        fs::create_directories(outside);
        // V00003 (only a.txt of run 3, which goes) lives outside, behind a link.
        fs::rename(h.destination + "/V00003", outside + "/V00003");
        fs::create_directory_symlink(outside + "/V00003", h.destination + "/V00003");
        // V00005's copy (a.txt of run 5, which goes) is a link to a file outside.
        const std::string copy = compression == "1" ? "/V00005/bkpcmp.lzh" : "/V00005/a.txt";
        fs::rename(h.destination + copy, outside + "/copy5");
        fs::create_symlink(outside + "/copy5", h.destination + copy);
        const auto kept = FilesBelow(outside);

        const ForgetResult done = h.forget(kDaily3);
        EXPECT_FALSE(done.refused);
        EXPECT_EQ(h.runs(), (std::vector<std::string>{"2", "4", "6"}));
        EXPECT_EQ(FilesBelow(outside), kept) << "nothing outside the destination changed";
        EXPECT_TRUE(fs::is_symlink(h.destination + "/V00003"));
        EXPECT_TRUE(fs::is_symlink(h.destination + copy));
        const std::string v3 = h.destination + "/V00003/" + (compression == "1" ? "bkpcmp.lzh" : "a.txt");
        EXPECT_EQ(h.ui.messages,
                  (std::vector<std::string>{
                      (compression == "1" ? "書庫を調べられないため、削除した版のコピーを取り除けませんでした ("
                                          : "コピーを調べられないため、削除できませんでした (") +
                          v3 + "): Too many levels of symbolic links",
                      compression == "1" ? "書庫が通常のファイルではないため、削除した版のコピーを取り除けませんでした: " + h.destination + copy
                                         : "コピーが通常のファイルではないため、削除しませんでした: " + h.destination + copy}));
        EXPECT_EQ(done.failed, 2);
        const std::string journal = h.data / kForgetJournalName;
        EXPECT_FALSE(fs::exists(journal)) << "said once and left as it is: nothing holds up the next forget";

        // Archives that cannot be read and a write-back that fails keep the
        // sweep's entries in the journal; the next forget sweeps them and is
        // not held up.
        fs::remove(h.destination + "/V00003");
        fs::remove(h.destination + copy);
        h.ui.messages.clear();
        int failed = 0;
        {
            ScopedFileFault fault([&](const std::string& p, FileAccess a) {
                return p.starts_with(h.destination) && (a == FileAccess::kSync || a == FileAccess::kOpenForRead) ? EIO : 0;
            });
            failed = h.forget(RetentionPolicy{1, 0, 0, 0, 0}).failed;
        }
        EXPECT_EQ(failed, static_cast<int>(h.ui.messages.size()));
        std::vector<std::string> said = h.ui.messages;
        ASSERT_FALSE(said.empty());
        EXPECT_EQ(said.back(), "バックアップ先への書き込みを確定できませんでした (" + h.destination + "): Input/output error");
        said.pop_back();
        EXPECT_EQ(said.empty(), compression == "0");
        const std::string unreadable = "書庫を読めないため、削除した版のコピーを取り除けませんでした: " + h.destination;
        for (const std::string& m : said) EXPECT_EQ(m.substr(0, unreadable.size()), unreadable);
        EXPECT_TRUE(fs::exists(journal));
        h.ui.messages.clear();
        const ForgetResult next = h.forget(kDaily3);
        EXPECT_EQ(std::make_tuple(next.failed, next.refused), std::make_tuple(0, false));
        EXPECT_FALSE(fs::exists(journal));
        EXPECT_EQ(h.runs(), std::vector<std::string>{"6"});
        EXPECT_EQ(h.problems(), kNone);
        EXPECT_EQ(h.ui.messages, kNone);
    }
}

TEST(Forget, ThePolicyInTheSettingsFileRunsAfterAutomaticBackups) {
    History h("1");
    h.write("a.txt", 1);
    const std::string ini = h.data / "BKPDEF.INI";
    WriteFile(ini, "AUTO=NO\r\nKEEPDAILY=9\r\nTIME1=12:00\r\n");
    ASSERT_EQ(WriteStoredPolicy(h.data.path(), {1, 0, 2, 0, 0}), 0);
    EXPECT_EQ(ReadFile(ini), "AUTO=NO\r\nTIME1=12:00\r\nKEEPLAST=1\r\nKEEPDAILY=0\r\nKEEPWEEKLY=2\r\nKEEPMONTHLY=0\r\nKEEPYEARLY=0\r\n");
    std::string error;
    EXPECT_EQ(ReadStoredPolicy(h.data.path(), &error), (RetentionPolicy{1, 0, 2, 0, 0}));

    // Three automatic runs a day apart; the last and the last of each of
    // two weeks stay (the runs' dates set as they were recorded).
    for (int i = 0; i < 3; ++i) {
        h.write("a.txt", i + 2);
        const BackupRunResult r = AutomaticBackup(h.state, RealBackupEngine(), 0);
        h.state.db().prepare("UPDATE BKPNAME SET DAY1 = ?1 WHERE BKPNO = ?2")
            .bind(1, std::string("2024-03-0") + std::to_string(i + 2)).bind(2, r.runNumber).run();
        ForgetAfterAutomaticBackup(h.state);
    }
    // 2024-03-02 is a Saturday, 03-03 a Sunday, 03-04 a Monday.
    EXPECT_EQ(h.runs(), (std::vector<std::string>{"2", "3"}));
    EXPECT_EQ(h.problems(), kNone);
    EXPECT_EQ(h.ui.messages, kNone);

    // A bad value is said, and nothing is removed.
    WriteFile(ini, "KEEPLAST=two\r\n");
    EXPECT_FALSE(ReadStoredPolicy(h.data.path(), &error));
    EXPECT_EQ(error, "BKPDEF.INI の保持設定が正しくありません (0 から 100000 までの数を指定してください): KEEPLAST=two");
    AutomaticBackup(h.state, RealBackupEngine(), 0);
    ForgetAfterAutomaticBackup(h.state);
    EXPECT_EQ(h.runs(), (std::vector<std::string>{"2", "3", "4"}));
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{error});
}

}  // namespace
}  // namespace tessel::test
