// The command-line companion end to end, through its executable.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <filesystem>
#include <set>

#include "catalog/connection.h"
#include "platform/engine_lock.h"
#include "support/archive_members.h"
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

    // Runs the companion, from cwd when given, as user 65534 when asUser.
    Result run(const std::string& args, const std::string& cwd = "", bool asUser = false) {
        std::string cmd = (cwd.empty() ? "" : "cd " + ShellQuote(cwd) + " && ") +
                          (asUser ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
                          ShellQuote(std::string(TESSEL_BINARY_DIR) + "/tessel-backupctl") + " --data " + ShellQuote(data.path()) +
                          " " + args + " >" + ShellQuote(tree / "out.txt") + " 2>" + ShellQuote(tree / "err.txt") + " </dev/null";
        int status = test::Shell(cmd);
        return {status, ReadFile(tree / "out.txt"), ReadFile(tree / "err.txt")};
    }
    // Runs the companion and expects a refusal (status 1) with exactly this message.
    void refused(const std::string& args, const std::string& message, const std::string& cwd = "") {
        Result r = run(args, cwd);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err, message + "\n") << args;
    }
    // Runs the companion and expects it to succeed.
    Result ok(const std::string& args, const std::string& cwd = "", bool asUser = false) {
        Result r = run(args, cwd, asUser);
        EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
        return r;
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
    EXPECT_EQ(c.run("dirs").out, "dirno\tsource\tdestination\tkind\tkind_name\tremark\tauto\tinitial\tsubdirs\n1\t" + c.src() +
                                     "\t" + (c.tree / "dest/src") + "\t1\t通常\tメモ\t1\t0\t01\n");

    test::SetMtime(c.src("a.txt"), 1500000000, 123456700);
    c.ok("backup --title first");
    // JSON gives the last-write time (a.txt's) as ISO 8601 local time, to the 100 ns.
    Result r = c.run("--json versions --run 1");
    EXPECT_NE(r.out.find("\"modified\": \"2017-07-14T11:40:00.1234567+09:00\""), std::string::npos) << r.out;
    auto firstState = Snapshot(c.src());

    WriteFile(c.src("a.txt"), "second version");
    WriteFile(c.src("new.txt"), "new");
    fs::remove(c.src("-dash.txt"));
    c.ok("backup --title second");

    auto before = Snapshot(c.src());
    c.ok("restore --run 1 --test");
    EXPECT_EQ(Snapshot(c.src()), before);
    c.ok("restore --run 1");
    EXPECT_EQ(Snapshot(c.src()), firstState);  // new.txt removed (the report lines are the restore tests')

    const std::string to = c.tree / "restored";
    EXPECT_EQ(c.ok("restore --run 2 --to " + ShellQuote(to) + " " + ShellQuote(c.src("a.txt"))).out,
              "restored\t1\nskipped\t0\nfailed\t0\n");
    EXPECT_EQ(ReadFile(to + c.src("a.txt")), "second version");
    WriteFile(to + c.src("a.txt"), "edited");
    EXPECT_EQ(c.ok("--json restore --run 2 --to " + ShellQuote(to)).out,
              "{\"run\": 2, \"restored\": 3, \"skipped\": 1, \"failed\": 0, \"ok\": true}\n");
    EXPECT_EQ(ReadFile(to + c.src("a.txt")), "edited");
    c.ok("restore --run 2 --overwrite --to " + ShellQuote(to) + " " + ShellQuote(c.src()));
    EXPECT_EQ(Snapshot(to + c.src())["a.txt"], "second version");
    EXPECT_EQ(Snapshot(c.src()), firstState);

    EXPECT_EQ(c.ok("verify").out, "run\tlevel\tdirectory\tname\tproblem\n");
    fs::remove_all(c.tree / "dest/src/V00002");
    r = c.run("--json verify --run 2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "[\n  {\"run\": 2, \"level\": 2, \"directory\": \"" + c.src() + "/\"" +
                         ", \"name\": \"a.txt\", \"problem\": \"版のフォルダーがありません\"}\n]\n");
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
    fs::create_directories(c.tree / "bk/inner");
    fs::create_symlink("bk", c.tree / "alias");
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
             {"register alias/inner", overPrefix("/alias/inner")},
             {"register bk/docs_2", overPrefix("/bk/docs_2")},
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
    EXPECT_EQ(r.out, "dirno\t2\ndirno\t3\n");
    c.refused("unregister y/docs", "これはすでに初期バックアップ済の為削除できません！", t);
}

// An old catalog with prefix and destination inside the source: backups never take in their own output,
// and the user's files that look like the program's own are backed up and restored like any other.
TEST(Companion, OverlappingOldCatalogBacksUpWithoutGrowth) {
    Companion c;
    fs::create_directories(c.src("sub"));
    fs::create_directories(c.src("old/V00003"));
    fs::create_directories(c.src("bk/src"));
    WriteFile(c.src("a.txt"), "first");
    WriteFile(c.src("sub/b.txt"), "bee");
    WriteFile(c.src("old/V00003/bkpcmp.lzh"), "an archive of a former destination");
    WriteFile(c.src(".tessel-tmp-x1Y2z3"), "looks like a safe write");
    WriteFile(c.src("sub/.tessel-lzh-Ab12Cd"), "looks like an extraction");
    c.ok("--yes prefix " + ShellQuote(c.tree / "bk") + " --compress");
    c.ok("register " + ShellQuote(c.src()) + " --subdirs");
    auto catalog = [&](const std::string& sql) { Connection::openFile(c.data / "filebkp.mdb")->exec(sql); };
    catalog("UPDATE BKPDIR SET DIR = '" + c.src("bk/") + "' WHERE DIRNO = 0; UPDATE BKPDIR SET BKPDIR = '" + c.src("bk/src") + "' WHERE DIRNO = 1");
    for (const char* title : {"one", "two", "three"}) {
        c.ok(std::string("backup --title ") + title);
        if (title[0] == 'o') WriteFile(c.src("a.txt"), "second");
    }
    Result r = c.run("versions");
    // a.txt twice; b.txt, the former destination's archive and the two look-alikes once.
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 7) << r.out;
    for (const char* name : {"old/V00003/\tbkpcmp.lzh", "src/\t.tessel-tmp-x1Y2z3", "sub/\t.tessel-lzh-Ab12Cd"})
        EXPECT_NE(r.out.find(name), std::string::npos) << name << r.out;
    EXPECT_FALSE(fs::exists(c.src("bk/src/V00003")));
    const auto firstArchive = fs::file_size(c.src("bk/src/V00001/bkpcmp.lzh"));
    EXPECT_LT(firstArchive, 700u);
    EXPECT_LT(fs::file_size(c.src("bk/src/V00002/bkpcmp.lzh")), 300u);

    for (const char* name : {"old/V00003/bkpcmp.lzh", ".tessel-tmp-x1Y2z3", "sub/.tessel-lzh-Ab12Cd"}) fs::remove(c.src(name));
    r = c.ok("restore --run 1");
    EXPECT_EQ(ReadFile(c.src("a.txt")), "first");
    EXPECT_EQ(fs::file_size(c.src("bk/src/V00001/bkpcmp.lzh")), firstArchive);
    EXPECT_EQ(ReadFile(c.src("old/V00003/bkpcmp.lzh")), "an archive of a former destination");
    EXPECT_EQ(ReadFile(c.src(".tessel-tmp-x1Y2z3")), "looks like a safe write");
    EXPECT_EQ(ReadFile(c.src("sub/.tessel-lzh-Ab12Cd")), "looks like an extraction");

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
    // The readable files are in the bulk archive and keep "2"; the others "9".
    EXPECT_EQ(test::ListMembers(c.tree / "bk/src/bkpcmp.lzh"),
              (std::map<std::string, std::uint64_t>{{test::MemberPath(c.src("a.txt")), 5}, {test::MemberPath(c.src("open/z.txt")), 10}}));
    r = c.run("versions", "", asUser);
    for (const auto& [name, state] : std::vector<std::pair<std::string, std::string>>{{"a.txt", "2\t1"}, {"secret.txt", "9\t1"}}) {
        size_t at = r.out.find("\t" + name + "\t");
        ASSERT_NE(at, std::string::npos) << name;
        EXPECT_EQ(r.out.substr(r.out.find('\n', at) - 3, 3), state) << name;
    }
    EXPECT_EQ(r.out.find("hidden.txt"), std::string::npos);
    EXPECT_NE(c.run("dirs", "", asUser).out.find("\t1\t01\n"), std::string::npos);  // the archive was written: done

    ASSERT_EQ(test::Shell("chmod 755 " + ShellQuote(c.src("locked")) + " && chmod 644 " + ShellQuote(c.src("secret.txt"))), 0);
    r = c.ok("backup --title readable", "", asUser);
    r = c.run("versions --run 1", "", asUser);
    EXPECT_NE(r.out.find("1\t1\t1\t" + c.src() + "/\tsecret.txt\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1\t1\t1\t" + c.src("locked") + "/\thidden.txt\t"), std::string::npos) << r.out;
}

// Awkward names survive strict JSON and one-line TSV; --latest --errors keeps codes 8 and above; the engine lock.
TEST(Companion, VersionsAsJsonAndTsvKeepEveryNameAndLatestErrorsFiltersAfterTheEngineLockWait) {
    Companion c;
    fs::create_directories(c.src());
    std::vector<std::string> names = test::kAwkwardNames;
    for (const char* extra : {"new\nline.txt", "cr\rname", "\x01" "control", "a.txt", "b.txt", "c.txt"})
        names.push_back(extra);
    for (const auto& n : names) WriteFile(c.src(n), "1");
    c.ok("--yes prefix " + ShellQuote(c.tree / "dest") + " --plain");
    c.ok("register " + ShellQuote(c.src()));
    // Another engine at work: the backup waits, then refuses and takes no run number.
    EngineLock other(c.data.path());
    ASSERT_TRUE(other.tryLock());
    c.refused("--wait 0.3 backup --title blocked", "別のバックアップ・復元・カタログ更新が実行中のため、開始できません。\n" + c.data.path());
    EXPECT_EQ(c.run("runs").out, "run\ttitle\tkind\tkind_name\tdate\ttime\n");
    other.unlock();
    EXPECT_EQ(c.ok("--wait 5 auto").out, "run\t1\n");
    WriteFile(c.src("a.txt"), "22");
    c.ok("backup --title two");
    Result v = c.run("verify");  // every plain copy is where its row says
    EXPECT_EQ(v.status, 0) << v.out;
    {
        auto db = Connection::openFile(c.data / "filebkp.mdb");
        db->exec("UPDATE FILEKANRI SET KBN1 = '9' WHERE FILENM IN ('a.txt', 'b.txt') AND CHK1 = '0' OR FILENM = 'b.txt'");
        db->exec("UPDATE FILEKANRI SET KBN1 = '8' WHERE FILENM = 'c.txt'");
    }
    // name|level|state of every row, as a strict JSON parser reads them.
    auto parsed = [&](const std::string& args) {
        Result r = c.ok("--json versions " + args);
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

    Result r = c.ok("versions");
    size_t lines = 0;
    for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1, ++lines)
        EXPECT_EQ(std::count(r.out.begin() + at, r.out.begin() + end, '\t'), 11) << r.out.substr(at, end - at);
    EXPECT_EQ(lines, 1 + names.size() + 1);  // the heading, every file, a.txt twice
    for (std::string cell : {"\tnew\\nline.txt\t", "\tcr\\rname\t", "\ttab\\tname\t", "\tback\\\\slash\t", "\ta\"quoted\".txt\t"})
        EXPECT_NE(r.out.find(cell), std::string::npos) << cell;
}

}  // namespace
}  // namespace tessel
