#include "shell/settings.h"

#include <gtest/gtest.h>

#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace tessel {
namespace {

struct Events : SystemServices {
    std::vector<std::string> list;
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
        test::WriteFile(folder / name, settings);
    }
    bool apply() { return ApplySettings(state, actions); }
};

TEST(ParseTimeOfDay, AcceptsClockTimesOnly) {
    EXPECT_EQ(ParseTimeOfDay("12:30"), 12 * 3600 + 30 * 60);
    EXPECT_EQ(ParseTimeOfDay("9:05:07"), 9 * 3600 + 5 * 60 + 7);
    EXPECT_EQ(ParseTimeOfDay("00:00"), 0);
    EXPECT_EQ(ParseTimeOfDay("23:59:59"), 86399);
    for (const char* bad : {"", "25:00", "24:00", "12:60", "12:30:60", "12", "ab:cd", "12:30pm", " 12:30", "1:2:3:4", "123:00"})
        EXPECT_FALSE(ParseTimeOfDay(bad)) << bad;
}

TEST(ApplySettings, StartUpBackupEndsTheProgramWithoutWindows) {
    Harness h("INITBKP=YES\r\n", "BKPDEF.INI");
    EXPECT_FALSE(h.apply());
    EXPECT_EQ(h.events.list, (std::vector<std::string>{"backup", "end 0"}));
    EXPECT_EQ(h.state.autoFlag, "YES");
}

TEST(ApplySettings, StartUpBackupThatCannotRunNeverActsAsIfItHad) {
    struct Case {
        const char* settings;
        bool goesOn;
        std::vector<std::string> events;
    } cases[] = {
        {"INITBKP=YES\n", false, {"backup", "end 1"}},
        {"TERMBKP=YES\n", false, {"backup", "end 1"}},  // no pause, no power-off
        {"AUTO=YES\nICON=YES\n", true, {"backup", "icon"}},
    };
    for (const Case& c : cases) {
        Harness h(c.settings);
        h.actions.backupRuns = false;
        EXPECT_EQ(h.apply(), c.goesOn) << c.settings;
        EXPECT_EQ(h.events.list, c.events) << c.settings;
    }
}

TEST(ApplySettings, LaterAutoLineTakesBackTheStartUpBackup) {
    Harness h("INITBKP=YES\nAUTO=NO\n");
    EXPECT_TRUE(h.apply());
    EXPECT_TRUE(h.events.list.empty());
    EXPECT_EQ(h.state.initBkp, "YES");
    EXPECT_EQ(h.state.silent, "NO");
}

TEST(ApplySettings, ShutDownComesAfterBackupAndPauseAndWinsOverEnd) {
    Harness h("TERMBKP=YES\nINITBKP=YES\n");
    EXPECT_FALSE(h.apply());
    EXPECT_EQ(h.events.list, (std::vector<std::string>{"backup", "pause", "powerOff", "end 0"}));
}

TEST(ApplySettings, FlagsCountOnlyForExactYes) {
    Harness h("ICON=yes\nAUTO=YES \nTERMBKP=NO\n");
    EXPECT_TRUE(h.apply());
    EXPECT_TRUE(h.events.list.empty());
    EXPECT_EQ(h.state.icon, "NO");
    EXPECT_EQ(h.state.autoFlag, "YES ");

    Harness icon("ICON=YES\r\nAUTO=YES\r\n");
    EXPECT_TRUE(icon.apply());
    EXPECT_EQ(icon.events.list, (std::vector<std::string>{"backup", "icon"}));
    EXPECT_EQ(icon.state.icon, "YES");
}

TEST(ApplySettings, EmptyValuesKeepEarlierOnesAndLastLineWins) {
    Harness h("AUTO=YES\nAUTO=\nICON=NO\nICON=YES\nICON=\nXAUTO=NO\n auto=NO\n");
    EXPECT_TRUE(h.apply());
    EXPECT_EQ(h.state.autoFlag, "YES");
    EXPECT_EQ(h.state.icon, "YES");
}

TEST(ApplySettings, TimesCarryThePendingTextAndZeroMeansUnset) {
    Harness h("TIME1=12:30\r\nTIME2=\r\nTIME3=00:00\r\n");
    EXPECT_TRUE(h.apply());
    EXPECT_EQ(h.state.time1, 12 * 3600 + 30 * 60);
    EXPECT_EQ(h.state.time2, 12 * 3600 + 30 * 60);
    EXPECT_EQ(h.state.time3, 0);
}

TEST(ApplySettings, BadTimeShowsTheMessageAndEndsBeforeActing) {
    for (const char* text : {"AUTO=YES\nTIME1=25:00\n", "AUTO=YES\nTIME2=\n", "TIME1=12:00\nTIME3=noon\nICON=YES\n"}) {
        Harness h(text);
        EXPECT_FALSE(h.apply()) << text;
        EXPECT_EQ(h.ui.messages,
                  std::vector<std::string>{" BKPDEF.INI上の時間指定が間違っています。\n YY:MM:DDの形式に修正してください! "});
        EXPECT_EQ(h.events.list, std::vector<std::string>{"end 1"}) << text;
    }
}

TEST(ApplySettings, MissingFileIsAClearErrorNotASilentStart) {
    Harness h("");
    std::remove((h.folder / "Bkpdef.ini").c_str());
    EXPECT_FALSE(h.apply());
    ASSERT_EQ(h.ui.messages.size(), 1u);
    EXPECT_NE(h.ui.messages[0].find("BKPDEF.INI"), std::string::npos);
    EXPECT_EQ(h.events.list, std::vector<std::string>{"end 1"});
}

}  // namespace
}  // namespace tessel
