// The command-line companion end to end, through its executable.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "catalog/connection.h"
#include "platform/engine_lock.h"
#include "support/awkward_names.h"
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

    r = c.run("backup --title first");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "run\t1\n");
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

// Names with quotes, tabs, line breaks, backslashes and bytes that are not
// UTF-8 survive both outputs: the JSON parses with a strict parser and gives
// the names back (invalid bytes as U+FFFD), every TSV row stays one line of
// twelve cells. --latest --errors keeps the latest versions coded 8 or above.
TEST(Companion, VersionsAsJsonAndTsvKeepEveryNameAndLatestErrorsFilters) {
    Companion c;
    fs::create_directories(c.src());
    std::vector<std::string> names = test::kAwkwardNames;
    for (const char* extra : {"new\nline.txt", "cr\rname", "\x01" "control", "a.txt", "b.txt", "c.txt"})
        names.push_back(extra);
    for (const auto& n : names) WriteFile(c.src(n), "1");
    ASSERT_EQ(c.run("--yes prefix " + ShellQuote(c.tree / "dest") + " --plain").status, 0);
    ASSERT_EQ(c.run("register " + ShellQuote(c.src())).status, 0);
    ASSERT_EQ(c.run("backup --title one").status, 0);
    WriteFile(c.src("a.txt"), "22");
    ASSERT_EQ(c.run("backup --title two").status, 0);
    {
        auto db = Connection::openFile(c.data / "filebkp.mdb");
        db->exec("UPDATE FILEKANRI SET KBN1 = '9' WHERE FILENM IN ('a.txt', 'b.txt') AND CHK1 = '0' OR FILENM = 'b.txt'");
        db->exec("UPDATE FILEKANRI SET KBN1 = '8' WHERE FILENM = 'c.txt'");
    }
    // name|level|state of every row, as a strict JSON parser reads them.
    auto parsed = [&](const std::string& args) {
        Result r = c.run("--json versions " + args);
        EXPECT_EQ(r.status, 0) << r.err;
        std::string cmd = "python3 -c 'import json,sys; rows = json.load(open(sys.argv[1], encoding=\"utf-8\")); "
                          "open(sys.argv[2], \"w\", encoding=\"utf-8\", newline=\"\").write(\"\".join("
                          "\"%s|%d|%s\\0\" % (r[\"name\"], r[\"level\"], r[\"state\"]) for r in rows))' " +
                          ShellQuote(c.tree / "out.txt") + " " + ShellQuote(c.tree / "parsed.txt");
        EXPECT_EQ(test::Shell(cmd), 0) << r.out;
        std::multiset<std::string> rows;
        std::string text = ReadFile(c.tree / "parsed.txt");
        for (size_t at = 0, end; (end = text.find('\0', at)) != std::string::npos; at = end + 1) rows.insert(text.substr(at, end - at));
        return rows;
    };
    std::multiset<std::string> expected;
    for (std::string n : names) {
        if (n.find("caf\xe9") != std::string::npos) n = "latin1-caf\uFFFD-\uFFFD.bin";
        expected.insert(n + (n == "a.txt" ? "|2|0" : n == "b.txt" ? "|1|9" : n == "c.txt" ? "|1|8" : "|1|0"));
    }
    EXPECT_EQ(parsed("--latest"), expected);
    EXPECT_EQ(parsed("--latest --errors"), (std::multiset<std::string>{"b.txt|1|9", "c.txt|1|8"}));

    Result r = c.run("versions");
    ASSERT_EQ(r.status, 0) << r.err;
    size_t lines = 0;
    for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1, ++lines)
        EXPECT_EQ(std::count(r.out.begin() + at, r.out.begin() + end, '\t'), 11) << r.out.substr(at, end - at);
    EXPECT_EQ(lines, 1 + names.size() + 1);  // the heading, every file, a.txt twice
    for (std::string cell : {"\tnew\\nline.txt\t", "\tcr\\rname\t", "\ttab\\tname\t", "\tback\\\\slash\t", "\ta\"quoted\".txt\t"})
        EXPECT_NE(r.out.find(cell), std::string::npos) << cell;
}

}  // namespace
}  // namespace tessel
