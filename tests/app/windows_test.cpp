// The windows, driven offscreen by real clicks and keys: every window reached
// from the main menu (the way there and back, where each appears, Tab,
// Enter, Esc and F1), message boxes that show their whole title, the version
// window, the notification icon, the main window's ends, and the manual.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/ICONM.h"
#include "app/MAINF.h"
#include "app/application.h"
#include "platform/engine_lock.h"
#include "support/gui_harness.h"
#include "ui/app_context.h"
#include "ui/help.h"
#include "ui/program_icon.h"
#include "ui/qt_user_interface.h"
#include "utility/frmAbout.h"

namespace tessel {
namespace {

void Click(QWidget& w, const char* button) { QTest::mouseClick(w.findChild<QPushButton*>(button), Qt::LeftButton); }

// Where a window opened from `from` is expected: centred on it, kept on the screen.
QPoint CentredOn(const QWidget& from, const QWidget& w) {
    QRect r = w.frameGeometry();
    r.moveCenter(from.frameGeometry().center());
    const QRect screen = from.screen()->availableGeometry();
    r.moveRight(std::min(r.right(), screen.right()));
    r.moveBottom(std::min(r.bottom(), screen.bottom()));
    r.moveLeft(std::max(r.left(), screen.left()));
    r.moveTop(std::max(r.top(), screen.top()));
    return r.topLeft();
}

// F1 opens the manual at the window's own section, which the manual has.
void ExpectF1OpensItsSection(test::GuiHarness& h, QWidget& w) {
    const std::string name = w.objectName().toStdString();
    QTest::keyClick(&w, Qt::Key_F1);
    ASSERT_FALSE(h.browserAsked.empty()) << name;
    QUrl expected = QUrl::fromLocalFile(QString::fromStdString(h.context.helpFile));
    expected.setFragment(w.objectName());
    EXPECT_EQ(h.browserAsked.back(), expected) << name;
    EXPECT_NE(test::ReadFile(h.context.helpFile).find("id=\"" + name + "\""), std::string::npos) << name;
}

enum class Way { Button, Escape, Enter, Frame };

// Leaves a window by one of its ways back.
void GoBack(QWidget& w, const char* backButton, Way way) {
    auto* back = w.findChild<QPushButton*>(backButton);
    if (way == Way::Button) QTest::mouseClick(back, Qt::LeftButton);
    if (way == Way::Escape) QTest::keyClick(w.focusWidget() ? w.focusWidget() : &w, Qt::Key_Escape);
    if (way == Way::Enter) back->setFocus(), QTest::keyClick(back, Qt::Key_Return);
    if (way == Way::Frame) w.close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(Windows, MenuOpensEveryWindowCentredOnItEveryWayBackReturnsAndTabLeavesGrids) {
    test::GuiHarness h;
    MAINF& menu = h.context.window<MAINF>();
    menu.move(37, 41);
    menu.open();
    ExpectF1OpensItsSection(h, menu);
    const struct {
        const char *from, *button, *window, *back;
        bool kept;  // only hidden by its way back
    } cases[] = {{"MAINF", "Command2", "DIRSET", "CLOSE", true},      {"MAINF", "Command3", "BKPGO", "Command2", false},
                 {"MAINF", "Command1", "BKPFIND1", "Command1", false}, {"MAINF", "Command6", "BKPFIND2", "Command1", false},
                 {"MAINF", "Command9", "BKPFIND3", "Command1", false}, {"MAINF", "Command7", "FILEREV", "Command1", false},
                 {"MAINF", "Command8", "RSTRLIST", "Command1", false}, {"MAINF", "Command4", "UTILITY", "Command2", false},
                 {"UTILITY", "Command3", "frmAbout", "cmdOK", false}};
    for (const auto& c : cases) {
        if (c.from != std::string("MAINF")) Click(menu, "Command4");  // the version window opens from the utility menu
        QWidget* from = h.context.findWindow(c.from);
        ASSERT_NE(from, nullptr);
        from->move(from->pos() + QPoint(-20, 12));
        const QPoint home = from->pos();
        for (Way way : {Way::Button, Way::Escape, Way::Enter, Way::Frame}) {
            SCOPED_TRACE(std::string(c.window) + " way " + std::to_string(static_cast<int>(way)));
            auto* button = from->findChild<QPushButton*>(c.button);
            if (way == Way::Enter) {  // Enter on the focused button opens the window too
                button->setFocus();
                QTest::keyClick(button, Qt::Key_Enter);
            } else {
                QTest::mouseClick(button, Qt::LeftButton);
            }
            QWidget* w = h.context.findWindow(c.window);
            ASSERT_NE(w, nullptr);
            EXPECT_FALSE(from->isVisible());
            EXPECT_EQ(w->pos(), CentredOn(*from, *w));
            if (way == Way::Button) ExpectF1OpensItsSection(h, *w);
            w->move(w->pos() + QPoint(15, 9));
            GoBack(*w, c.back, way);
            EXPECT_TRUE(from->isVisible());
            EXPECT_EQ(from->pos(), home);
            QWidget* left = h.context.findWindow(c.window);
            EXPECT_EQ(left != nullptr, c.kept && way != Way::Frame);
            if (left) {
                EXPECT_FALSE(left->isVisible());
            }
        }
        if (from != &menu) GoBack(*from, "Command2", Way::Escape);
    }

    // The main menu has no Esc: it does not end the program.
    QTest::keyClick(&menu, Qt::Key_Escape);
    EXPECT_TRUE(menu.isVisible());
    EXPECT_FALSE(h.endedWith.has_value());

    // Tab leaves a grid, arrows move within it.
    h.state.db().exec("INSERT INTO BKPNAME (BKPNO, BKPNAME, KBN, DAY1, TIME1) VALUES "
                      "(1, 'a', '1', '2024-01-05', '10:00:00'), (2, 'b', '1', '2024-01-06', '10:00:00')");
    Click(menu, "Command1");
    QWidget* w = h.context.findWindow("BKPFIND1");
    ASSERT_NE(w, nullptr);
    QApplication::setActiveWindow(w);
    auto* runs = w->findChild<QTableView*>("DataGrid2");
    runs->setFocus();
    QTest::keyClick(runs, Qt::Key_Down);
    EXPECT_EQ(runs->currentIndex().row(), 1);
    QTest::keyClick(runs, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w->findChild<QTableView*>("DataGrid1"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QTest::keyClick(runs, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), w->findChild<QPushButton*>("Command1"));
}

TEST(Windows, MessageBoxesAreWideEnoughForTheirWholeTitle) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kProgramTitle), "OK?", QMessageBox::Ok);
    QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    titleFont.setBold(true);
    const int title = QFontMetrics(titleFont).horizontalAdvance(box.windowTitle());
    EXPECT_LT(box.sizeHint().width(), title);
    FitTitle(box);
    box.layout()->activate();
    EXPECT_GT(box.sizeHint().width(), title + 2 * QFontMetrics(titleFont).height());
}

TEST(frmAbout, ShowsTheProgramsIconAndStartsTheFirstSystemMonitorOnThePath) {
    test::GuiHarness h;
    test::TempDir bin;
    // Stand-in system monitors that leave a mark when started.
    auto monitor = [&](const std::string& name, mode_t mode) {
        test::WriteFile(bin / name, "#!/bin/sh\necho started > '" + (bin / name) + ".mark'\n");
        chmod((bin / name).c_str(), mode);
    };
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(bin.path()));
    frmAbout& about = h.context.window<frmAbout>();
    about.open();
    // The program's own icon (the SVG rendered), not a stock picture.
    EXPECT_EQ(about.findChild<QLabel*>("picIcon")->pixmap().toImage(), ProgramIcon().pixmap(32, 32).toImage());
    test::GuiHarness::screenshot(about, "frmAbout");
    // No monitor, or one without execute permission: said, and the window stays.
    monitor("not-a-monitor", 0755);
    monitor("gnome-system-monitor", 0644);
    QTest::mouseClick(about.findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{"現時点ではｼｽﾃﾑ情報を使用できません"});

    monitor("hardinfo", 0755);
    monitor("xfce4-taskmanager", 0755);
    QTest::mouseClick(about.findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);
    qputenv("PATH", savedPath);
    for (int i = 0; i < 100 && !std::filesystem::exists(bin / "xfce4-taskmanager.mark"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(std::filesystem::exists(bin / "xfce4-taskmanager.mark"));
    EXPECT_FALSE(std::filesystem::exists(bin / "hardinfo.mark"));
    EXPECT_TRUE(about.isVisible());
}

struct IconHarness : test::GuiHarness {
    IconHarness() {
        state.icon = "YES";
        context.backupEngine = [this](SharedState&, const BackupCall& c, const BackupOptions&) {
            calls.push_back(c);
            tipDuringBackup = context.window<ICONM>().tip();
            return BackupResult{};
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
        std::tm t{};
        t.tm_min = m;
        t.tm_hour = h;
        t.tm_mday = 1;
        t.tm_mon = 5;
        t.tm_year = 126;
        t.tm_isdst = -1;
        now = std::mktime(&t);
        context.window<ICONM>().tick();
    }
};

// A set time starts an automatic backup with its tip (which times start
// one is the timer test's); icon mode lives on through the main window's
// exit and close box.
TEST(ICONM, TicksStartOneBackupPerSetTimeAndDayIconModeLivesOnAndABlockedStartUpBackupSaysSo) {
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
    EXPECT_EQ(icon.tip(), QString::fromUtf8("Tesselﾊﾞｯｸｱｯﾌﾟ管理"));  // the run's own rows are the batch test's

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

    // A start-up backup says it could not run when another engine holds the
    // folder too long (waiting and then running is the batch test's).
    EngineLock other(h.folder.path());
    ASSERT_TRUE(other.tryLock());
    ProgramSettingsActions impatient(h.context, 0.3);
    EXPECT_FALSE(impatient.automaticBackup());
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{"起動時の自動バックアップを実行できませんでした。\n"
                                                      "別のバックアップ・復元・カタログ更新が実行中のため、開始できません。\n" +
                                                      h.folder.path()});
    EXPECT_EQ(h.calls.size(), 1u);
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
