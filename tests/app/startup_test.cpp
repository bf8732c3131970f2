#include "app/startup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>
#include <tuple>

#include "app/backup_timer.h"
#include "app/settings.h"
#include "platform/engine_lock.h"
#include "platform/instance_lock.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace tessel {
namespace {

using test::NamesIn;
using test::ReadFile;
using test::TempDataFolder;
using test::TempDir;
using test::WriteFile;

struct Harness {
    TempDataFolder folder;
    TempDir runtime;
    test::RecordingUi ui;
    test::FakeSystem system;
    SharedState state{ui, system};
    InstanceLock lock{runtime / "tessel.lock"};

    StartupOutcome start() { return RunStartup(state, lock, folder.path()); }
};

// The data folder holds links to the installed files (ln -s .../* .).
TEST(Startup, FreshFolderGetsCatalogAndSettingsFromTemplatesKeepsThemAndRefusesASecondCopy) {
    TempDataFolder installed;
    WriteFile(installed / "Bkpdef.def", "AUTO=NO\r\nICON=YES\r\n");
    // A provider line without ";" means an empty clause, which is SQLite too.
    WriteFile(installed / "JETDB.VER", "Provider=SQLite\r\n");
    const std::string templateBytes = ReadFile(installed / "bkpDEF.mdb");
    Harness h;
    for (const std::string& name : NamesIn(h.folder.path())) {
        std::filesystem::remove(h.folder / name);
        std::filesystem::create_symlink(installed / name, h.folder / name);
    }
    ASSERT_EQ(h.start(), StartupOutcome::Ready);
    EXPECT_TRUE(h.ui.messages.empty());
    EXPECT_EQ(h.state.providerClause + "|" + ProviderClauseOf("Provider=SQLite;Mode=Share"), "|Provider=SQLite;");
    EXPECT_EQ(h.state.catalogVersion, "1.04");
    EXPECT_EQ(ReadFile(h.folder / "Bkpdef.ini"), "AUTO=NO\r\nICON=YES\r\n");
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(h.folder / "filebkp.mdb")));
    EXPECT_EQ(ReadFile(installed / "bkpDEF.mdb"), templateBytes);
    EXPECT_EQ(NamesIn(installed.path()), (std::set<std::string>{"Bkpdef.def", "JETDB.VER", "bkpDEF.mdb"}));

    // A second copy says so, touches nothing and leaves the first its lock.
    Harness second;
    InstanceLock lock2(h.runtime / "tessel.lock");
    const auto before = NamesIn(second.folder.path());
    EXPECT_EQ(RunStartup(second.state, lock2, second.folder.path()), StartupOutcome::SecondCopy);
    EXPECT_EQ(second.ui.messages.size(), 1u);
    EXPECT_EQ(NamesIn(second.folder.path()), before);
    EXPECT_FALSE(h.lock.anotherCopyRunning());

    // Existing files are kept and names ignore case: the settings file in
    // upper case is the settings file; the catalog template is not needed.
    std::filesystem::remove(h.folder / "bkpDEF.mdb");
    std::filesystem::rename(h.folder / "Bkpdef.ini", h.folder / "BKPDEF.INI");
    h.state.db().exec("INSERT INTO BKPNAME (BKPNO, BKPNAME, KBN) VALUES (7, 'kept', '1')");
    h.state.catalog.reset();
    SharedState again(h.ui, h.system);
    InstanceLock lock3(h.runtime / "tessel2.lock");
    ASSERT_EQ(RunStartup(again, lock3, h.folder.path()), StartupOutcome::Ready);
    EXPECT_EQ(ReadFile(h.folder / "BKPDEF.INI"), "AUTO=NO\r\nICON=YES\r\n");
    EXPECT_EQ(test::Column(again.db(), "SELECT count(*) FROM BKPNAME WHERE BKPNAME = 'kept'"), std::vector<std::string>{"1"});
}

// Each case spoils the data folder (a shell command run in it). The third
// value is the catalog version found, or a part of the failure message.
TEST(Startup, CatalogVersionDecidesUpgradeAndBadInstallationFilesFailClearlyAndWriteNothing) {
    const std::string made = "cp bkpDEF.mdb filebkp.mdb && sqlite3 filebkp.mdb ";
    using enum StartupOutcome;
    const std::tuple<std::string, StartupOutcome, const char*> cases[] = {
        {made + "'DROP TABLE DBVERSION'", NeedsUpgrade, ""},
        {made + "\"UPDATE DBVERSION SET VNUM = 'V1.03'\"", NeedsUpgrade, "1.03"},
        {made + "\"UPDATE DBVERSION SET VNUM = '1.04'\"", NeedsUpgrade, ""},
        {made + "\"UPDATE DBVERSION SET VNUM = 'V1.04'\"", Ready, "1.04"},
        {"rm bkpDEF.mdb", Failed, "bkpDEF.mdb"},
        {"rm JETDB.VER && mkdir JETDB.VER", Failed, "JETDB.VER"},
        {"printf 'Provider=Microsoft.Jet.OLEDB.4.0;\\r\\n' >JETDB.VER", Failed, "Provider=Microsoft.Jet.OLEDB.4.0;"},
        // Such a file would otherwise go to the upgrade, which replaces it
        // (the other unusable catalogs are the connection test's).
        {"sqlite3 filebkp.mdb \"CREATE TABLE notes (body TEXT); INSERT INTO notes VALUES ('keep me')\"", Failed,
         "filebkp.mdb はこのプログラムのカタログではありません（表 AUTODEF がありません）"},
    };
    for (const auto& [spoil, outcome, text] : cases) {
        SCOPED_TRACE(spoil);
        Harness h;
        ASSERT_EQ(test::Shell("cd " + test::ShellQuote(h.folder.path()) + " && " + spoil), 0);
        auto before = NamesIn(h.folder.path());
        auto catalog = [&] { return std::filesystem::exists(h.folder / "filebkp.mdb") ? ReadFile(h.folder / "filebkp.mdb") : ""; };
        const std::string catalogBefore = catalog();
        EXPECT_EQ(h.start(), outcome);
        if (outcome != Failed) {
            EXPECT_EQ(h.state.catalogVersion, text);
            EXPECT_TRUE(h.ui.messages.empty());
            continue;
        }
        EXPECT_EQ(catalog(), catalogBefore);
        ASSERT_EQ(h.ui.messages.size(), 1u);
        EXPECT_NE(h.ui.messages[0].find(text), std::string::npos) << h.ui.messages[0];
        EXPECT_EQ(NamesIn(h.folder.path()), before);
    }
}

using Strings = std::vector<std::string>;

// Settings read from a file, acted on by recorders of what the program does.
struct SettingsHarness : SystemServices, SettingsActions {
    test::TempDir folder;
    test::RecordingUi ui;
    SharedState state{ui, *this};
    Strings events;
    StartupBackup backup = StartupBackup::kStored;

    explicit SettingsHarness(const std::string& settings, const char* name = "Bkpdef.ini") {
        state.dataFolder = folder.path();
        if (name) test::WriteFile(folder / name, settings);
    }
    void powerOff() override { events.push_back("powerOff"); }
    void systemLog(SystemLogLevel, const std::string& text) override { events.push_back("log " + text); }
    StartupBackup automaticBackup() override {
        events.push_back("backup");
        return backup;
    }
    void pauseBeforeShutDown() override { events.push_back("pause"); }
    void endProgram(int status) override { events.push_back("end " + std::to_string(status)); }
    void openIconWindow() override { events.push_back("icon"); }
    // The flags and times as one line, for comparing whole states.
    std::string flags() const {
        return "AUTO=" + state.autoFlag + " INITBKP=" + state.initBkp + " TERMBKP=" + state.termBkp + " ICON=" + state.icon +
               " times=" + std::to_string(state.time1) + "," + std::to_string(state.time2) + "," + std::to_string(state.time3);
    }
};

TEST(Settings, TimeSyntaxOfTheFileAndApplyingReadsInFileOrderAndActsOnTheResult) {
    auto read = [](const std::string& value) -> std::optional<TimeOfDay> {
        SettingsHarness h("TIME1=" + value + "\n");
        if (ReadSettings(h.state) != SettingsRead::Ok) return std::nullopt;
        return h.state.time1;
    };
    const std::pair<std::string, TimeOfDay> good[] = {{"12:30", 45000}, {"12:30\r", 45000}, {"9:05:07", 32707},
                                                      {"1:2", 3720},    {"00:00", 0},        {"23:59:59", 86399}};
    for (const auto& [value, seconds] : good) EXPECT_EQ(read(value), seconds) << value;
    for (std::string value : {"12:", "12:005", "24:00", "12:60", "12:30:60", "12", "ab:cd", " 12:30",
                              "12:30 ", "-1:30", "1:2:3:4", "12:30\r\r", ""})
        EXPECT_EQ(read(value), std::nullopt) << value;

    const std::string badTime = " BKPDEF.INI上の時間指定が間違っています。\n YY:MM:DDの形式に修正してください! ";
    struct Case {
        std::string file;
        bool goesOn;
        Strings events;
        std::string flags;
        StartupBackup backup = StartupBackup::kStored;
        std::string message = "";
        const char* name = "Bkpdef.ini";
    };
    using enum StartupBackup;
    const Case cases[] = {
        // A start-up backup ends the program without any window.
        {"INITBKP=YES\r\n", false, {"backup", "end 0"}, "AUTO=YES INITBKP=YES TERMBKP=NO ICON=NO times=0,0,0", kStored, "",
         "BKPDEF.INI"},
        // A later AUTO line takes the start-up backup back.
        {"INITBKP=YES\nAUTO=NO\n", true, {}, "AUTO=NO INITBKP=YES TERMBKP=NO ICON=NO times=0,0,0"},
        // Shut-down comes after the backup and the pause and wins over the end.
        {"TERMBKP=YES\nINITBKP=YES\n", false, {"backup", "pause", "powerOff", "end 0"},
         "AUTO=YES INITBKP=YES TERMBKP=YES ICON=NO times=0,0,0"},
        // Only the exact text YES is on; any other ICON value is stored as NO.
        {"ICON=yes\nAUTO=YES \nTERMBKP=NO\n", true, {}, "AUTO=YES  INITBKP=NO TERMBKP=NO ICON=NO times=0,0,0"},
        // Empty values keep the earlier ones, the last line wins, keys are
        // exact and at the line start.
        {"AUTO=YES\nAUTO=\nICON=NO\nICON=YES\nICON=\nXAUTO=NO\n auto=NO\nAuto=NO\n", true, {"backup", "icon"},
         "AUTO=YES INITBKP=NO TERMBKP=NO ICON=YES times=0,0,0"},
        // An empty time takes the pending text; 00:00 is no time.
        {"TIME1=12:30\r\nTIME2=\r\nTIME3=00:00\r\n", true, {}, "AUTO=NO INITBKP=NO TERMBKP=NO ICON=NO times=45000,45000,0"},
        // A start-up backup that cannot run: no pause, no power-off, an error end
        // (3 when another engine kept the data folder); icon mode goes on.
        {"TERMBKP=YES\n", false, {"backup", "end 1"}, "AUTO=YES INITBKP=NO TERMBKP=YES ICON=NO times=0,0,0", kNotRun},
        {"TERMBKP=YES\n", false, {"backup", "end 3"}, "AUTO=YES INITBKP=NO TERMBKP=YES ICON=NO times=0,0,0", kBusy},
        {"AUTO=YES\nICON=YES\n", true, {"backup", "icon"}, "AUTO=YES INITBKP=NO TERMBKP=NO ICON=YES times=0,0,0", kNotRun},
        // One that ran with failures still ends or powers off, with status 1.
        {"INITBKP=YES\n", false, {"backup", "end 1"}, "AUTO=YES INITBKP=YES TERMBKP=NO ICON=NO times=0,0,0", kSomeFailed},
        {"TERMBKP=YES\n", false, {"backup", "pause", "powerOff", "end 1"},
         "AUTO=YES INITBKP=NO TERMBKP=YES ICON=NO times=0,0,0", kSomeFailed},
        // A bad time ends the program before anything read is acted on.
        {"AUTO=YES\nTIME1=25:00\n", false, {"end 1"}, "AUTO=YES INITBKP=NO TERMBKP=NO ICON=NO times=0,0,0", kStored, badTime},
        {"TIME1=12:00\nTIME3=noon\nICON=YES\n", false, {"end 1"},
         "AUTO=NO INITBKP=NO TERMBKP=NO ICON=NO times=43200,0,0", kStored, badTime, "BKPDEF.INI"},
        // No settings file at all (@ is the data folder).
        {"", false, {"end 1"}, "AUTO=NO INITBKP=NO TERMBKP=NO ICON=NO times=0,0,0", kStored,
         "設定ファイルを読めません: @/BKPDEF.INI", nullptr},
    };
    for (const Case& c : cases) {
        SettingsHarness h(c.file, c.name);
        h.backup = c.backup;
        EXPECT_EQ(ApplySettings(h.state, h), c.goesOn) << c.file;
        EXPECT_EQ(h.events, c.events) << c.file;
        EXPECT_EQ(h.flags(), c.flags) << c.file;
        std::string message = c.message;
        if (message.find('@') != std::string::npos) message.replace(message.find('@'), 1, h.folder.path());
        EXPECT_EQ(h.ui.messages, message.empty() ? Strings{} : Strings{message}) << c.file;
    }
}

constexpr TimeOfDay At(int h, int m) { return h * 3600 + m * 60; }
using Starts = std::vector<TimeOfDay>;

// The times of day at which 20-second ticks from a start time start a
// backup, over two days.
TEST(BackupTimer, EachSetTimeStartsOneBackupADayAndOneTickAtMostOne) {
    const std::tuple<const char*, TimeOfDay, std::array<TimeOfDay, 3>, Starts, Starts> cases[] = {
        {"started after it: the first tick", At(10, 0), {At(9, 0), 0, 0}, {At(10, 0) + 20}, {At(9, 0)}},
        {"three times", At(0, 1), {At(9, 0), At(13, 0), At(22, 30)}, {At(9, 0), At(13, 0), At(22, 30)},
         {At(9, 0), At(13, 0), At(22, 30)}},
        {"equal times", At(11, 0), {At(12, 0), At(12, 0), 0}, {At(12, 0)}, {At(12, 0)}},
        // After both times: one backup at the first tick, slot 2 is marked
        // done without one of its own.
        {"started after two", At(18, 0), {At(9, 0), At(13, 0), 0}, {At(18, 0) + 20}, {At(9, 0), At(13, 0)}},
        {"no time", At(0, 1), {0, 0, 0}, {}, {}},
    };
    for (const auto& [what, start, times, firstDay, secondDay] : cases) {
        BackupTimerSlots slots;
        std::array<Starts, 2> starts;
        TimeOfDay now = start + 20;
        for (Starts& day : starts) {
            for (; now < 86400; now += 20)
                if (slots.tick(now, times)) day.push_back(now);
            now -= 86400;
        }
        EXPECT_EQ(starts, (std::array<Starts, 2>{firstDay, secondDay})) << what;
    }
}

// The program run as a batch job: a data folder whose settings ask for a
// start-up backup backs up and ends by itself, without a display.
TEST(Batch, PowerOffBackupWaitsForARunningEngineBacksUpWithoutADisplayAndPowersOff) {
    test::TempDataFolder data;
    test::TempDir tree;  // sources, destination, a stand-in systemctl, the runtime folder
    test::WriteFile(data / "BKPDEF.INI", "TERMBKP=YES\r\n");
    for (const char* dir : {"src/sub dir", "dest", "bin"}) std::filesystem::create_directories(tree / dir);
    test::WriteFile(tree / "src/a.txt", "hello");
    test::WriteFile(tree / "src/sub dir/O'Neil 日本.txt", std::string(50000, 'x'));
    std::filesystem::copy_file(data / "bkpDEF.mdb", data / "filebkp.mdb");
    Connection::openFile(data / "filebkp.mdb")
        ->prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES "
                  "(0, ?1, NULL, '0', 'PREFIX', '1', NULL, NULL), (1, ?2, ?3, '1', NULL, '1', '1', '01')")
        .bind(1, tree / "dest/").bind(2, tree / "src").bind(3, tree / "dest/src")
        .run();
    test::WriteFile(tree / "bin/systemctl", "#!/bin/sh\necho \"$@\" >> \"$(dirname \"$0\")/asked\"\n");
    std::filesystem::permissions(tree / "bin/systemctl", std::filesystem::perms::owner_all);
    // Another engine (as the companion's timer would) holds the data folder for 2 s.
    EngineLock other(data.path());
    ASSERT_TRUE(other.tryLock());
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        other.unlock();
    });
    const int status = test::Shell("cd " + test::ShellQuote(data.path()) + " && env -u DISPLAY -u WAYLAND_DISPLAY PATH=" +
                                   test::ShellQuote(tree / "bin") + ":\"$PATH\" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=" +
                                   test::ShellQuote(tree.path()) + " timeout 60 " +
                                   test::ShellQuote(std::string(TESSEL_BINARY_DIR) + "/tessel-backup") + " 2>" + test::ShellQuote(tree / "err"));
    release.join();
    const std::string err = test::ReadFile(tree / "err");
    ASSERT_EQ(status, 0) << err;
    EXPECT_NE(err.find("別のバックアップ・復元・カタログ更新が終わるのを待っています（残り 10 分 00 秒）。\n" + data.path()),
              std::string::npos)
        << err;
    EXPECT_EQ(test::ReadFile(tree / "bin/asked"), "poweroff\n");

    EXPECT_EQ(test::Shell("lhasa t " + test::ShellQuote(tree / "dest/src/V00001/bkpcmp.lzh") + " >/dev/null 2>&1"), 0) << err;
    Statement rows = Connection::openFile(data / "filebkp.mdb")
                         ->prepare("SELECT count(*), max(BKPNAME) FROM FILEKANRI JOIN BKPNAME USING (BKPNO) "
                                   "WHERE BKPNO = 1 AND KBN1 = '0' AND LVL = 1");
    ASSERT_TRUE(rows.step());
    EXPECT_EQ(rows.int64(0), 2);
    EXPECT_EQ(rows.text(1), "自動バックアップ");
}

// The program's command line and exit statuses as a batch job sees them:
// --help and --version without a display, a wrong argument in one line;
// one copy per data folder, so a batch data folder runs beside the desktop
// program's; a start-up backup that could not store something ends with 1.
TEST(Batch, HelpWithoutADisplayOneCopyPerDataFolderAndAFailedBackupEndsWithOne) {
    TempDir tree;
    const std::string program = std::string(TESSEL_BINARY_DIR) + "/tessel-backup";
    // Without any display; the batch runs on the offscreen one.
    auto run = [&](const std::string& folder, const std::string& args) {
        const int status = test::Shell("cd " + test::ShellQuote(folder) + " && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                                       (args.empty() ? "QT_QPA_PLATFORM=offscreen " : "") + "XDG_RUNTIME_DIR=" +
                                       test::ShellQuote(tree.path()) + " timeout 60 " + test::ShellQuote(program) + " " + args + " >" +
                                       test::ShellQuote(tree / "out") + " 2>" + test::ShellQuote(tree / "err") + " </dev/null");
        return std::make_tuple(status, ReadFile(tree / "out"), ReadFile(tree / "err"));
    };
    auto [status, out, err] = run(tree.path(), "--help");
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(out.substr(0, out.find('\n')), "使い方: tessel-backup [-h | --help | --version]");
    std::tie(status, out, err) = run(tree.path(), "--version");
    EXPECT_EQ(std::make_tuple(status, out, err), std::make_tuple(0, std::string("tessel-backup (Tesselバックアップ管理) ") + TESSEL_VERSION + "\n", std::string()));
    for (const auto& [args, said] : std::vector<std::pair<std::string, std::string>>{
             {"-platform offscreen", "不明なオプションです: -p"},
             {"/some/folder", "引数はとりません (データフォルダーはカレントディレクトリーです): /some/folder"}}) {
        std::tie(status, out, err) = run(tree.path(), args);
        EXPECT_EQ(status, 2) << args;
        EXPECT_EQ(err, "tessel-backup: " + said + " (使い方: tessel-backup --help)\n") << args;
    }
    EXPECT_EQ(NamesIn(tree.path()), (std::set<std::string>{"err", "out"}));

    // Two data folders, one reached through a link: one lock per folder.
    TempDataFolder desktop, batch;
    std::filesystem::create_symlink(desktop.path(), tree / "alias");
    ::setenv("XDG_RUNTIME_DIR", tree.path().c_str(), 1);
    EXPECT_EQ(InstanceLockPathFor(desktop.path()).rfind(tree / "tessel-backup-", 0), 0u);
    InstanceLock running(InstanceLockPathFor(desktop.path()));
    ASSERT_TRUE(running.acquire());

    // The batch folder's only source is gone: the run fails, and says so.
    WriteFile(batch / "BKPDEF.INI", "INITBKP=YES\r\n");
    std::filesystem::copy_file(batch / "bkpDEF.mdb", batch / "filebkp.mdb");
    Connection::openFile(batch / "filebkp.mdb")
        ->prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES "
                  "(0, ?1, NULL, '0', 'PREFIX', '0', NULL, NULL), (1, ?2, ?3, '1', NULL, '1', '1', '01')")
        .bind(1, tree / "dest/").bind(2, tree / "gone").bind(3, tree / "dest/gone")
        .run();
    std::tie(status, out, err) = run(batch.path(), "");
    EXPECT_EQ(status, 1) << err;
    EXPECT_NE(err.find(tree / "gone"), std::string::npos) << err;
    // The desktop program's own folder is refused, under any path.
    WriteFile(desktop / "BKPDEF.INI", "INITBKP=YES\r\n");
    std::tie(status, out, err) = run(tree / "alias", "");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, "Tesselバックアップ管理: すでにTesselバックアップ管理は起動しています。\n");
    EXPECT_FALSE(std::filesystem::exists(desktop / "filebkp.mdb"));
}

}  // namespace
}  // namespace tessel
