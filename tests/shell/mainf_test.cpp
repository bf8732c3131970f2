#include "shell/MAINF.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>

#include <filesystem>

#include "backup/BKPGO.h"
#include "inquiry/BKPFIND1.h"
#include "inquiry/BKPFIND2.h"
#include "inquiry/BKPFIND3.h"
#include "registration/DIRSET.h"
#include "restore/FILEREV.h"
#include "restore/RSTRLIST.h"
#include "support/gui_harness.h"
#include "ui/help.h"
#include "utility/UTILITY.h"
#include "utility/frmAbout.h"

namespace tessel {
namespace {

TEST(MAINF, ExitCloseBoxAndASecondCopyEndTheProgramOutsideIconMode) {
    {
        test::GuiHarness h;
        MAINF& w = h.context.window<MAINF>();
        w.open();
        EXPECT_TRUE(h.ui.messages.empty());
        test::GuiHarness::screenshot(w, "MAINF");
        QTest::mouseClick(w.findChild<QPushButton*>("Command5"), Qt::LeftButton);
        EXPECT_EQ(h.endedWith, 0);
        h.endedWith.reset();
        w.close();
        EXPECT_EQ(h.endedWith, 0);
    }

    test::GuiHarness second;
    InstanceLock other(second.runtime / "tessel.lock");
    ASSERT_TRUE(other.acquire());
    second.context.window<MAINF>().open();
    EXPECT_EQ(second.ui.messages, std::vector<std::string>{"すでにTesselバックアップ管理は起動しています。"});
    EXPECT_EQ(second.endedWith, 1);
}

// F1 in the window opens the manual at the window's own section.
template <class W>
void PressF1In(test::GuiHarness& h, const char* name) {
    W& w = h.context.window<W>();
    w.open();
    QTest::keyClick(&w, Qt::Key_F1);
    QUrl expected = QUrl::fromLocalFile(QString::fromStdString(h.context.helpFile));
    expected.setFragment(name);
    ASSERT_FALSE(h.browserAsked.empty()) << name;
    EXPECT_EQ(h.browserAsked.back(), expected) << name;
    EXPECT_NE(test::ReadFile(h.context.helpFile).find(std::string("id=\"") + name + "\""), std::string::npos) << name;
}

TEST(Help, F1InEveryWindowAndTheHelpButtonOpenTheManualAtTheWindowsSection) {
    test::GuiHarness h;
    const std::string manual = test::ReadFile(h.context.helpFile);
    for (const char* topic : {"AUTO=", "INITBKP=", "TERMBKP=", "ICON=", "TIME1=", "tessel-backupctl", "filebkp.mdb", "BKPDEF.INI",
                              ".tessel-engine.lock", "RSTRLIST.TXT", "--wait"})
        EXPECT_NE(manual.find(topic), std::string::npos) << topic;
    PressF1In<MAINF>(h, "MAINF");
    PressF1In<DIRSET>(h, "DIRSET");
    PressF1In<BKPGO>(h, "BKPGO");
    PressF1In<FILEREV>(h, "FILEREV");
    PressF1In<RSTRLIST>(h, "RSTRLIST");
    PressF1In<BKPFIND1>(h, "BKPFIND1");
    PressF1In<BKPFIND2>(h, "BKPFIND2");
    PressF1In<BKPFIND3>(h, "BKPFIND3");
    PressF1In<UTILITY>(h, "UTILITY");
    PressF1In<frmAbout>(h, "frmAbout");
    EXPECT_EQ(h.browserAsked.size(), 10u);

    MAINF& w = h.context.window<MAINF>();
    w.open();
    QTest::mouseClick(w.findChild<QPushButton*>("Command10"), Qt::LeftButton);
    EXPECT_EQ(h.browserAsked.back().fragment(), "MAINF");
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(h.ui.messages.empty());

    // No browser, then no manual: each said with the file's path.
    h.browserOpens = false;
    QTest::keyClick(&w, Qt::Key_F1);
    h.context.helpFile = h.folder / "help/index.html";
    QTest::mouseClick(w.findChild<QPushButton*>("Command10"), Qt::LeftButton);
    EXPECT_EQ(h.ui.messages, (std::vector<std::string>{"ヘルプファイルを開けませんでした。ブラウザーで次のファイルを開いてください: " +
                                                           std::string(TESSEL_SHARE_BUILD_DIR) + "/help/index.html",
                                                       "ヘルプファイルが見つかりません: " + (h.folder / "help/index.html")}));
    EXPECT_EQ(h.browserAsked.size(), 12u);
}

TEST(Help, TheManualIsFoundBesideTheInstalledOrTheBuiltProgram) {
    EXPECT_EQ(HelpFileBeside(TESSEL_BINARY_DIR), std::string(TESSEL_SHARE_BUILD_DIR) + "/help/index.html");
    test::TempDir prefix;
    std::filesystem::create_directories(prefix / "bin");
    EXPECT_EQ(HelpFileBeside(prefix / "bin"), prefix / "share/tessel-backup/help/index.html");  // said when missing
    std::filesystem::create_directories(prefix / "share/tessel-backup/help");
    test::WriteFile(prefix / "share/tessel-backup/help/index.html", "<html></html>");
    EXPECT_EQ(HelpFileBeside(prefix / "bin"), prefix / "share/tessel-backup/help/index.html");
}

}  // namespace
}  // namespace tessel
