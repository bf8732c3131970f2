// What runs report besides the screen: the run log in the data folder, the
// system log of runs nobody watches, and what each kind of run shows.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <tuple>

#include "archiver/unlha.h"
#include "backup/automatic_backup.h"
#include "backup/backup_runs.h"
#include "engine/run_log.h"
#include "platform/file_faults.h"
#include "support/backup_fixture.h"

namespace tessel {
namespace {

using test::BackupFixture;
using test::MakeDirs;
using test::ReadFile;
using test::WriteFile;

std::vector<std::string> Texts(const std::vector<RunLogEntry>& entries, RunEntry kind) {
    std::vector<std::string> out;
    for (const RunLogEntry& e : entries)
        if (e.kind == kind) out.push_back(e.text);
    return out;
}

// A log reads back as written, texts of several lines and tabs included; the
// newest kKeptRunLogs logs are kept; the last one written is the default;
// nothing is written through a link planted in the log folder.
TEST(RunLog, ReadsBackAsWrittenKeepsTheNewestAndNeverWritesThroughALink) {
    test::TempDir data;
    {
        RunLog log(data.path(), 5);
        ASSERT_EQ(log.error(), 0);
        log.entry(RunEntry::kStart, "バックアップ 5", false);
        log.entry(RunEntry::kFailure, "first line\n\tindented\nlast (/a b/c)", true);
        log.entry(RunEntry::kSkipped, "シンボリックリンクはバックアップしません (/x)", false);
        log.entry(RunEntry::kSummary, "counts", false);
    }
    int error = 0;
    auto entries = ReadRunLog(data.path(), 5, &error);
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 4u);
    EXPECT_EQ(Texts(*entries, RunEntry::kFailure), std::vector<std::string>{"first line\n\tindented\nlast (/a b/c)"});
    EXPECT_EQ(Texts(*entries, RunEntry::kSkipped), std::vector<std::string>{"シンボリックリンクはバックアップしません (/x)"});
    EXPECT_EQ((*entries)[0].time.size(), 19u);
    // On disk, each further line of a text follows a tab.
    EXPECT_NE(ReadFile(RunLogPath(data.path(), 5)).find(" 失敗 first line\n\t\tindented\n\tlast (/a b/c)\n"), std::string::npos);
    EXPECT_EQ(LastLoggedRun(data.path()), 5);
    EXPECT_FALSE(ReadRunLog(data.path(), 6, &error));
    EXPECT_EQ(error, ENOENT);

    for (int run = 1; run <= kKeptRunLogs + 5; ++run) RunLog(data.path(), run).entry(RunEntry::kStart, "x", false);
    EXPECT_EQ(LastLoggedRun(data.path()), kKeptRunLogs + 5);
    std::size_t kept = 0;
    for (const auto& e : std::filesystem::directory_iterator(data / "log")) {
        ++kept;
        EXPECT_GT(e.path().filename().string(), "run-000005.log") << e.path();
    }
    EXPECT_EQ(kept, static_cast<std::size_t>(kKeptRunLogs));

    WriteFile(data / "elsewhere.txt", "mine");
    const std::string planted = RunLogPath(data.path(), 200);
    ASSERT_EQ(symlink((data / "elsewhere.txt").c_str(), planted.c_str()), 0);
    RunLog through(data.path(), 200);
    EXPECT_EQ(through.error(), ELOOP);
    through.entry(RunEntry::kStart, "x", false);
    EXPECT_EQ(ReadFile(data / "elsewhere.txt"), "mine");
}

// Each kind of run with a file whose entry cannot be read, a file that vanished before it was
// stored and a file the archiver failed on, beside a link, a FIFO, a hidden folder and the
// destination inside the source: every one is named with its path and cause in the run's log.
// A run from the window shows the failures; the automatic one shows only what the program
// always shows and sends the failures and counts to the system log; the counts add up.
TEST(RunLog, EveryKindOfRunNamesWhatItDidNotStoreWithItsCauseOnTheRightChannel) {
    enum class Kind { kTitled, kAutomatic, kInitial };
    for (Kind kind : {Kind::kTitled, Kind::kAutomatic, Kind::kInitial}) {
        SCOPED_TRACE(static_cast<int>(kind));
        BackupFixture f;
        f.destination = f.src("dest");  // inside the source: never entered
        MakeDirs(f.destination);
        MakeDirs(f.src(".cache"));
        for (const char* n : {"a.txt", "broken.txt", "gone.txt", "locked.txt", "z.txt"}) WriteFile(f.src(n), n);
        ASSERT_EQ(symlink("a.txt", f.src("link").c_str()), 0);
        ASSERT_EQ(mkfifo(f.src("pipe").c_str(), 0644), 0);
        f.state.db().exec("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES "
                          "(0, '/nowhere', NULL, '0', 'PREFIX', '1', NULL, NULL), (1, '" + f.source + "', '" +
                          f.destination + "', '1', NULL, '1', '0', '01')");
        ScopedFileFault fault([&](const std::string& path, FileAccess access) {
            return path == f.src("locked.txt") && (access == FileAccess::kReadEntry || access == FileAccess::kOpenForRead) ? EACCES
                                                                                                                          : 0;
        });
        const ArchiverCall archiver = [&](const archive::ArchiveRequest& r) -> std::int32_t {
            if (r.path == f.src("gone.txt")) {
                unlink(r.path.c_str());
                return kUnlhaCannotReadSource;
            }
            if (r.path == f.src("locked.txt")) return kUnlhaCannotReadSource;
            return r.path == f.src("broken.txt") ? kUnlhaCannotWrite : 0;
        };
        const BackupEngine engine = [&](SharedState& s, const BackupCall& c, const BackupOptions& o) {
            return BackupDirectory(s, o, c, archiver);
        };
        const auto [run, result] = kind == Kind::kTitled ? RunTitledBackup(f.state, engine, "t", "1", 0)
                                   : kind == Kind::kAutomatic
                                       ? AutomaticBackup(f.state, engine, 0)
                                       : BackupRunResult{0, RunInitialBackups(f.state, engine)};
        EXPECT_EQ(run, kind == Kind::kInitial ? 0 : 1);
        // Stored: a.txt and z.txt; locked.txt fails twice, its entry, then its copy.
        EXPECT_EQ(std::make_tuple(result.filesExamined, result.versionsRecorded, result.versionsStored,
                                  result.failures, result.skipped),
                  std::make_tuple(5, 5, 2, 4, 4));

        int error = 0;
        const auto log = ReadRunLog(f.state.dataFolder, run, &error);
        ASSERT_TRUE(log) << error;
        const std::string locked = " FILE 更新日付情報を取得できません。\n ファイルが使用中かもしれません　FILE=" + f.src("locked.txt") +
                                   "\nPermission denied";
        const std::string gone = "ファイルのコピーに失敗しました! FILE= " + f.src("gone.txt") +
                                 "\n     RC  エラー　33031\nNo such file or directory";
        const std::string broken = "ファイルのコピーに失敗しました! FILE= " + f.src("broken.txt") + "\n     RC  エラー　33028\ncannot write";
        const std::string lockedCopy = "ファイルのコピーに失敗しました! FILE= " + f.src("locked.txt") +
                                       "\n     RC  エラー　33031\nPermission denied";
        const std::string lzh = " error lzh u:追加･更新 function ";
        EXPECT_EQ(Texts(*log, RunEntry::kFailure), (std::vector<std::string>{locked, lzh, broken, lzh, gone, lzh, lockedCopy}));
        EXPECT_EQ(Texts(*log, RunEntry::kSkipped),
                  (std::vector<std::string>{"隠しディレクトリーのため、その中はバックアップしません (" + f.src(".cache") + ")",
                                            "バックアップ先・データフォルダー・別の登録のディレクトリーのため、その中はバックアップしません (" +
                                                f.src("dest") + ")",
                                            "シンボリックリンクはバックアップしません (" + f.src("link") + ")",
                                            "通常のファイルでもディレクトリーでもないため、バックアップしません (" + f.src("pipe") + ")"}));
        EXPECT_EQ(log->front().kind, RunEntry::kStart);
        EXPECT_EQ(log->back().text, "ディレクトリー 1、調べたファイル 5、記録した版 5、保存した版 2、警告 0、失敗 4、対象外 4"
                                    "（隠しディレクトリー 1、リンク 1、特殊ファイル 1、バックアップ先など 1）");

        const std::string code8104 = "UNLHA32.DLL error return rc = 8104", code8107 = "UNLHA32.DLL error return rc = 8107";
        if (kind == Kind::kAutomatic) {
            EXPECT_EQ(f.ui.messages, (std::vector<std::string>{code8104, lzh, code8107, lzh, code8107, lzh}));
            std::vector<std::string> logged, expected;
            for (const auto& l : f.system.systemLogged)
                if (l.level == SystemLogLevel::kError) logged.push_back(l.text);
            for (const std::string& t : Texts(*log, RunEntry::kFailure)) expected.push_back("バックアップ 1: " + t);
            EXPECT_EQ(logged, expected);
            EXPECT_EQ(f.system.systemLogged.back().text, "バックアップ 1: " + log->back().text);
        } else {
            EXPECT_EQ(f.ui.messages, (std::vector<std::string>{locked, code8104, lzh, broken, code8107, lzh, gone, code8107, lzh,
                                                               lockedCopy}));
            EXPECT_TRUE(f.system.systemLogged.empty());
        }
    }
}

}  // namespace
}  // namespace tessel
