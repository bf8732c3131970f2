// Storing versions: archiver command lines, plain copies, failures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "archiver/archive_ops.h"
#include "engine/run_archiver.h"
#include "archiver/unlha.h"
#include "backup_fixture.h"

namespace tessel::test {
namespace {

constexpr std::int64_t kBase = 1700000000;

// Runs an action at the status text announcing a file: between its scan and its copy.
class MeddlingUi : public RecordingUi {
public:
    void setStatus(const std::string& window, const std::string& text) override {
        RecordingUi::setStatus(window, text);
        auto it = actions.find(text);
        if (it != actions.end()) it->second();
    }
    std::map<std::string, std::function<void()>> actions;
};

std::string Storing(const std::string& path) { return " ﾌｧｲﾙ　" + path + " をﾊﾞｯｸｱｯﾌﾟしています。"; }

TEST(Archive, OneArchiverCallPerVersionIntoItsLevelsFolder) {
    BackupFixture f;
    f.options.compression = "1";
    MakeDirs(f.src("SUB"));
    WriteFile(f.src("old.txt"), "o");
    WriteFile(f.src("SUB/a b.txt"), "a");
    f.run("1", "1", 0);
    EXPECT_EQ(f.archiver.commands,
              (std::vector<std::string>{"u -nd1 " + f.dst("V00000") + "/bkpcmp.lzh \"" + f.src("old.txt") + "\"",
                                        "u -nd1 " + f.dst("V00000") + "/bkpcmp.lzh \"" + f.src("SUB/a b.txt") + "\""}));
    EXPECT_EQ(f.archiver.owners, (std::vector<std::string>{"1", "1"}));

    f.state.db().exec("UPDATE FILEKANRI SET LVL = 3 WHERE FILENM = 'old.txt'");
    WriteFile(f.src("old.txt"), "changed");
    WriteFile(f.src("new.txt"), "n");
    f.archiver.commands.clear();
    f.run("9", "1", 5);
    EXPECT_EQ(f.archiver.commands,
              (std::vector<std::string>{"u -nd1 " + f.dst("V00001") + "/bkpcmp.lzh \"" + f.src("new.txt") + "\"",
                                        "u -nd1 " + f.dst("V00004") + "/bkpcmp.lzh \"" + f.src("old.txt") + "\""}));
    EXPECT_EQ(f.archiver.owners.back(), "9");
    EXPECT_EQ(f.rowsOf("old.txt").back().lvl, 4);
}

TEST(Archive, PlainCopiesTakeTheNextFreeLevelWhenTheNameIsTaken) {
    BackupFixture f;
    MakeDirs(f.src("X"));
    MakeDirs(f.src("Y"));
    WriteFile(f.src("X/a.txt"), "from X");
    WriteFile(f.src("Y/a.txt"), "from Y");
    chmod(f.src("Y/a.txt").c_str(), 0640);
    SetMtime(f.src("Y/a.txt"), kBase);
    f.run("9", "1", 1);
    EXPECT_EQ(ReadFile(f.dst("V00001/a.txt")), "from X");
    EXPECT_EQ(ReadFile(f.dst("V00002/a.txt")), "from Y");
    EXPECT_EQ(Mtime(f.dst("V00002/a.txt")), kBase);
    EXPECT_EQ(f.rowsOf("a.txt", "X")[0].lvl, 1);
    EXPECT_EQ(f.rowsOf("a.txt", "Y")[0].lvl, 2);
    WriteFile(f.src("Y/a.txt"), "Y again");
    f.run("9", "1", 2);
    EXPECT_EQ(f.rowsOf("a.txt", "Y").back().lvl, 3);
    EXPECT_EQ(ReadFile(f.dst("V00003/a.txt")), "Y again");
    WriteFile(f.src("X/a.txt"), "X again");
    f.run("9", "1", 1);
    EXPECT_EQ(ReadFile(f.dst("V00001/a.txt")), "from X");
    EXPECT_EQ(ReadFile(f.dst("V00004/a.txt")), "X again");
}

// A failing or throwing archiver marks the row "9", the run goes on; silent keeps the archiver's own complaint.
TEST(Archive, ArchiverFailureMarksTheRowAndTheRunGoesOn) {
    BackupFixture f;
    f.options.compression = "1";
    f.options.silent = true;
    for (const char* n : {"a.txt", "b.txt", "c.txt"}) WriteFile(f.src(n), n);
    f.archiver.results = {-3};
    f.archiver.throwOnCall = 1;
    f.run("9", "1", 1);
    EXPECT_EQ(f.ui.messages, (std::vector<std::string>{" error lzh u:追加･更新 function ",
                                                       "ファイルのコピーで判別できないエラーが発生しました! FILE= " + f.src("b.txt")}));
    EXPECT_EQ(f.rowsOf("a.txt")[0].kbn1 + f.rowsOf("b.txt")[0].kbn1 + f.rowsOf("c.txt")[0].kbn1, "990");
}

TEST(Archive, FilesThatVanishOrTurnSpecialOrUnreadableBeforeStoringGetCodeNine) {
    // Plain copies check the file themselves; the real archiver refuses it without blocking on a FIFO.
    for (std::string compression : {"0", "1"}) {
        MeddlingUi ui;
        BackupFixture f;
        SharedState state(ui, f.system);
        state.catalog = std::move(f.state.catalog);
        BackupOptions options{false, compression};
        WriteFile(f.src("fine.txt"), "f");
        WriteFile(f.src("gone.txt"), "g");
        WriteFile(f.src("locked.txt"), "l");
        WriteFile(f.src("pipe"), "p");
        ui.actions[Storing(f.src("fine.txt"))] = [&] {
            unlink(f.src("gone.txt").c_str());
            unlink(f.src("pipe").c_str());
            mkfifo(f.src("pipe").c_str(), 0644);
            options.silent = true;  // what follows is stored silently
        };
        ScopedFileFault fault([&](const std::string& path, FileAccess access) {
            return access == FileAccess::kOpenForRead && path == f.src("locked.txt") ? EACCES : 0;
        });
        if (compression == "0")
            BackupDirectory(state, options, f.source, "9", "1", f.destination, 1, 1, "01", f.archiver.call());
        else
            BackupDirectory(state, options, f.source, "9", "1", f.destination, 1, 1, "01");
        f.state.catalog = std::move(state.catalog);
        EXPECT_EQ(f.rowsOf("fine.txt")[0].kbn1, "0") << compression;
        for (std::string n : {"gone.txt", "pipe"}) EXPECT_EQ(f.rowsOf(n)[0].kbn1, "9") << n;
        if (compression == "0") {
            EXPECT_EQ(f.rowsOf("locked.txt")[0].kbn1, "9");
            EXPECT_EQ(ui.messages, std::vector<std::string>{});
            EXPECT_TRUE(f.archiver.commands.empty());
            EXPECT_EQ(ReadFile(f.dst("V00001/fine.txt")), "f");
        } else {
            const std::vector<std::string> refused{"UNLHA32.DLL error return rc = 8107", " error lzh u:追加･更新 function "};
            EXPECT_EQ(ui.messages, (std::vector<std::string>{refused[0], refused[1], refused[0], refused[1]}));
            std::int32_t code = 0;
            auto index = archive::LoadIndex(f.dst("V00001/bkpcmp.lzh"), &code);
            ASSERT_TRUE(index);
            EXPECT_EQ(index->members.size(), 2u);  // fine.txt, and locked.txt (the hook does not reach the archiver)
        }
    }
}

TEST(Archive, OneAddPerArchiveOnAnyNumberOfJobsStoresWhatOneCallPerFileStores) {
    // One call per file, then one add per archive on 1 and 3 threads: same archive, rows, messages.
    MeddlingUi ui;
    BackupFixture f;
    SharedState state(ui, f.system);
    state.catalog = std::move(f.state.catalog);
    const BackupOptions options{false, "1"};
    MakeDirs(f.src("T"));
    std::string noise(200000, '\0');
    std::uint32_t x = 7;
    for (char& c : noise) c = static_cast<char>((x ^= x << 13, x ^= x >> 17, x ^= x << 5) >> 24);
    const char* savedJobs = std::getenv("TESSEL_JOBS");
    const std::string jobsBefore = savedJobs ? savedJobs : "";
    std::vector<std::string> archives, messages;
    std::vector<std::vector<std::string>> rows;
    for (int mode = 0; mode < 3; ++mode) {
        for (int i = 0; i < 30; ++i) {
            const std::string path = f.src("T/f" + std::to_string(i));
            WriteFile(path, i % 2 ? noise.substr(i * 997) : std::string(9000 * i, 'a' + i % 26) + noise.substr(0, i * 50));
            SetMtime(path, kBase + i);
        }
        ui.actions[Storing(f.src("T/f3"))] = [&] { unlink(f.src("T/f7").c_str()); };
        state.db().exec("DELETE FROM FILEKANRI");
        std::filesystem::remove_all(f.dst("V00001"));
        UnlhaDropIndexCache();
        ui.messages.clear();
        setenv("TESSEL_JOBS", mode == 1 ? "1" : "3", 1);
        if (mode == 0)
            BackupDirectory(state, options, f.source, "9", "1", f.destination, 1, 1, "01",
                            [](SharedState& s, const std::string& owner) { return RunArchiver(s, owner); });
        else
            BackupDirectory(state, options, f.source, "9", "1", f.destination, 1, 1, "01");
        archives.push_back(ReadFile(f.dst("V00001/bkpcmp.lzh")));
        messages.insert(messages.end(), ui.messages.begin(), ui.messages.end());
        rows.emplace_back();
        Statement q = state.db().prepare("SELECT DIR || FILENM || ' ' || LVL || ' ' || KBN1 FROM FILEKANRI ORDER BY rowid");
        while (q.step()) rows.back().push_back(q.text(0));
    }
    if (savedJobs) setenv("TESSEL_JOBS", jobsBefore.c_str(), 1);
    else unsetenv("TESSEL_JOBS");
    EXPECT_EQ(archives[1], archives[0]);
    EXPECT_EQ(archives[2], archives[0]);
    EXPECT_EQ(rows[1], rows[0]);
    EXPECT_EQ(rows[2], rows[0]);
    const std::vector<std::string> once{"UNLHA32.DLL error return rc = 8107", " error lzh u:追加･更新 function ",
                                        "ファイルのコピーに失敗しました! FILE= " + f.src("T/f7") + "\n     RC  エラー　33031"};
    ASSERT_EQ(messages.size(), 9u);
    for (std::size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(messages[i], once[i % 3]) << i;
    EXPECT_EQ(std::count(rows[0].begin(), rows[0].end(), f.src("T/f7") + " 1 9"), 1);
    std::int32_t code = 0;
    auto index = archive::LoadIndex(f.dst("V00001/bkpcmp.lzh"), &code);
    ASSERT_TRUE(index);
    EXPECT_EQ(index->members.size(), 29u);
}

TEST(Archive, BulkKindArchivesTheWholeTreeOnceAndRecordsCodeTwo) {
    for (std::string flag : {"01", "00"}) {
        BackupFixture f;
        f.options.compression = "1";
        MakeDirs(f.src("A"));
        WriteFile(f.src("a.txt"), "a");
        WriteFile(f.src("A/b.txt"), "b");
        f.run("1", "3", 0, flag);
        std::string verb = flag == "01" ? "u -d1n " : "u -n ";
        EXPECT_EQ(f.archiver.commands,
                  (std::vector<std::string>{verb + f.dst("bkpcmp.lzh") + " \"" + f.source + "/*.*\""}));
        EXPECT_EQ(f.archiver.owners, (std::vector<std::string>{"1"}));
        for (const auto& r : f.rows()) EXPECT_EQ(r.kbn1, "2");
        EXPECT_EQ(f.rows().size(), flag == "01" ? 2u : 1u);
        EXPECT_FALSE(PathExists(f.dst("V00000")));
    }
    BackupFixture f;
    f.options.silent = true;
    WriteFile(f.src("a.txt"), "a");
    f.archiver.results = {1};
    f.run("1", "3", 0);
    EXPECT_EQ(f.ui.messages, (std::vector<std::string>{" error lzh U:追加･更新 一括 function ",
                                                       "ファイルを一括バックアップに入れられませんでした！ (" + f.src("a.txt") + ")"}));
    EXPECT_EQ(f.rows()[0].kbn1, "9");
}

TEST(Archive, VersionFolderThatCannotBeMadeAbortsAtStepTenWithoutFalseClaims) {
    BackupFixture f;
    f.options.compression = "1";
    WriteFile(f.src("a.txt"), "a");
    WriteFile(f.src("b.txt"), "b");
    f.run("9", "1", 1);  // both at level 1
    WriteFile(f.src("b.txt"), "bb");
    WriteFile(f.src("0new.txt"), "c");
    WriteFile(f.dst("V00002"), "a file where the folder should be");
    f.archiver.commands.clear();
    f.run("9", "1", 2);
    ASSERT_EQ(f.ui.messages.size(), 2u);
    EXPECT_EQ(f.ui.messages[0], "予期しないエラーが発生した為、処理を中断します。!  step = 10");
    EXPECT_NE(f.ui.messages[1].find(f.dst("V00002")), std::string::npos);
    EXPECT_EQ(f.archiver.commands.size(), 1u);
    EXPECT_EQ(f.rowsOf("0new.txt")[0].kbn1, "0");
    EXPECT_EQ(f.rowsOf("b.txt").back().kbn1, "9");
    EXPECT_EQ(f.rowsOf("b.txt").back().chk1, "1");
    EXPECT_FALSE(f.inTransaction());
}

// A row that cannot be written skips that version only.
TEST(Archive, RowWriteFailureSkipsThatVersionOnly) {
    BackupFixture f;
    f.options.compression = "1";
    WriteFile(f.src("a.txt"), "a");
    WriteFile(f.src("b.txt"), "b");
    f.state.db().exec(
        "CREATE TRIGGER refuse BEFORE UPDATE OF LVL, KBN1 ON FILEKANRI WHEN NEW.FILENM = 'a.txt' "
        "BEGIN SELECT RAISE(ABORT, 'write refused'); END");
    f.archiver.results = {7, 7};
    f.run("9", "1", 1);
    ASSERT_EQ(f.ui.messages.size(), 6u);
    EXPECT_EQ(f.ui.messages[2], "予期しないエラーが発生した為、処理をスキップします。!  step = 11\n FILE = " + f.src("a.txt"));
    EXPECT_NE(f.ui.messages[3].find("write refused"), std::string::npos);
    EXPECT_EQ(f.ui.messages[4], " error lzh u:追加･更新 function ");
    EXPECT_EQ(f.ui.messages[5], "ファイルのコピーに失敗しました! FILE= " + f.src("b.txt") + "\n     RC  エラー　00007");
    EXPECT_EQ(f.rowsOf("b.txt")[0].kbn1, "9");
}

}  // namespace
}  // namespace tessel::test
