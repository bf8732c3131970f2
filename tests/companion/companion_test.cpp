// The command-line companion end to end, through its executable.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "platform/engine_lock.h"
#include "support/temp_dir.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ShellQuote;
using test::WriteFile;

struct Result {
    int status;
    std::string out, err;
};

struct Companion {
    test::TempDataFolder data;
    test::TempDir tree;

    Result run(const std::string& args) {
        std::string cmd = ShellQuote(std::string(TESSEL_BINARY_DIR) + "/tessel-backupctl") + " --data " + ShellQuote(data.path()) +
                          " " + args + " >" + ShellQuote(tree / "out.txt") + " 2>" + ShellQuote(tree / "err.txt") + " </dev/null";
        int status = test::Shell(cmd);
        return {status, ReadFile(tree / "out.txt"), ReadFile(tree / "err.txt")};
    }
    std::string src(const std::string& rel = "") const { return tree / ("src" + (rel.empty() ? "" : "/" + rel)); }
};

std::string JsonQuoted(const std::string& s) { return "\"" + s + "\""; }

// Every regular file below a folder with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = ReadFile(e.path().string());
    return files;
}

TEST(Companion, BackUpChangeAndRestoreAnEarlierRun) {
    Companion c;
    fs::create_directories(c.src("sub dir"));
    WriteFile(c.src("a.txt"), "first");
    WriteFile(c.src("sub dir/O'Neil 日本.txt"), "quoted");
    WriteFile(c.src("-dash.txt"), "dash");

    Result r = c.run("--yes prefix " + ShellQuote(c.tree / "dest") + " --compress");
    ASSERT_EQ(r.status, 0) << r.err;
    r = c.run("register " + ShellQuote(c.src()) + " --subdirs --remark 'メモ'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "dirno\t1\n");
    r = c.run("dirs");
    EXPECT_EQ(r.out, "dirno\tsource\tdestination\tkind\tkind_name\tremark\tauto\tinitial\tsubdirs\n1\t" + c.src() + "\t" +
                         (c.tree / "dest/src") + "\t1\t通常\tメモ\t1\t0\t01\n");

    const struct timespec when[2] = {{1500000000, 123456700}, {1500000000, 123456700}};
    ASSERT_EQ(utimensat(AT_FDCWD, c.src("a.txt").c_str(), when, 0), 0);
    r = c.run("backup --title first");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "run\t1\n");
    // JSON gives the last-write time as ISO 8601 local time, to the 100 ns.
    r = c.run("--json versions --run 1");
    std::tm tm {};
    const std::time_t sec = 1500000000;
    localtime_r(&sec, &tm);
    char iso[64];
    const long off = tm.tm_gmtoff;
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d:%02d.1234567%c%02ld:%02ld", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, off < 0 ? '-' : '+', std::labs(off) / 3600, std::labs(off) / 60 % 60);
    EXPECT_NE(r.out.find("\"name\": \"a.txt\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::string("\"modified\": \"") + iso + "\""), std::string::npos) << r.out;
    auto firstState = Snapshot(c.src());

    WriteFile(c.src("a.txt"), "second version");
    WriteFile(c.src("new.txt"), "new");
    fs::remove(c.src("-dash.txt"));
    r = c.run("backup --title second");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "run\t2\n");

    r = c.run("--json runs");
    EXPECT_NE(r.out.find("\"run\": 2, \"title\": \"second\""), std::string::npos) << r.out;
    r = c.run("versions --run 2");
    EXPECT_NE(r.out.find("2\t1\t2\t" + c.src() + "/\ta.txt"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2\t1\t1\t" + c.src() + "/\tnew.txt"), std::string::npos) << r.out;

    // A test restore reports but touches nothing.
    auto before = Snapshot(c.src());
    r = c.run("restore --run 1 --test");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Snapshot(c.src()), before);
    r = c.run("report");
    EXPECT_NE(r.out.find("  リカバリーの実施(TEST)  "), std::string::npos) << r.out;

    // The real restore brings back run 1: new.txt goes, a.txt is "first".
    // The deleted -dash.txt still has its run 1 version and comes back too.
    r = c.run("restore --run 1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Snapshot(c.src()), firstState);
    r = c.run("report");
    EXPECT_NE(r.out.find(" ファイル " + c.src("new.txt") + " を削除しました! 　/V00001"), std::string::npos) << r.out;

    // Run 2's state into another folder, the sources untouched: one file,
    // then everything; what is there already stays unless --overwrite.
    const std::string to = c.tree / "restored";
    r = c.run("restore --run 2 --to " + ShellQuote(to) + " " + ShellQuote(c.src("a.txt")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "restored\t1\nskipped\t0\nfailed\t0\n");
    EXPECT_EQ(ReadFile(to + c.src("a.txt")), "second version");
    WriteFile(to + c.src("a.txt"), "edited");
    r = c.run("--json restore --run 2 --to " + ShellQuote(to));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"run\": 2, \"restored\": 3, \"skipped\": 1, \"failed\": 0, \"ok\": true}\n");
    EXPECT_EQ(ReadFile(to + c.src("a.txt")), "edited");
    r = c.run("restore --run 2 --overwrite --to " + ShellQuote(to) + " " + ShellQuote(c.src()));
    ASSERT_EQ(r.status, 0) << r.err;
    auto second = Snapshot(to + c.src());
    EXPECT_EQ(second.size(), 4u);
    EXPECT_EQ(second["a.txt"], "second version");
    EXPECT_EQ(second["new.txt"], "new");
    EXPECT_EQ(Snapshot(c.src()), firstState);
    // A folder in the way that is a link fails the run.
    fs::remove_all(to);
    fs::create_directories(to);
    fs::create_directory_symlink(c.tree / "dest", to + "/" + c.src().substr(1, c.src().find('/', 1) - 1));
    r = c.run("restore --run 2 --to " + ShellQuote(to) + " " + ShellQuote(c.src("a.txt")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ファイルの戻しに失敗しました! FILE= " + to + c.src("a.txt") +
                         "\n     RC  登録ディレクトリーの外への書き込みを拒否しました\n");
    EXPECT_EQ(c.run("restore --run 2 " + ShellQuote(c.src("a.txt"))).status, 2) << "paths need --to";

    // verify: sound backups pass; a lost version folder is one line per version.
    r = c.run("verify");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "run\tlevel\tdirectory\tname\tproblem\n");
    fs::remove_all(c.tree / "dest/src/V00002");
    r = c.run("--json verify --run 2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "[\n  {\"run\": 2, \"level\": 2, \"directory\": " + JsonQuoted(c.src() + "/") +
                         ", \"name\": \"a.txt\", \"problem\": \"版のフォルダーがありません\"}\n]\n");
}

TEST(Companion, RegistrationRulesAndRefusals) {
    Companion c;
    fs::create_directories(c.src());
    Result r = c.run("register " + ShellQuote(c.src()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "  バックアップ先プレフィックスが指定されていません　\n");

    // Without --yes the creation question is answered No and nothing is stored.
    r = c.run("prefix " + ShellQuote(c.tree / "dest"));
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(c.tree / "dest"));
    r = c.run("prefix");
    EXPECT_EQ(r.out, "prefix\tcompression\n");

    fs::create_directories(c.tree / "dest");
    ASSERT_EQ(c.run("prefix " + ShellQuote(c.tree / "dest") + " --plain").status, 0);
    r = c.run("register " + ShellQuote(c.src()) + " --kind bulk --no-auto");
    ASSERT_EQ(r.status, 0) << r.err;
    r = c.run("unregister " + ShellQuote(c.tree / "dest/"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, " プレフィックスは削除できません!\n");
    r = c.run("unregister /nowhere");
    EXPECT_EQ(r.err, " すでに登録済のデータを選択してください！\n");

    r = c.run("initial");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "dirno\t1\n");
    EXPECT_TRUE(fs::exists(c.tree / "dest/src/bkpcmp.lzh"));
    r = c.run("unregister " + ShellQuote(c.src()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "これはすでに初期バックアップ済の為削除できません！\n");
    // A second initial backup has nothing to do.
    r = c.run("initial");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
}

TEST(Companion, BadArgumentsGiveUsageAndStatusTwo) {
    Companion c;
    for (const char* args : {"", "bogus", "dirs extra", "versions --run", "versions --run x", "versions --run 1 --dir 2",
                             "versions --errors", "restore", "register", "register a --kind weird", "backup --nope", "--wait -1 dirs",
                             "prefix a b", "--frobnicate dirs"}) {
        Result r = c.run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("使い方: tessel-backupctl"), std::string::npos) << args;
    }
    Result r = c.run("backup --title ''");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "バックアップタイトルを入力してください\n");
    r = c.run("restore --run 7");
    EXPECT_EQ(r.status, 1);
}

TEST(Companion, WaitsForAnotherEngineAndThenRefuses) {
    Companion c;
    fs::create_directories(c.src());
    ASSERT_EQ(c.run("--yes prefix " + ShellQuote(c.tree / "dest")).status, 0);
    ASSERT_EQ(c.run("register " + ShellQuote(c.src())).status, 0);
    EngineLock other(c.data.path());
    ASSERT_TRUE(other.tryLock());
    Result r = c.run("--wait 0.3 backup --title blocked");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "別のバックアップ・復元・カタログ更新が実行中のため、開始できません。\n" + c.data.path() + "\n");
    EXPECT_EQ(c.run("runs").out, "run\ttitle\tkind\tkind_name\tdate\ttime\n");
    other.unlock();
    r = c.run("--wait 5 auto");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "run\t1\n");
}

}  // namespace
}  // namespace tessel
