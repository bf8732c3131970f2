#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "shell/MAINF.h"
#include "support/gui_harness.h"
#include "ui/program_icon.h"
#include "utility/UTILITY.h"
#include "utility/frmAbout.h"

namespace tessel {
namespace {

void Click(QWidget& w, const char* button) { QTest::mouseClick(w.findChild<QPushButton*>(button), Qt::LeftButton); }

TEST(UTILITY, MenuAndVersionWindowShowTheirCaptions) {
    test::GuiHarness h;
    MAINF& menu = h.context.window<MAINF>();
    menu.open();
    Click(menu, "Command4");
    UTILITY* utility = h.context.existing<UTILITY>();
    ASSERT_NE(utility, nullptr);
    EXPECT_EQ(utility->windowTitle().toStdString(), "ユーティリティ");
    EXPECT_EQ(utility->findChild<QLabel*>("Label1")->text().toStdString(), "ユーティリティ");
    EXPECT_EQ(utility->findChild<QPushButton*>("Command3")->text().toStdString(), "バージョン情報");
    EXPECT_EQ(utility->findChild<QPushButton*>("Command2")->text().toStdString(), "戻る");
    test::GuiHarness::screenshot(*utility, "UTILITY");

    Click(*utility, "Command3");
    frmAbout* about = h.context.existing<frmAbout>();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->windowTitle().toStdString(), "ﾊﾞｰｼﾞｮﾝ情報");
    EXPECT_EQ(about->findChild<QLabel*>("lblTitle")->text().toStdString(), "Tesselバックアップ管理");
    EXPECT_EQ(about->findChild<QLabel*>("lblVersion")->text().toStdString(), "ﾊﾞｰｼﾞｮﾝ 1.04");
    EXPECT_EQ(about->findChild<QPushButton*>("cmdSysInfo")->text().toStdString(), "ｼｽﾃﾑ情報(&S)...");
    EXPECT_EQ(about->findChild<QPushButton*>("cmdOK")->text().toStdString(), "OK");
    // The program's own icon (the SVG rendered), not a stock picture.
    EXPECT_FALSE(ProgramIcon().pixmap(32, 32).isNull());
    EXPECT_EQ(about->findChild<QLabel*>("picIcon")->pixmap().toImage(), ProgramIcon().pixmap(32, 32).toImage());
    test::GuiHarness::screenshot(*about, "frmAbout");
}

// Runs a test with PATH set to one folder, restoring it afterwards.
struct PathScope {
    explicit PathScope(const std::string& path) : saved(qgetenv("PATH")) { qputenv("PATH", QByteArray::fromStdString(path)); }
    ~PathScope() { qputenv("PATH", saved); }
    QByteArray saved;
};

// A stand-in system monitor that leaves a mark when it is started.
void FakeMonitor(const std::string& folder, const std::string& name, const std::string& mark) {
    std::string path = folder + "/" + name;
    test::WriteFile(path, "#!/bin/sh\necho started > '" + mark + "'\n");
    chmod(path.c_str(), 0755);
}

bool WaitFor(const std::string& path) {
    for (int i = 0; i < 100 && !std::filesystem::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return std::filesystem::exists(path);
}

TEST(frmAbout, WithoutASystemMonitorTheButtonSaysSoAndStartsNothing) {
    test::GuiHarness h;
    test::TempDir bin;
    FakeMonitor(bin.path(), "not-a-monitor", bin / "mark");
    PathScope path(bin.path());
    frmAbout& about = h.context.window<frmAbout>();
    about.open();
    Click(about, "cmdSysInfo");
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{"現時点ではｼｽﾃﾑ情報を使用できません"});
    EXPECT_TRUE(about.isVisible());
    // A program file without execute permission does not count either.
    test::WriteFile(bin / "gnome-system-monitor", "#!/bin/sh\necho started > '" + (bin / "mark") + "'\n");
    Click(about, "cmdSysInfo");
    EXPECT_EQ(h.ui.messages.size(), 2u);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(std::filesystem::exists(bin / "mark"));
}

TEST(frmAbout, StartsTheFirstSystemMonitorFoundOnThePath) {
    test::GuiHarness h;
    test::TempDir bin;
    FakeMonitor(bin.path(), "hardinfo", bin / "hardinfo.mark");
    FakeMonitor(bin.path(), "xfce4-taskmanager", bin / "xfce.mark");
    PathScope path(bin.path());
    frmAbout& about = h.context.window<frmAbout>();
    about.open();
    Click(about, "cmdSysInfo");
    EXPECT_TRUE(h.ui.messages.empty());
    EXPECT_TRUE(WaitFor(bin / "xfce.mark"));
    EXPECT_FALSE(std::filesystem::exists(bin / "hardinfo.mark"));
    EXPECT_TRUE(about.isVisible());
}

}  // namespace
}  // namespace tessel
