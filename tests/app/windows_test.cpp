#include "app/ICONM.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "platform/engine_lock.h"
#include "app/MAINF.h"
#include "app/application.h"
#include "support/gui_harness.h"
#include "ui/help.h"
#include "ui/program_icon.h"

namespace tessel {
namespace {

struct IconHarness : test::GuiHarness {
    IconHarness() {
        state.icon = "YES";
        context.backupEngine = [this](SharedState&, const BackupCall& c) {
            calls.push_back(c);
            tipDuringBackup = context.window<ICONM>().tip();
        };
        context.clock = [this] { return now; };
        state.db().exec("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, ABKP, CHK2) VALUES (1, '/src', '/dst', '1', '1', '01')");
        // The offscreen platform has no notification area; a desktop has one.
        context.window<ICONM>().notificationAreaAvailable = [] { return true; };
    }
    std::vector<BackupCall> calls;
    QString tipDuringBackup;
    std::time_t now = 0;

    void tickAt(int h, int m) {
        std::tm t{.tm_min = m, .tm_hour = h, .tm_mday = 1, .tm_mon = 5, .tm_year = 126, .tm_isdst = -1};
        now = std::mktime(&t);
        context.window<ICONM>().tick();
    }
};

// A set time starts an automatic backup with its tip (which times start
// one is the timer test's); icon mode lives on through the main window's
// exit and close box.
TEST(ICONM, TicksStartOneBackupPerSetTimeAndDayAndIconModeLivesOnThroughTheMainWindow) {
    IconHarness h;
    PrepareApplication();
    h.state.time1 = 9 * 3600;
    ICONM& icon = h.context.window<ICONM>();
    icon.open();
    icon.open();  // a second opening adds no second icon and keeps the timer
    h.tickAt(9, 0);
    h.tickAt(9, 1);
    ASSERT_EQ(h.calls.size(), 1u);
    EXPECT_EQ(h.calls[0], (BackupCall{"/src", "9", "1", "/dst", 1, 1, "01"}));
    EXPECT_EQ(h.tipDuringBackup, QString::fromUtf8("バックアップ実行中 "));
    EXPECT_EQ(icon.tip(), QString::fromUtf8("Tesselﾊﾞｯｸｱｯﾌﾟ管理"));
    Statement run = h.state.db().prepare("SELECT BKPNAME FROM BKPNAME WHERE BKPNO = 1");
    ASSERT_TRUE(run.step());
    EXPECT_EQ(run.text(0), "自動バックアップ");

    // A left click on the icon shows the main window; the exit button
    // returns to the icon.
    icon.handleMouse(kLeftDown);
    MAINF* main = h.context.existing<MAINF>();
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(main->isVisible());
    QMetaObject::invokeMethod(main->findChild<QWidget*>("Command5"), "click");
    EXPECT_FALSE(main->isVisible());
    icon.handleMouse(kLeftDown);
    // The close box, inside the running event loop: the program goes on
    // until its own exit (the loop is ended here by the test's own timer).
    QTimer::singleShot(0, main, [&] { main->close(); });
    QTimer::singleShot(200, qApp, [] { qApp->exit(7); });
    EXPECT_EQ(qApp->exec(), 7);
    EXPECT_FALSE(h.endedWith);
    EXPECT_EQ(h.context.existing<MAINF>(), main);
    EXPECT_TRUE(icon.timer().isActive());
    icon.handleMouse(kLeftDown);
    EXPECT_TRUE(main->isVisible());
    // Every window and the tray show the program's icon.
    const QImage image = ProgramIcon().pixmap(32, 32).toImage();
    EXPECT_EQ(main->windowIcon().pixmap(32, 32).toImage(), image);
    EXPECT_EQ(icon.windowIcon().pixmap(32, 32).toImage(), image);

    // A double click shows the form, other buttons do nothing, a right click ends.
    icon.handleMouse(kLeftDoubleClick);
    EXPECT_TRUE(icon.isVisible());
    icon.handleMouse(0x202);
    EXPECT_FALSE(h.endedWith);
    icon.handleMouse(kRightDown);
    EXPECT_EQ(h.endedWith, 0);
}

// Waiting for the engine and then running is the batch test's.
TEST(StartUpBackup, SaysItCouldNotRunWhenAnotherEngineHoldsTheFolderTooLong) {
    IconHarness h;
    EngineLock other(h.folder.path());
    ASSERT_TRUE(other.tryLock());
    ProgramSettingsActions impatient(h.context, 0.3);
    EXPECT_FALSE(impatient.automaticBackup());
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{"起動時の自動バックアップを実行できませんでした。\n"
                                                      "別のバックアップ・復元・カタログ更新が実行中のため、開始できません。\n" +
                                                      h.folder.path()});
    EXPECT_TRUE(h.calls.empty());
}

// The exit ends the program outside icon mode, and in icon mode without a
// notification area, where the main window shows instead.
TEST(MAINF, ExitCloseBoxAndASecondCopyEndTheProgramOutsideIconModeOrWithoutANotificationArea) {
    {
        test::GuiHarness h;
        MAINF& w = h.context.window<MAINF>();
        w.open();
        test::GuiHarness::screenshot(w, "MAINF");
        QTest::mouseClick(w.findChild<QPushButton*>("Command5"), Qt::LeftButton);
        EXPECT_EQ(h.endedWith, 0);
        h.endedWith.reset();
        w.close();
        EXPECT_EQ(h.endedWith, 0);
    }
    {
        test::GuiHarness h;
        test::WriteFile(h.folder / "Bkpdef.ini", "ICON=YES\nTIME1=09:00\n");
        ASSERT_TRUE(StartWindows(h.context));
        EXPECT_EQ(h.ui.messages, std::vector<std::string>{" 通知領域が見つからないため、メイン画面を表示します。"});
        MAINF* main = h.context.existing<MAINF>();
        ASSERT_NE(main, nullptr);
        EXPECT_TRUE(h.context.existing<ICONM>()->timer().isActive());  // timed backups still run
        main->findChild<QPushButton*>("Command5")->click();
        EXPECT_EQ(h.endedWith, 0);
    }

    test::GuiHarness second;
    InstanceLock other(second.runtime / "tessel.lock");
    ASSERT_TRUE(other.acquire());
    second.context.window<MAINF>().open();
    EXPECT_EQ(second.ui.messages, std::vector<std::string>{"すでにTesselバックアップ管理は起動しています。"});
    EXPECT_EQ(second.endedWith, 1);
}

// F1 in every window is the navigation test's.
TEST(Help, TheManualCoversTheSettingsIsFoundBesideTheProgramAndTheHelpButtonOrF1OpenItOrSayWhyNot) {
    test::GuiHarness h;
    const std::string manual = test::ReadFile(h.context.helpFile);
    for (const char* topic : {"AUTO=", "INITBKP=", "TERMBKP=", "ICON=", "TIME1=", "tessel-backupctl", "filebkp.mdb", "BKPDEF.INI",
                              ".tessel-engine.lock", "RSTRLIST.TXT", "--wait"})
        EXPECT_NE(manual.find(topic), std::string::npos) << topic;
    EXPECT_EQ(HelpFileBeside(TESSEL_BINARY_DIR), h.context.helpFile);  // the built program's
    std::filesystem::create_directories(h.folder / "bin");
    EXPECT_EQ(HelpFileBeside(h.folder / "bin"), h.folder / "share/tessel-backup/help/index.html");  // installed, said when missing

    MAINF& w = h.context.window<MAINF>();
    w.open();
    QTest::mouseClick(w.findChild<QPushButton*>("Command10"), Qt::LeftButton);
    EXPECT_EQ(h.browserAsked.back().fragment(), "MAINF");
    // No browser, then no manual: each said with the file's path.
    h.browserOpens = false;
    QTest::keyClick(&w, Qt::Key_F1);
    h.context.helpFile = h.folder / "help/index.html";
    QTest::mouseClick(w.findChild<QPushButton*>("Command10"), Qt::LeftButton);
    EXPECT_EQ(h.ui.messages, (std::vector<std::string>{"ヘルプファイルを開けませんでした。ブラウザーで次のファイルを開いてください: " +
                                                           std::string(TESSEL_SHARE_BUILD_DIR) + "/help/index.html",
                                                       "ヘルプファイルが見つかりません: " + (h.folder / "help/index.html")}));
    EXPECT_EQ(h.browserAsked.size(), 2u);
}

}  // namespace
}  // namespace tessel
