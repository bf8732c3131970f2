#include "shell/settings.h"

#include <gtest/gtest.h>

#include "shell/backup_timer.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace tessel {
namespace {

using Strings = std::vector<std::string>;

struct Events : SystemServices {
    Strings list;
    void powerOff() override { list.push_back("powerOff"); }
};

struct RecordingActions : SettingsActions {
    explicit RecordingActions(Events& e) : events(e) {}
    Events& events;
    bool automaticBackup() override {
        events.list.push_back("backup");
        return backupRuns;
    }
    bool backupRuns = true;
    void pauseBeforeShutDown() override { events.list.push_back("pause"); }
    void endProgram(int status) override { events.list.push_back("end " + std::to_string(status)); }
    void openIconWindow() override { events.list.push_back("icon"); }
};

struct Harness {
    test::TempDir folder;
    test::RecordingUi ui;
    Events events;
    SharedState state{ui, events};
    RecordingActions actions{events};

    explicit Harness(const std::string& settings, const char* name = "Bkpdef.ini") {
        state.dataFolder = folder.path();
        state.silent = "YES";  // left over from an earlier run; only an off AUTO clears it
        test::WriteFile(folder / name, settings);
    }
    bool apply() { return ApplySettings(state, actions); }
    // The flags and times as one line, for comparing whole states.
    std::string flags() const {
        return "AUTO=" + state.autoFlag + " INITBKP=" + state.initBkp + " TERMBKP=" + state.termBkp + " ICON=" + state.icon +
               " silent=" + state.silent + " times=" + std::to_string(state.time1) + "," + std::to_string(state.time2) + "," +
               std::to_string(state.time3);
    }
};

TEST(ReadSettings, TimeSyntaxOfTheFile) {
    auto read = [](const std::string& value) -> std::optional<TimeOfDay> {
        Harness h("TIME1=" + value + "\n");
        if (ReadSettings(h.state) != SettingsRead::Ok) return std::nullopt;
        return h.state.time1;
    };
    // "12:30\r": edited on Windows, the CR before the line end is no part of the value.
    const std::pair<std::string, TimeOfDay> good[] = {{"12:30", 45000}, {"12:30\r", 45000}, {"9:05:07", 32707},
                                                      {"1:2", 3720},    {"00:00", 0},        {"23:59:59", 86399}};
    for (const auto& [value, seconds] : good) EXPECT_EQ(read(value), seconds) << value;
    // "": no earlier time line to take the text from.
    for (std::string value : {"12:", "12::30", "12:005", "12:30:", "24:00", "25:00", "12:60", "12:30:60", "12", "ab:cd",
                              "12:30pm", " 12:30", "12:30 ", "-1:30", "1:2:3:4", "123:00", "12:30\r\r", ""})
        EXPECT_EQ(read(value), std::nullopt) << value;
}

TEST(ApplySettings, ReadsInFileOrderAndActsOnTheResult) {
    const std::string badTime = " BKPDEF.INI上の時間指定が間違っています。\n YY:MM:DDの形式に修正してください! ";
    struct Case {
        std::string file;
        bool goesOn;
        Strings events;
        std::string flags;
        std::string message = "";
        const char* name = "Bkpdef.ini";
        bool backupRuns = true;
    };
    const Case cases[] = {
        // A start-up backup ends the program without any window.
        {"INITBKP=YES\r\n", false, {"backup", "end 0"}, "AUTO=YES INITBKP=YES TERMBKP=NO ICON=NO silent=YES times=0,0,0", "",
         "BKPDEF.INI"},
        // A later AUTO line takes the start-up backup back.
        {"INITBKP=YES\nAUTO=NO\n", true, {}, "AUTO=NO INITBKP=YES TERMBKP=NO ICON=NO silent=NO times=0,0,0"},
        // Shut-down comes after the backup and the pause and wins over the end.
        {"TERMBKP=YES\nINITBKP=YES\n", false, {"backup", "pause", "powerOff", "end 0"},
         "AUTO=YES INITBKP=YES TERMBKP=YES ICON=NO silent=YES times=0,0,0"},
        // Only the exact text YES is on; any other ICON value is stored as NO.
        {"ICON=yes\nAUTO=YES \nTERMBKP=NO\n", true, {}, "AUTO=YES  INITBKP=NO TERMBKP=NO ICON=NO silent=NO times=0,0,0"},
        {"ICON=YES\r\nAUTO=YES\r\n", true, {"backup", "icon"}, "AUTO=YES INITBKP=NO TERMBKP=NO ICON=YES silent=YES times=0,0,0"},
        // Empty values keep the earlier ones, the last line wins, keys are
        // exact and at the line start.
        {"AUTO=YES\nAUTO=\nICON=NO\nICON=YES\nICON=\nXAUTO=NO\n auto=NO\nAuto=NO\n", true, {"backup", "icon"},
         "AUTO=YES INITBKP=NO TERMBKP=NO ICON=YES silent=YES times=0,0,0"},
        // An empty time takes the pending text; 00:00 is no time.
        {"TIME1=12:30\r\nTIME2=\r\nTIME3=00:00\r\n", true, {}, "AUTO=NO INITBKP=NO TERMBKP=NO ICON=NO silent=NO times=45000,45000,0"},
        {"", true, {}, "AUTO=NO INITBKP=NO TERMBKP=NO ICON=NO silent=NO times=0,0,0"},
        // A start-up backup that cannot run never acts as if it had: no
        // pause, no power-off, the end with an error; icon mode goes on.
        {"INITBKP=YES\n", false, {"backup", "end 1"}, "AUTO=YES INITBKP=YES TERMBKP=NO ICON=NO silent=YES times=0,0,0", "",
         "Bkpdef.ini", false},
        {"TERMBKP=YES\n", false, {"backup", "end 1"}, "AUTO=YES INITBKP=NO TERMBKP=YES ICON=NO silent=YES times=0,0,0", "",
         "Bkpdef.ini", false},
        {"AUTO=YES\nICON=YES\n", true, {"backup", "icon"}, "AUTO=YES INITBKP=NO TERMBKP=NO ICON=YES silent=YES times=0,0,0", "",
         "Bkpdef.ini", false},
        // A bad time ends the program before anything read is acted on.
        {"AUTO=YES\nTIME1=25:00\n", false, {"end 1"}, "AUTO=YES INITBKP=NO TERMBKP=NO ICON=NO silent=YES times=0,0,0", badTime},
        {"AUTO=YES\nTIME2=\n", false, {"end 1"}, "AUTO=YES INITBKP=NO TERMBKP=NO ICON=NO silent=YES times=0,0,0", badTime},
        {"TIME1=12:00\nTIME3=noon\nICON=YES\n", false, {"end 1"},
         "AUTO=NO INITBKP=NO TERMBKP=NO ICON=NO silent=YES times=43200,0,0", badTime, "BKPDEF.INI"},
    };
    for (const Case& c : cases) {
        Harness h(c.file, c.name);
        h.actions.backupRuns = c.backupRuns;
        EXPECT_EQ(h.apply(), c.goesOn) << c.file;
        EXPECT_EQ(h.events.list, c.events) << c.file;
        EXPECT_EQ(h.flags(), c.flags) << c.file;
        EXPECT_EQ(h.ui.messages, c.message.empty() ? Strings{} : Strings{c.message}) << c.file;
    }
    Harness missing("");
    std::remove((missing.folder / "Bkpdef.ini").c_str());
    EXPECT_FALSE(missing.apply());
    EXPECT_EQ(missing.ui.messages, Strings{"設定ファイルを読めません: " + (missing.folder / "BKPDEF.INI")});
    EXPECT_EQ(missing.events.list, Strings{"end 1"});
}

constexpr TimeOfDay At(int h, int m) { return h * 3600 + m * 60; }
using Starts = std::vector<TimeOfDay>;

// Drives 20-second ticks from a start time over two days and returns the
// times of day at which a backup started, per day.
std::array<Starts, 2> Drive(TimeOfDay start, const std::array<TimeOfDay, 3>& times) {
    BackupTimerSlots slots;
    std::array<Starts, 2> starts;
    TimeOfDay now = start + 20;
    for (Starts& day : starts) {
        for (; now < 86400; now += 20)
            if (slots.tick(now, times)) day.push_back(now);
        now -= 86400;
    }
    return starts;
}

TEST(BackupTimer, EachSetTimeStartsOneBackupADayAndOneTickAtMostOne) {
    struct Case {
        const char* what;
        TimeOfDay start;
        std::array<TimeOfDay, 3> times;
        Starts firstDay, secondDay;
    };
    const Case cases[] = {
        {"one time", At(8, 0), {At(9, 0), 0, 0}, {At(9, 0)}, {At(9, 0)}},
        {"started after it: the first tick", At(10, 0), {At(9, 0), 0, 0}, {At(10, 0) + 20}, {At(9, 0)}},
        {"two times", At(0, 1), {At(9, 0), At(13, 0), 0}, {At(9, 0), At(13, 0)}, {At(9, 0), At(13, 0)}},
        {"three times", At(0, 1), {At(9, 0), At(13, 0), At(22, 30)}, {At(9, 0), At(13, 0), At(22, 30)},
         {At(9, 0), At(13, 0), At(22, 30)}},
        {"equal times", At(11, 0), {At(12, 0), At(12, 0), 0}, {At(12, 0)}, {At(12, 0)}},
        // After both times: one backup at the first tick, slot 2 is marked
        // done without one of its own.
        {"started after two", At(18, 0), {At(9, 0), At(13, 0), 0}, {At(18, 0) + 20}, {At(9, 0), At(13, 0)}},
        {"only slot 3 set", At(0, 1), {0, 0, At(23, 59)}, {At(23, 59)}, {At(23, 59)}},
        {"no time", At(0, 1), {0, 0, 0}, {}, {}},
    };
    for (const Case& c : cases) {
        auto starts = Drive(c.start, c.times);
        EXPECT_EQ(starts[0], c.firstDay) << c.what;
        EXPECT_EQ(starts[1], c.secondDay) << c.what;
    }
}

}  // namespace
}  // namespace tessel
