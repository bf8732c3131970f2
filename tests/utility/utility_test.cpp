#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/gui_harness.h"
#include "ui/program_icon.h"
#include "utility/frmAbout.h"

namespace tessel {
namespace {

// A stand-in system monitor that leaves a mark when it is started.
void FakeMonitor(const test::TempDir& bin, const std::string& name, mode_t mode = 0755) {
    test::WriteFile(bin / name, "#!/bin/sh\necho started > '" + (bin / name) + ".mark'\n");
    chmod((bin / name).c_str(), mode);
}

TEST(frmAbout, ShowsTheProgramsIconAndStartsTheFirstSystemMonitorOnThePath) {
    test::GuiHarness h;
    test::TempDir bin;
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(bin.path()));
    frmAbout& about = h.context.window<frmAbout>();
    about.open();
    // The program's own icon (the SVG rendered), not a stock picture.
    EXPECT_EQ(about.findChild<QLabel*>("picIcon")->pixmap().toImage(), ProgramIcon().pixmap(32, 32).toImage());
    test::GuiHarness::screenshot(about, "frmAbout");
    // No monitor, or one without execute permission: said, and the window stays.
    FakeMonitor(bin, "not-a-monitor");
    FakeMonitor(bin, "gnome-system-monitor", 0644);
    QTest::mouseClick(about.findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{"現時点ではｼｽﾃﾑ情報を使用できません"});
    EXPECT_TRUE(about.isVisible());

    FakeMonitor(bin, "hardinfo");
    FakeMonitor(bin, "xfce4-taskmanager");
    QTest::mouseClick(about.findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);
    qputenv("PATH", savedPath);
    EXPECT_EQ(h.ui.messages.size(), 1u);
    for (int i = 0; i < 100 && !std::filesystem::exists(bin / "xfce4-taskmanager.mark"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(std::filesystem::exists(bin / "xfce4-taskmanager.mark"));
    EXPECT_FALSE(std::filesystem::exists(bin / "hardinfo.mark"));
    EXPECT_FALSE(std::filesystem::exists(bin / "gnome-system-monitor.mark"));
    EXPECT_TRUE(about.isVisible());
}

}  // namespace
}  // namespace tessel
