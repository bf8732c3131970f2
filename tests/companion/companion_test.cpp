// The command-line companion end to end, through its executable.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include "catalog/connection.h"
#include "companion/console_ui.h"
#include "platform/engine_lock.h"
#include "support/archive_members.h"
#include "support/temp_dir.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using test::FilesBelow;
using test::ReadFile;
using test::ShellQuote;
using test::WriteFile;

struct Result {
    int status;
    std::string out, err;
    bool operator==(const Result&) const = default;
};

void PrintTo(const Result& r, std::ostream* os) {
    *os << "status " << r.status << "\nout: " << r.out << "\nerr: " << r.err;
}

// Runs the companion as given, from cwd when given, behind the runner (such
// as setpriv) when given; its output goes through files in scratch.
Result Bare(const std::string& args, const std::string& cwd, const test::TempDir& scratch,
            const std::string& runner = "") {
    const int status = test::Shell((cwd.empty() ? "" : "cd " + ShellQuote(cwd) + " && ") + runner +
                                   ShellQuote(std::string(TESSEL_BINARY_DIR) + "/tessel-backupctl") + " " +
                                   args + " >" + ShellQuote(scratch / "out.txt") + " 2>" +
                                   ShellQuote(scratch / "err.txt") + " </dev/null");
    return {status, ReadFile(scratch / "out.txt"), ReadFile(scratch / "err.txt")};
}

struct Companion {
    test::TempDataFolder data;
    test::TempDir tree;

    // Runs the companion on the data folder, from cwd when given, as user 65534 when asUser.
    Result run(const std::string& args, const std::string& cwd = "", bool asUser = false) {
        return Bare("--data " + ShellQuote(data.path()) + " " + args, cwd, tree,
                    asUser ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "");
    }
    // Runs the companion and expects a refusal (status 1, or 3 for a busy
    // data folder) with exactly this message.
    void refused(const std::string& args, const std::string& message, const std::string& cwd = "", int status = 1) {
        Result r = run(args, cwd);
        EXPECT_EQ(r.status, status) << args;
        EXPECT_EQ(r.err, message + "\n") << args;
    }
    Result ok(const std::string& args, const std::string& cwd = "", bool asUser = false) {
        Result r = run(args, cwd, asUser);
        EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
        return r;
    }
    std::string src(const std::string& rel = "") const { return tree / ("src" + (rel.empty() ? "" : "/" + rel)); }
};

// In a zone nine hours east of UTC.
TEST(Companion, BackUpChangeAndRestoreAnEarlierRun) {
    setenv("TZ", "JST-9", 1);
    Companion c;
    fs::create_directories(c.src("sub dir"));
    WriteFile(c.src("a.txt"), "first");
    WriteFile(c.src("sub dir/O'Neil 日本.txt"), "quoted");
    WriteFile(c.src("-dash.txt"), "dash");

    c.ok("--yes prefix " + ShellQuote(c.tree / "dest") + " --compress");
    c.ok("register " + ShellQuote(c.src()) + " --subdirs --remark 'メモ'");

    test::SetMtime(c.src("a.txt"), 1500000000, 123456700);
    c.ok("backup --title first");
    // Times are local times as recorded, without a guessed zone: the last-write time to the 100 ns
    // (the run's start to the second, below), the same when the catalog is read in another zone.
    setenv("TZ", "EST5", 1);
    EXPECT_NE(c.run("versions --run 1").out.find("\t2017-07-14T11:40:00.1234567\t"), std::string::npos);
    setenv("TZ", "JST-9", 1);
    auto firstState = FilesBelow(c.src());

    WriteFile(c.src("a.txt"), "second version");
    WriteFile(c.src("new.txt"), "new");
    fs::remove(c.src("-dash.txt"));
    c.ok("backup --title second");

    auto before = FilesBelow(c.src());
    c.ok("restore --run 1 --test");
    EXPECT_EQ(FilesBelow(c.src()), before);
    c.ok("restore --run 1");
    EXPECT_EQ(FilesBelow(c.src()), firstState);  // new.txt removed (the report lines are the restore tests')

    // Paths are taken as registrations are; one that selects no file recorded by the run is refused,
    // naming it, before anything is written (a file outside every registration, one recorded later).
    const std::string to = c.tree / "restored";
    const std::string spelled = c.src() + "//./sub dir/../a.txt/";
    EXPECT_EQ(c.ok("restore --run 2 --to " + ShellQuote(to) + " " + ShellQuote(spelled)).out,
              "restored\t1\nskipped\t0\nfailed\t0\n");
    EXPECT_EQ(ReadFile(to + c.src("a.txt")), "second version");
    WriteFile(to + c.src("a.txt"), "edited");
    EXPECT_EQ(c.ok("--json restore --run 2 --to " + ShellQuote(to)).out,
              "{\"run\": 2, \"restored\": 3, \"skipped\": 1, \"failed\": 0, \"ok\": true}\n");
    EXPECT_EQ(ReadFile(to + c.src("a.txt")), "edited");
    c.ok("restore --run 2 --overwrite --to " + ShellQuote(to) + " " + ShellQuote(c.src()));
    c.refused("restore --run 2 --to " + ShellQuote(c.tree / "none") + " " + ShellQuote(c.src("a.txt")) + " " +
                  ShellQuote(c.tree / "a.txt"),
              "バックアップ 2 までに記録されたファイルがありません: " + (c.tree / "a.txt"));
    c.refused("restore --run 1 --to " + ShellQuote(c.tree / "none") + " " + ShellQuote(c.src("new.txt")),
              "バックアップ 1 までに記録されたファイルがありません: " + c.src("new.txt"));
    EXPECT_FALSE(fs::exists(c.tree / "none"));
    EXPECT_EQ(FilesBelow(to + c.src())["a.txt"], "second version");
    EXPECT_EQ(FilesBelow(c.src()), firstState);

    EXPECT_EQ(c.ok("verify").out, "run\tlevel\tdirectory\tname\tproblem\n");

    // Forgetting the first run: its a.txt goes; restoring it is refused.
    Result r = c.ok("forget --keep-last 1 --dry-run");
    EXPECT_TRUE(std::regex_match(r.out, std::regex("keep\t2\t\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\tsecond\tlatest,last\n"
                                                   "remove\t1\t\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\tfirst\t\n"
                                                   "runs_removed\t1\nversions_removed\t1\nversions_released\t0\nbytes_freed\t[1-9]\\d*\n")))
        << r.out;
    EXPECT_EQ(c.run("runs").out.find("\tfirst\t") != std::string::npos, true);
    c.ok("forget --keep-last 1");
    c.refused("restore --run 1", "整理で削除されたバックアップのため、復元できません: 1");
    c.refused("restore --run 9", "復元できるバックアップ番号ではありません: 9");
    EXPECT_EQ(c.ok("verify").out, "run\tlevel\tdirectory\tname\tproblem\n");
    fs::remove_all(c.tree / "dest/src/V00002");
    EXPECT_EQ(c.run("--json verify --run 2"),
              (Result{1, "[\n  {\"run\": 2, \"level\": 2, \"directory\": \"" + c.src() + "/\"" +
                             ", \"name\": \"a.txt\", \"problem\": \"版のフォルダーがありません\"}\n]\n", ""}));
    unsetenv("TZ");
}

TEST(Companion, RegistrationsNeverOverlapAndAreStoredNormalised) {
    Companion c;
    const std::string t = c.tree.path();
    for (const char* d : {"x/docs", "y/docs", "z/docs3", "v"}) fs::create_directories(c.tree / d);
    c.refused("register v", "  バックアップ先プレフィックスが指定されていません　", t);
    EXPECT_EQ(c.run("prefix bk/./", t).status, 1);
    EXPECT_FALSE(fs::exists(c.tree / "bk"));
    c.ok("--yes prefix bk/./", t);
    EXPECT_EQ(c.run("prefix").out, "prefix\tcompression\n" + t + "/bk/\t0\n");

    c.ok("register " + ShellQuote(t + "/x/docs/"));
    Result r = c.ok("register y/docs", t);
    EXPECT_EQ(r.err, " バックアップ先 " + t + "/bk/docs はすでに他の登録で使われているため、" + t + "/bk/docs_2 にします。\n" +
                         " バックアップ先ディレクトリーを作成します！\n");
    c.ok("register ./z/../z/docs3 --dest bk//docs_3/", t);
    EXPECT_EQ(c.run("dirs").out, "dirno\tsource\tdestination\tkind\tkind_name\tremark\tauto\tinitial\tsubdirs\n"
                                 "1\t" + t + "/x/docs\t" + t + "/bk/docs\t1\t通常\t\t1\t0\t00\n"
                                 "2\t" + t + "/y/docs\t" + t + "/bk/docs_2\t1\t通常\t\t1\t0\t00\n"
                                 "3\t" + t + "/z/docs3\t" + t + "/bk/docs_3\t1\t通常\t\t1\t0\t00\n");
    c.ok("register x/docs/. --remark again", t);
    EXPECT_NE(c.run("dirs").out.find("1\t" + t + "/x/docs\t" + t + "/bk/docs\t1\t通常\tagain"), std::string::npos);

    auto overPrefix = [&](const std::string& source) {
        return " バックアップ対象 " + t + source + " はバックアップ先プレフィックス " + t + "/bk/ と重なっているため登録できません！";
    };
    auto overRegistered = [&](const std::string& dest, const char* what, const std::string& other) {
        return " バックアップ先 " + t + dest + " は登録済のバックアップ" + what + " " + t + other + " と重なっているため登録できません！";
    };
    for (const auto& [args, text] : std::vector<std::pair<std::string, std::string>>{
             {"register " + ShellQuote(t), overPrefix("")},
             {"register v --dest bk/docs/sub", overRegistered("/bk/docs/sub", "先", "/bk/docs")},
             {"register v --dest x/docs/copies", overRegistered("/x/docs/copies", "対象", "/x/docs")},
             {"register v --dest v", " バックアップ対象 " + t + "/v とバックアップ先 " + t + "/v が重なっているため登録できません！"},
             {"--yes prefix x/docs/bk",
              " バックアップ先プレフィックス " + t + "/x/docs/bk/ は登録済のバックアップ対象 " + t + "/x/docs と重なっているため指定できません！"}})
        c.refused(args, text, t);
    EXPECT_EQ(c.run("prefix").out, "prefix\tcompression\n" + t + "/bk/\t0\n");
    EXPECT_FALSE(fs::exists(c.tree / "x/docs/bk"));

    c.ok("unregister x/docs/", t);
    r = c.ok("initial");
    EXPECT_EQ(r.out, "dirno\t2\ndirno\t3\ndirectories\t2\nexamined\t0\nrecorded\t0\nstored\t0\nwarnings\t0\nfailed\t0\nskipped\t0\n"
              "skipped_pattern\t0\nskipped_cache\t0\nskipped_hidden\t0\nskipped_link\t0\nskipped_special\t0\nskipped_own\t0\n");
    c.refused("unregister y/docs", "これはすでに初期バックアップ済の為削除できません！", t);
}

// An old catalog with prefix and destination inside the source: backups never take in their own output.
TEST(Companion, OverlappingOldCatalogBacksUpWithoutGrowth) {
    Companion c;
    fs::create_directories(c.src("sub"));
    fs::create_directories(c.src("bk/src"));
    WriteFile(c.src("a.txt"), "first");
    WriteFile(c.src("sub/b.txt"), "bee");
    c.ok("--yes prefix " + ShellQuote(c.tree / "bk") + " --compress");
    c.ok("register " + ShellQuote(c.src()) + " --subdirs");
    auto catalog = [&](const std::string& sql) { Connection::openFile(c.data / "filebkp.mdb")->exec(sql); };
    catalog("UPDATE BKPDIR SET DIR = '" + c.src("bk/") + "' WHERE DIRNO = 0; UPDATE BKPDIR SET BKPDIR = '" + c.src("bk/src") + "' WHERE DIRNO = 1");
    for (const char* title : {"one", "two", "three"}) {
        c.ok(std::string("backup --title ") + title);
        if (title[0] == 'o') WriteFile(c.src("a.txt"), "second");
    }
    Result r = c.run("versions");
    // The heading, a.txt twice and b.txt once: nothing below the prefix.
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4) << r.out;
    EXPECT_FALSE(fs::exists(c.src("bk/src/V00003")));
    const auto firstArchive = fs::file_size(c.src("bk/src/V00001/bkpcmp.lzh"));
    EXPECT_LT(firstArchive, 700u);

    c.ok("restore --run 1");
    EXPECT_EQ(ReadFile(c.src("a.txt")), "first");
    EXPECT_EQ(fs::file_size(c.src("bk/src/V00001/bkpcmp.lzh")), firstArchive);

    // A source inside its own destination is never backed up.
    catalog("UPDATE BKPDIR SET BKPDIR = '" + c.tree.path() + "' WHERE DIRNO = 1");
    c.refused("backup --title four", "バックアップ対象がバックアップ先の中にあるため、バックアップしません！ (" + c.src() + " → " + c.tree.path() + ")");
}

// Unreadable folders and files are reported, the run fails, and they are stored once readable.
// (A file the archiver cannot read in a run of single versions is covered by the archiving tests.)
TEST(Companion, UnreadableFoldersAndFilesAreNeverSkippedInSilence) {
    if (geteuid() != 0 && geteuid() != 65534) GTEST_SKIP() << "needs root to act as user 65534, or to be that user";
    if (geteuid() == 0 && test::Shell("setpriv --reuid=65534 --regid=65534 --clear-groups true") != 0)
        GTEST_SKIP() << "setpriv cannot switch to user 65534 here";
    Companion c;
    fs::create_directories(c.src("locked"));
    fs::create_directories(c.src("open"));
    for (const char* n : {"a.txt", "secret.txt", "open/z.txt", "locked/hidden.txt"}) WriteFile(c.src(n), n);
    const bool asUser = geteuid() == 0;
    ASSERT_EQ(test::Shell("chown -R 65534:65534 " + ShellQuote(c.tree.path()) + " " + ShellQuote(c.data.path())), 0);
    ASSERT_EQ(test::Shell("chmod 755 " + ShellQuote(c.tree.path()) + " " + ShellQuote(c.data.path()) + " && chmod 0 " +
                          ShellQuote(c.src("locked")) + " " + ShellQuote(c.src("secret.txt"))),
              0);

    c.ok("--yes prefix " + ShellQuote(c.tree / "bk") + " --compress", "", asUser);
    c.ok("register " + ShellQuote(c.src()) + " --subdirs --kind bulk", "", asUser);
    Result r = c.run("initial", "", asUser);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ディレクトリーを読み取れないため、その中のファイルはバックアップされません！ (" + c.src("locked") +
                         ")\nPermission denied\nUNLHA32.DLL error return rc = 8107\n error lzh U:追加･更新 一括 function \nファイルを一括バックアップに入れられませんでした！ (" +
                         c.src("secret.txt") + ")\nPermission denied\n 処理を完了しました！　\n");
    // The readable files are in the bulk archive.
    EXPECT_EQ(test::ListMembers(c.tree / "bk/src/bkpcmp.lzh"),
              (std::map<std::string, std::uint64_t>{{test::MemberPath(c.src("a.txt")), 5}, {test::MemberPath(c.src("open/z.txt")), 10}}));
    EXPECT_NE(c.run("dirs", "", asUser).out.find("\t1\t01\n"), std::string::npos);  // the archive was written: done

    ASSERT_EQ(test::Shell("chmod 755 " + ShellQuote(c.src("locked")) + " && chmod 644 " + ShellQuote(c.src("secret.txt"))), 0);
    c.ok("backup --title readable", "", asUser);
    r = c.run("versions --run 1", "", asUser);
    EXPECT_NE(r.out.find("1\t1\t1\t" + c.src() + "/\tsecret.txt\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1\t1\t1\t" + c.src("locked") + "/\thidden.txt\t"), std::string::npos) << r.out;

    // The automatic backup is silent on screen, but names on standard error, as a titled one does, the
    // file it could not read with the cause and the entries it never stores; it exits 1. The run log
    // keeps all of it with the counts.
    WriteFile(c.src("secret.txt"), "changed");
    ASSERT_EQ(test::Shell("chmod 0 " + ShellQuote(c.src("secret.txt")) + " && ln -s a.txt " + ShellQuote(c.src("link")) +
                          " && mkfifo " + ShellQuote(c.src("fifo")) + " && chown -h 65534:65534 " + ShellQuote(c.src("link")) +
                          " " + ShellQuote(c.src("fifo"))),
              0);
    const std::string unreadable = "UNLHA32.DLL error return rc = 8107\n error lzh u:追加･更新 function \n"
                                   "ファイルのコピーに失敗しました! FILE= " +
                                   c.src("secret.txt") + "\n     RC  エラー　33031\nPermission denied";
    EXPECT_EQ(c.run("auto", "", asUser),
              (Result{1,
                      "run\t2\ndirectories\t1\nexamined\t4\nrecorded\t1\nstored\t0\nwarnings\t0\n"
                      "failed\t1\nskipped\t2\nskipped_pattern\t0\nskipped_cache\t0\nskipped_hidden\t0\n"
                      "skipped_link\t1\nskipped_special\t1\nskipped_own\t0\n",
                      "通常のファイルでもディレクトリーでもないため、バックアップしません (" + c.src("fifo") +
                          ")\nシンボリックリンクはバックアップしません (" + c.src("link") + ")\n" + unreadable + "\n"}));
    EXPECT_EQ(c.run("--quiet auto", "", asUser).err, unreadable + "\n");  // failures only
    Result log = c.run("log --run 2", "", asUser);
    EXPECT_EQ(log.status, 0);
    std::string text = std::regex_replace(log.out, std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d "), "T ");
    EXPECT_EQ(text, "T 開始 バックアップ 2「自動バックアップ」 通常\n"
                    "T 対象外 通常のファイルでもディレクトリーでもないため、バックアップしません (" + c.src("fifo") + ")\n"
                    "T 対象外 シンボリックリンクはバックアップしません (" + c.src("link") + ")\n"
                    "T 表示 UNLHA32.DLL error return rc = 8107\n"
                    "T 失敗  error lzh u:追加･更新 function \n"
                    "T 失敗 ファイルのコピーに失敗しました! FILE= " + c.src("secret.txt") + "\n\t     RC  エラー　33031\n\tPermission denied\n"
                    "T 終了 ディレクトリー 1、調べたファイル 4、記録した版 1、保存した版 0、警告 0、失敗 1、対象外 2（リンク 1、特殊ファイル 1）\n");
    c.refused("log --run 7", "バックアップ 7 の実行記録を読めません (" + (c.data / "log/run-000007.log") + "): No such file or directory");
}

// A home folder backed up with its dot-folders, without its caches and node_modules: the choices are
// set from the command line and kept per registration, a new register changes only what it names, and
// the run names every entry it left out with the pattern or reason and counts them by reason.
TEST(Companion, ExclusionsAreChosenPerRegistrationAndEveryEntryLeftOutIsNamedAndCounted) {
    Companion c;
    for (const char* d : {".config", ".cache", "proj/node_modules/x", "notes"}) fs::create_directories(c.src(d));
    for (const char* n : {".config/settings", ".cache/blob", "proj/node_modules/x/i.js", "proj/main.c", "notes/a.tmp",
                          "notes/keep.tmp", "notes/b.txt"})
        WriteFile(c.src(n), "x");
    WriteFile(c.src(".cache/CACHEDIR.TAG"), "Signature: 8a477f597d28d172789f06886806bc55");
    const std::string src = ShellQuote(c.src());
    c.ok("--yes prefix " + ShellQuote(c.tree / "bk"));
    c.ok("register " + src + " --subdirs --hidden --exclude node_modules/ --exclude '!keep.tmp' --kind no-initial");
    EXPECT_EQ(c.ok("exclude " + src).out, "pattern\nnode_modules/\n!keep.tmp\n");
    EXPECT_EQ(c.ok("exclude --all '*.tmp'").out, "pattern\n*.tmp\n");
    c.refused("exclude " + ShellQuote(c.tree / "elsewhere") + " x",
              std::string(" すでに登録済のデータを選択してください！") + " (" + (c.tree / "elsewhere") + ")");

    Result r = c.run("backup --title home");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "キャッシュディレクトリー (CACHEDIR.TAG) のため、その中はバックアップしません (" + c.src(".cache") + ")\n" +
                         "除外パターン「*.tmp」に当たるため、バックアップしません (" + c.src("notes/a.tmp") + ")\n" +
                         "除外パターン「node_modules/」に当たるため、バックアップしません (" + c.src("proj/node_modules") + ")\n");
    EXPECT_NE(r.out.find("\nskipped\t3\nskipped_pattern\t2\nskipped_cache\t1\nskipped_hidden\t0\n"), std::string::npos) << r.out;

    // Registering again with another choice keeps the patterns; hidden folders are left out again.
    c.ok("register " + src + " --subdirs --no-hidden --caches --kind no-initial");
    EXPECT_EQ(c.ok("exclude " + src).out, "pattern\nnode_modules/\n!keep.tmp\n");
    r = c.ok("backup --title again");
    EXPECT_EQ(r.err, "隠しディレクトリーのため、その中はバックアップしません (" + c.src(".cache") + ")\n" +
                         "隠しディレクトリーのため、その中はバックアップしません (" + c.src(".config") + ")\n" +
                         "除外パターン「*.tmp」に当たるため、バックアップしません (" + c.src("notes/a.tmp") + ")\n" +
                         "除外パターン「node_modules/」に当たるため、バックアップしません (" + c.src("proj/node_modules") + ")\n");
    c.ok("exclude " + src + " --clear");
    c.ok("exclude --all --clear");
    EXPECT_EQ(c.ok("--json exclude " + src).out, "[]\n");
    // Unregistering removes its choices with it.
    fs::create_directories(c.tree / "other");
    c.ok("register " + ShellQuote(c.tree / "other") + " --exclude x --kind no-initial");
    c.ok("unregister " + ShellQuote(c.tree / "other"));
    EXPECT_EQ(test::Column(*Connection::openFile(c.data / "filebkp.mdb"), "SELECT count(*) FROM SCANPAT"), std::vector<std::string>{"0"});
}

// Names that break naive quoting, parsing or encoding (quotes, blanks,
// leading dashes, characters code page 932 cannot hold, bytes that are not
// UTF-8, backslashes, tabs, line ends, control bytes) survive strict JSON
// and one-line TSV; --latest --errors keeps codes 8 and above.
TEST(Companion, VersionsAsJsonAndTsvKeepEveryNameAndLatestErrorsFilters) {
    Companion c;
    fs::create_directories(c.src());
    const std::vector<std::string> names = {
        "O'Neil's file.txt", "two  blanks .txt", "-rf", "--help", "日本語のファイル.txt", "丂☃😀.txt",
        std::string("latin1-caf\xe9-\xff.bin"), "a\"quoted\".txt", "back\\slash", "tab\tname", "new\nline.txt",
        "cr\rname", "\x01" "control", "a.txt", "b.txt", "c.txt"};
    for (const auto& n : names) WriteFile(c.src(n), "1");
    c.ok("--yes prefix " + ShellQuote(c.tree / "dest") + " --plain");
    c.ok("register " + ShellQuote(c.src()));
    c.ok("auto");
    WriteFile(c.src("a.txt"), "22");
    c.ok("backup --title two");
    Result v = c.run("verify");  // every plain copy is where its row says
    EXPECT_EQ(v.status, 0) << v.out;
    {
        auto db = Connection::openFile(c.data / "filebkp.mdb");
        db->exec("UPDATE FILEKANRI SET KBN1 = '9' WHERE FILENM IN ('a.txt', 'b.txt') AND CHK1 = '0' OR FILENM = 'b.txt'");
        db->exec("UPDATE FILEKANRI SET KBN1 = '8' WHERE FILENM = 'c.txt'");
    }
    // name|level|state of every row, as a strict JSON parser reads them; a
    // name that is not UTF-8 has its bytes in hex beside it.
    auto parsed = [&](const std::string& args) {
        Result r = c.ok("--json versions " + args);
        std::string cmd = "python3 -c 'import json,sys; rows = json.load(open(sys.argv[1], encoding=\"utf-8\")); "
                          "open(sys.argv[2], \"w\", encoding=\"utf-8\", newline=\"\").write(\"\".join("
                          "\"%s%s|%d|%s\\0\" % (r[\"name\"], (\"=\" + r[\"name_hex\"]) if \"name_hex\" in r else \"\", "
                          "r[\"level\"], r[\"state\"]) for r in rows))' " +
                          ShellQuote(c.tree / "out.txt") + " " + ShellQuote(c.tree / "parsed.txt");
        EXPECT_EQ(test::Shell(cmd), 0) << r.out;
        std::multiset<std::string> rows;
        std::string text = ReadFile(c.tree / "parsed.txt");
        for (size_t at = 0, end; (end = text.find('\0', at)) != std::string::npos; at = end + 1) rows.insert(text.substr(at, end - at));
        return rows;
    };
    std::multiset<std::string> expected;
    for (std::string n : names) {
        if (n.find("caf\xe9") != std::string::npos) n = "latin1-caf\uFFFD-\uFFFD.bin=6c6174696e312d636166e92dff2e62696e";
        expected.insert(n + (n == "a.txt" ? "|2|0" : n == "b.txt" ? "|1|9" : n == "c.txt" ? "|1|8" : "|1|0"));
    }
    EXPECT_EQ(parsed("--latest"), expected);
    EXPECT_EQ(parsed("--latest --errors"), (std::multiset<std::string>{"b.txt|1|9", "c.txt|1|8"}));

    Result r = c.ok("versions");
    size_t lines = 0;
    for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1, ++lines)
        EXPECT_EQ(std::count(r.out.begin() + at, r.out.begin() + end, '\t'), 10) << r.out.substr(at, end - at);
    EXPECT_EQ(lines, 1 + names.size() + 1);  // the heading, every file, a.txt twice
    for (std::string cell : {"\tnew\\nline.txt\t", "\tcr\\rname\t", "\ttab\\tname\t", "\tback\\\\slash\t", "\ta\"quoted\".txt\t"})
        EXPECT_NE(r.out.find(cell), std::string::npos) << cell;
}

// The whole command line is read before the data folder is touched: every
// usage error is one line that points to the help, exits 2 and leaves a
// fresh data folder without catalog or settings. Then the forms that work.
TEST(CompanionCommandLine, UsageErrorsChangeNothingAndEveryFormOfOptionWorks) {
    Companion c;
    auto usage = [](const std::string& what, const std::string& help) {
        return "tessel-backupctl: " + what + " (使い方: tessel-backupctl " + help + "--help)\n";
    };
    const std::string notCount = " には 0 以上の整数を指定してください: ";
    const std::string notSeconds = "--wait には 0 から 604800 までの秒数を指定してください: ";
    const std::pair<std::string, std::string> wrong[] = {
        {"", usage("コマンドがありません", "")},
        {"bogus", usage("不明なコマンドです: bogus", "")},
        {"dirs --bogus", usage("不明なオプションです: --bogus", "dirs ")},
        {"-qx dirs", usage("不明なオプションです: -x", "")},
        {"dirs extra", usage("余分な引数があります: extra", "dirs ")},
        {"dirs --json=yes", usage("--json は値をとりません", "dirs ")},
        {"versions --run", usage("--run には値が必要です", "versions ")},
        {"versions --run=1 --run 2", usage("--run は一度だけ指定できます", "versions ")},
        {"versions --run 2147483648", usage("--run" + notCount + "2147483648", "versions ")},
        {"forget --keep-last 0 --dry-run", usage("forget には --keep-last, --keep-daily, --keep-weekly, --keep-monthly, --keep-yearly のどれかに 1 以上を指定してください", "forget ")},
        {"versions --run 1 --latest", usage("--run, --dir, --latest はどれか一つだけ指定できます", "versions ")},
        {"versions --errors", usage("--errors は --latest と共に指定します", "versions ")},
        {"--wait nan dirs", usage(notSeconds + "nan", "")},
        {"--wait 1. dirs", usage(notSeconds + "1.", "")},
        {"--wait 604801 dirs", usage(notSeconds + "604801", "")},
        {"dirs --data /x", usage("--data は一度だけ指定できます", "dirs ")},
        {"backup --title ''", usage("backup には --title TITLE が必要です", "backup ")},
        {"restore --to /x", usage("restore には --run N が必要です", "restore ")},
        {"restore --run 1 /a", usage("ファイルを選んで復元するには --to DIR を指定します", "restore ")},
        {"restore --run 1 --to /x a", usage("復元するファイルやフォルダーは絶対パスで指定してください: a", "restore ")},
        {"restore --run 1 --to= /a", usage("--to には復元先のフォルダーを指定してください", "restore ")},
        {"restore --run 1 --test --to /x", usage("--test と --to は同時に指定できません", "restore ")},
        {"prefix --plain", usage("圧縮指定にはプレフィックスを指定します", "prefix ")},
        {"register src --kind weekly", usage("--kind は normal, no-initial, bulk, info のいずれかです: weekly", "register ")},
        {"unregister", usage("引数が足りません", "unregister ")},
        {"register src --hidden --no-hidden", usage("--hidden と --no-hidden は同時に指定できません", "register ")},
        {"exclude", usage("SRC か --all を指定してください", "exclude ")},
        {"exclude --all --clear x", usage("--clear とパターンは同時に指定できません", "exclude ")},
        {"exclude src ../x", usage("除外パターン「../x」は使えません: パターンの「.」や「..」の部分はどの名前にも当たりません", "exclude ")},
        {"init elsewhere", usage("データフォルダーは DIR か --data のどちらかで指定します", "init ")},
    };
    for (const auto& [args, said] : wrong) EXPECT_EQ(c.run(args), (Result{2, "", said})) << args;
    EXPECT_FALSE(fs::exists(c.data / "filebkp.mdb"));
    EXPECT_FALSE(fs::exists(c.data / "Bkpdef.ini"));
    // An older catalog is upgraded by the first valid command.
    fs::copy_file(c.data / "bkpDEF.mdb", c.data / "filebkp.mdb");
    Connection::openFile(c.data / "filebkp.mdb")->exec("UPDATE DBVERSION SET VNUM = 'V1.03'");
    EXPECT_EQ(c.ok("dirs --json").out, "[]\n");
    EXPECT_EQ(test::Column(*Connection::openFile(c.data / "filebkp.mdb"), "SELECT VNUM FROM DBVERSION"),
              std::vector<std::string>{"V1.04"});

    // --opt=value, global options after the command, -q, and "--" before a
    // word that begins with "-".
    EXPECT_EQ(c.ok("runs --wait=0.5 -q").out, "run\ttitle\tkind\tkind_name\tstarted\n");
    EXPECT_EQ(c.ok("versions --run=0 --json").out, "[]\n");
    fs::create_directories(c.src("-dash"));
    // The question and the folder made are not said with -q.
    EXPECT_EQ(c.run("prefix " + ShellQuote(c.tree / "bk") + " --compress -q --yes"),
              (Result{0, "prefix\tcompression\n" + (c.tree / "bk/") + "\t1\n", ""}));
    EXPECT_EQ(c.run("register --subdirs -q -- -dash", c.src()), (Result{0, "dirno\t1\n", ""}));
    EXPECT_EQ(c.run("initial --quiet --json"),
              (Result{0,
                      "{\"directories\": [1], \"ok\": true, \"examined\": 0, \"recorded\": 0, "
                      "\"stored\": 0, \"warnings\": 0, \"failed\": 0, \"skipped\": 0, "
                      "\"skipped_pattern\": 0, \"skipped_cache\": 0, \"skipped_hidden\": 0, "
                      "\"skipped_link\": 0, \"skipped_special\": 0, \"skipped_own\": 0}\n",
                      ""}));

    // Help and version, on standard output, without a data folder.
    test::TempDir nowhere;
    const std::string backupHelp = Bare("backup --help", nowhere.path(), nowhere).out;
    EXPECT_EQ(backupHelp.substr(0, backupHelp.find('\n')), "使い方: tessel-backupctl [OPTION...] backup --title TITLE [--info]");
    EXPECT_EQ(Bare("backup --title x --help --bogus", nowhere.path(), nowhere).out, backupHelp);
    Result help = Bare("--help", nowhere.path(), nowhere);
    EXPECT_EQ(help.out.substr(0, help.out.find('\n')), "使い方: tessel-backupctl [OPTION...] COMMAND [ARGS...]");
    EXPECT_EQ(Bare("dirs --version", nowhere.path(), nowhere).out,
              std::string("tessel-backupctl (Tesselバックアップ管理) ") + TESSEL_VERSION + "\n");
    std::set<std::string> left;  // nothing but what the test's shell wrote
    for (const auto& e : fs::directory_iterator(nowhere.path())) left.insert(e.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"err.txt", "out.txt"}));

    // What cannot be written is a failure, said once.
    for (const std::string args : {"--data " + ShellQuote(c.data.path()) + " versions", std::string("--help")}) {
        test::Shell("{ " + ShellQuote(std::string(TESSEL_BINARY_DIR) + "/tessel-backupctl") + " " + args +
                    " >/dev/full; echo \"status $?\" >&2; } 2>" + ShellQuote(nowhere / "full.txt"));
        EXPECT_EQ(ReadFile(nowhere / "full.txt"), "tessel-backupctl: 出力を書き込めません: No space left on device\nstatus 1\n") << args;
    }
}

// init makes a ready data folder, once; the other commands send an empty
// or missing folder there.
TEST(CompanionCommandLine, InitMakesAReadyDataFolderOnceAndOtherCommandsPointToIt) {
    test::TempDir t;
    const std::string made = t / "new/data";
    auto bare = [&](const std::string& args, const std::string& cwd = "") {
        return Bare(args, cwd.empty() ? t.path() : cwd, t);
    };
    EXPECT_EQ(bare("--data " + ShellQuote(t.path()) + " dirs"),
              (Result{1, "", "データフォルダーではありません (カタログもそのひな形もありません): " + t.path() +
                                 "\n新しいデータフォルダーは tessel-backupctl init " + t.path() + " で作れます。\n"}));
    EXPECT_EQ(bare("--data new/data runs"),
              (Result{1, "",
                      "データフォルダーが見つかりません: new/data\n"
                      "新しいデータフォルダーは tessel-backupctl init new/data で作れます。\n"}));
    EXPECT_FALSE(fs::exists(t / "new"));

    EXPECT_EQ(bare("init new/data/"), (Result{0, "data\t" + made + "\n", "データフォルダーを用意しました: " + made + "\n"}));
    EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all);
    std::set<std::string> files;
    for (const auto& e : fs::directory_iterator(made)) files.insert(e.path().filename().string());
    EXPECT_EQ(files, (std::set<std::string>{"Bkpdef.def", "Bkpdef.ini", "JETDB.VER", "bkpDEF.mdb", "filebkp.mdb"}));
    EXPECT_EQ(ReadFile(made + "/Bkpdef.ini"), ReadFile(std::string(TESSEL_SHARE_BUILD_DIR) + "/Bkpdef.def"));
    EXPECT_EQ(bare("runs", made).out, "run\ttitle\tkind\tkind_name\tstarted\n");
    EXPECT_EQ(bare("--json init", made),
              (Result{1, "", "このフォルダーにはすでにカタログがあります: " + made + "/filebkp.mdb\n"}));

    // A folder with settings of its own and no catalog keeps its settings.
    fs::create_directories(t / "own");
    WriteFile(t / "own/BKPDEF.INI", "INITBKP=YES\n");
    EXPECT_EQ(bare("-q --json --data own init"),
              (Result{0, "{\"data\": \"" + (t / "own") + "\", \"ok\": true}\n", ""}));
    EXPECT_EQ(ReadFile(t / "own/BKPDEF.INI"), "INITBKP=YES\n");
    EXPECT_FALSE(fs::exists(t / "own/Bkpdef.ini"));
    EXPECT_TRUE(fs::exists(t / "own/filebkp.mdb"));

    WriteFile(t / "plain", "");
    EXPECT_EQ(bare("init plain"), (Result{1, "", "データフォルダーにするパスはフォルダーではありません: " + (t / "plain") + "\n"}));
}

// Every command that changes the catalog takes the engine lock: while
// another engine holds it, each says so in the program's words and exits
// 3 with nothing changed; --wait lets it run once the lock is free. A
// number the catalog does not know is refused, not taken for "nothing".
TEST(Companion, CatalogChangesTakeTheEngineLockAndUnknownNumbersAreRefused) {
    Companion c;
    fs::create_directories(c.src());
    WriteFile(c.src("a.txt"), "a");
    c.ok("--yes prefix " + ShellQuote(c.tree / "bk"));
    c.ok("register " + ShellQuote(c.src()));
    const std::string dirs = c.run("dirs").out;
    const std::string busy = "別のバックアップ・復元・カタログ更新が実行中のため、開始できません。\n" + c.data.path();
    {
        EngineLock other(c.data.path());
        ASSERT_TRUE(other.tryLock());
        for (const std::string args : {"unregister " + ShellQuote(c.src()), "register " + ShellQuote(c.src()) + " --remark x",
                                       "--yes prefix " + ShellQuote(c.tree / "bk2"), std::string("initial"), std::string("auto"),
                                       std::string("backup --title t"), std::string("verify --mark"),
                                       std::string("forget --keep-last 1")})
            c.refused(args, busy, "", 3);
        EXPECT_EQ(c.run("dirs").out, dirs);
        EXPECT_EQ(c.run("prefix").out, "prefix\tcompression\n" + (c.tree / "bk/") + "\t0\n");
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            other.unlock();
        });
        Result r = c.run("--wait 30 register " + ShellQuote(c.src()) + " --remark waited");
        release.join();
        EXPECT_EQ(r.status, 0) << r.err;
    }
    EXPECT_NE(c.run("dirs").out.find("\twaited\t"), std::string::npos);
    c.ok("initial");
    c.refused("verify --dir 2", "登録されていないディレクトリー番号です: 2");
    c.refused("verify --dir 0", "登録されていないディレクトリー番号です: 0");  // the prefix row's number
    c.refused("verify --run 1", "記録されていないバックアップ番号です: 1");
    EXPECT_EQ(c.ok("verify --run 0 --dir 1").out, "run\tlevel\tdirectory\tname\tproblem\n");
}

// The progress line fits the terminal by what each character takes on it.
TEST(ConsoleUi, ProgressLineFitsTheTerminalByDisplayWidth) {
    const std::pair<std::pair<std::string, std::size_t>, std::string> cases[] = {
        {{"日本語のファイル", 7}, "日本語"},                // wide, never cut in half
        {{"new\nline\ttab\x1b[2J", 20}, "new?line?tab?[2J"},  // control characters never reach the terminal
        {{std::string("bad\xff\xfe") + "\xe6\x97", 8}, "bad????"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(FitToColumns(in.first, in.second), out) << in.first;
}

}  // namespace
}  // namespace tessel
