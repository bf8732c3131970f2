// The windows, driven offscreen by real clicks and keys: every window reached
// from the main menu (the way there and back, Enter, Esc and F1), the
// notification icon, the main window's ends and the retention window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <filesystem>

#include "app/ICONM.h"
#include "app/MAINF.h"
#include "app/application.h"
#include "app/run_notification.h"
#include "backup/backup_directory.h"
#include "backup/backup_runs.h"
#include "engine/run_log.h"
#include "inquiry/BKPFIND3.h"
#include "ui/qt_user_interface.h"
#include "platform/engine_lock.h"
#include "support/gui_harness.h"
#include "ui/app_context.h"
#include "ui/gui_thread_ui.h"
#include "ui/help.h"
#include "utility/BKPSEIRI.h"
#include "utility/UTILITY.h"

namespace tessel {
namespace {

void Click(QWidget& w, const char* button) { QTest::mouseClick(w.findChild<QPushButton*>(button), Qt::LeftButton); }

// F1 opens the window's own page of the manual (no "#" part that an opener
// could drop), and the manual's index links to it.
void ExpectF1OpensItsSection(test::GuiHarness& h, QWidget& w) {
    const std::string name = w.objectName().toStdString();
    QTest::keyClick(&w, Qt::Key_F1);
    ASSERT_FALSE(h.browserAsked.empty()) << name;
    const std::string page = std::filesystem::path(h.context.helpFile).parent_path() / (name + ".html");
    EXPECT_EQ(h.browserAsked.back(), QUrl::fromLocalFile(QString::fromStdString(page))) << name;
    EXPECT_TRUE(std::filesystem::is_regular_file(page)) << name;
    EXPECT_NE(test::ReadFile(h.context.helpFile).find("href=\"" + name + ".html\""), std::string::npos) << name;
}

enum class Way { Button, Escape, Enter, Frame };

void GoBack(QWidget& w, const char* backButton, Way way) {
    auto* back = w.findChild<QPushButton*>(backButton);
    if (way == Way::Button) QTest::mouseClick(back, Qt::LeftButton);
    if (way == Way::Escape) QTest::keyClick(w.focusWidget() ? w.focusWidget() : &w, Qt::Key_Escape);
    if (way == Way::Enter) back->setFocus(), QTest::keyClick(back, Qt::Key_Return);
    if (way == Way::Frame) w.close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(Windows, MenuOpensEveryWindowAndEveryWayBackReturns) {
    test::GuiHarness h;
    MAINF& menu = h.context.window<MAINF>();
    menu.open();
    ExpectF1OpensItsSection(h, menu);
    const struct {
        const char *from, *button, *window, *back;
        bool kept;  // only hidden by its way back
    } cases[] = {{"MAINF", "Command2", "DIRSET", "CLOSE", true},      {"MAINF", "Command3", "BKPGO", "Command2", false},
                 {"MAINF", "Command1", "BKPFIND1", "Command1", false}, {"MAINF", "Command6", "BKPFIND2", "Command1", false},
                 {"MAINF", "Command9", "BKPFIND3", "Command1", false}, {"MAINF", "Command7", "FILEREV", "Command1", false},
                 {"MAINF", "Command8", "RSTRLIST", "Command1", false}, {"MAINF", "Command4", "UTILITY", "Command2", false},
                 {"UTILITY", "Command3", "frmAbout", "cmdOK", false}, {"UTILITY", "Command4", "BKPSEIRI", "Command4", false}};
    for (const auto& c : cases) {
        if (c.from != std::string("MAINF")) Click(menu, "Command4");  // the version window opens from the utility menu
        QWidget* from = h.context.findWindow(c.from);
        ASSERT_NE(from, nullptr);
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
            if (way == Way::Button) ExpectF1OpensItsSection(h, *w);
            if (way == Way::Button && w->objectName() == "frmAbout") test::GuiHarness::screenshot(*w, "frmAbout");
            GoBack(*w, c.back, way);
            EXPECT_TRUE(from->isVisible());
            QWidget* left = h.context.findWindow(c.window);
            EXPECT_EQ(left != nullptr, c.kept && way != Way::Frame);
            if (left) EXPECT_FALSE(left->isVisible());
        }
        if (from != &menu) GoBack(*from, "Command2", Way::Escape);
    }

    // The main menu has no Esc: it does not end the program.
    QTest::keyClick(&menu, Qt::Key_Escape);
    EXPECT_TRUE(menu.isVisible());
    EXPECT_FALSE(h.endedWith.has_value());
    // The manual of an installed program lies below the program's folder.
    EXPECT_EQ(HelpFileBeside(TESSEL_BINARY_DIR), h.context.helpFile);
    std::filesystem::create_directories(h.folder / "bin");
    EXPECT_EQ(HelpFileBeside(h.folder / "bin"), h.folder / "share/tessel-backup/help/index.html");
    // A window without a page of its own gets the index.
    EXPECT_EQ(HelpPageOf(h.context.helpFile, "QFileDialog"), h.context.helpFile);
}

struct IconHarness : test::GuiHarness {
    IconHarness() {
        state.icon = "YES";
        // The timed backup runs on a worker thread; the icon's tip is read
        // on the GUI thread, which answers meanwhile.
        context.backupEngine = [this](SharedState&, const BackupCall& c, const BackupOptions&) {
            calls.push_back(c);
            offGuiThread = !OnGuiThread();
            RunOnGuiThread([this] { tipDuringBackup = context.window<ICONM>().tip(); });
            return result;
        };
        context.clock = [this] { return now; };
        state.db().exec("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, ABKP, CHK2) VALUES (1, '/src', '/dst', '1', '1', '01')");
        // The offscreen platform has no notification area; a desktop has one.
        context.window<ICONM>().notificationAreaAvailable = [] { return true; };
    }
    std::vector<BackupCall> calls;
    BackupResult result;  // what each engine call returns
    QString tipDuringBackup;
    bool offGuiThread = false;
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
TEST(ICONM, TicksStartOneBackupPerSetTimeAndDayIconModeLivesOnAndABlockedStartUpBackupSaysSo) {
    IconHarness h;
    PrepareApplication();
    // Qt's own buttons speak Japanese, as the program does.
    QMessageBox question(QMessageBox::Question, "", "", QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(question.button(QMessageBox::Yes)->text().left(2).toStdString(), "はい");
    h.state.time1 = 9 * 3600;
    ICONM& icon = h.context.window<ICONM>();
    icon.open();
    icon.open();  // a second opening adds no second icon and keeps the timer
    h.tickAt(9, 0);
    h.tickAt(9, 1);
    ASSERT_EQ(h.calls.size(), 1u);
    EXPECT_EQ(h.calls[0], (BackupCall{"/src", "9", "1", "/dst", 1, 1, "01"}));
    EXPECT_EQ(h.tipDuringBackup, QString::fromUtf8("バックアップ実行中 "));
    EXPECT_TRUE(h.offGuiThread);

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
    icon.handleMouse(kRightDown);
    EXPECT_EQ(h.endedWith, 0);

    // A start-up backup says it could not run when another engine holds the
    // folder too long (waiting and then running is the batch test's).
    EngineLock other(h.folder.path());
    ASSERT_TRUE(other.tryLock());
    ProgramSettingsActions impatient(h.context, 0.3);
    EXPECT_EQ(impatient.automaticBackup(), StartupBackup::kBusy);
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{"起動時の自動バックアップを実行できませんでした。\n"
                                                      "別のバックアップ・復元・カタログ更新が実行中のため、開始できません。\n" +
                                                      h.folder.path()});
    EXPECT_EQ(h.calls.size(), 1u);
}

std::string Notified(const Notification& n) { return n.title + "|" + n.text + (n.warning ? "|warning" : ""); }

// Timed and start-up backups end with a notification through the user interface (always when
// something failed, else while NOTIFY is on) and leave their run log and system log entries; a click
// on a failure's notification opens the latest state with the errors. A start-up backup that ends
// the program has its messages close themselves and ends with its counts.
TEST(ICONM, UnattendedRunsNotifyTheirEndKeepTheirLogAndNeverWaitForOK) {
    IconHarness h;
    h.state.time1 = 9 * 3600;
    h.state.time2 = 12 * 3600;
    h.state.db().exec("INSERT INTO FILEKANRI (BKPNO, DIRNO, LVL, DIR, FILENM, KBN1, CHK1) VALUES (1, 1, 1, '/src/', 'bad.txt', '9', '1')");
    ICONM& icon = h.context.window<ICONM>();
    icon.open();
    h.result.directories = 1;
    h.result.versionsStored = 3;
    h.result.failures = 1;
    h.tickAt(9, 0);
    ASSERT_EQ(h.ui.notifications.size(), 1u);
    EXPECT_EQ(Notified(h.ui.notifications[0]), "自動バックアップ 1|保存した版 3、失敗 1\n最新状況の「エラーのみ」で確認できます。|warning");
    EXPECT_TRUE(h.ui.messages.empty()) << "a timed backup is silent on screen";
    int error = 0;
    auto log = ReadRunLog(h.folder.path(), 1, &error);
    ASSERT_TRUE(log) << error;
    ASSERT_EQ(log->size(), 2u);
    EXPECT_EQ(log->back().kind, RunEntry::kSummary);
    EXPECT_EQ(log->back().text, "ディレクトリー 1、調べたファイル 0、記録した版 0、保存した版 3、警告 0、失敗 1、対象外 0");
    ASSERT_EQ(h.system.systemLogged.size(), 2u);
    EXPECT_EQ(h.system.systemLogged[0].text, "バックアップ 1: バックアップ 1「自動バックアップ」 通常");
    EXPECT_EQ(h.system.systemLogged[1].text, "バックアップ 1: " + log->back().text);

    // The click on it: 最新状況 with the errors only, the failed file shown.
    h.context.openLatestErrors();
    BKPFIND3* latest = h.context.existing<BKPFIND3>();
    ASSERT_NE(latest, nullptr);
    EXPECT_TRUE(latest->isVisible());
    EXPECT_EQ(latest->filterMode(), "2");
    auto* versions = latest->findChild<QTableView*>("DataGrid1")->model();
    ASSERT_EQ(versions->rowCount(), 1);
    EXPECT_EQ(versions->data(versions->index(0, 4)).toString(), "bad.txt");
    latest->close();

    // A run that stored everything is notified too, unless NOTIFY=NO.
    h.result.failures = 0;
    h.state.notify = "NO";
    h.tickAt(12, 0);
    EXPECT_EQ(h.ui.notifications.size(), 1u);
    h.state.notify = "YES";
    h.tickAt(8, 0);  // the next day, before the set times: the latches return to 0
    h.tickAt(9, 0);
    ASSERT_EQ(h.ui.notifications.size(), 2u);
    EXPECT_EQ(Notified(h.ui.notifications[1]), "自動バックアップ 3|保存した版 3、失敗 0");

    // INITBKP: the messages close themselves, a run with failures ends with its counts, and the
    // desktop is notified before the program ends.
    h.state.initBkp = "YES";
    h.result.failures = 2;
    ProgramSettingsActions startup(h.context);
    EXPECT_EQ(startup.automaticBackup(), StartupBackup::kSomeFailed);
    EXPECT_EQ(h.ui.countdowns, std::vector<int>{kStartupMessageSeconds});
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{kStartupFailures + "\nディレクトリー 1、調べたファイル 0、記録した版 0、保存した版 3、"
                                                                          "警告 0、失敗 2、対象外 0\n" + kReasonsInLog +
                                                      h.folder.path() + "/log/run-000004.log"});
    ASSERT_EQ(h.ui.notifications.size(), 3u);
    EXPECT_TRUE(h.ui.notifications[2].warning);
    // AUTO in icon mode: the notification waits for the icon.
    h.state.initBkp = "NO";
    ProgramSettingsActions iconStart(h.context);
    EXPECT_EQ(iconStart.automaticBackup(), StartupBackup::kSomeFailed);
    EXPECT_EQ(h.ui.notifications.size(), 3u);
    iconStart.openIconWindow();
    ASSERT_EQ(h.ui.notifications.size(), 4u);
    EXPECT_EQ(h.ui.notifications[3].title, "自動バックアップ 5");
}

// On a display, a message that counts down closes itself; once one did, nobody is there and the
// run's further messages do not wait at all.
TEST(QtUserInterface, ACountdownMessageClosesItselfAndTheNextOnesDoNotWait) {
    QtUserInterface ui(false);
    ui.setMessageCountdown(1);
    const auto start = std::chrono::steady_clock::now();
    ui.showMessage("first");
    const auto first = std::chrono::steady_clock::now() - start;
    EXPECT_GE(first, std::chrono::milliseconds(900));
    EXPECT_LT(first, std::chrono::seconds(10));
    ui.showMessage("second");
    EXPECT_LT(std::chrono::steady_clock::now() - start - first, std::chrono::milliseconds(500));
}

// The exit ends the program outside icon mode, and in icon mode without a
// notification area, where the main window shows instead.
TEST(MAINF, ExitCloseBoxAndASecondCopyEndTheProgramOutsideIconModeOrWithoutANotificationArea) {
    {
        test::GuiHarness h;
        MAINF& w = h.context.window<MAINF>();
        w.open();
        test::GuiHarness::screenshot(w, "MAINF");
        Click(w, "Command5");
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

// The retention window: the stored policy shown, a preview of what it
// removes, the policy saved, and applied after a question.
TEST(BKPSEIRI, ShowsTheStoredPolicyPreviewsSavesAndApplies) {
    test::GuiHarness h;
    const std::string source = h.folder / "src", dest = h.folder / "dest";
    std::filesystem::create_directories(source);
    h.state.db()
        .prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, ABKP, CHK1, CHK2) VALUES "
                 "(0, ?1, NULL, '0', '1', NULL, NULL), (1, ?2, ?1, '1', '1', '1', '01')")
        .bind(1, dest).bind(2, source).run();
    BackupOptions options;
    options.compression = "1";
    for (int i = 1; i <= 3; ++i) {
        test::WriteFile(source + "/a.txt", std::string(1000 * i, 'a' + i));
        test::SetMtime(source + "/a.txt", 1700000000 + i * 100);
        const int run = AddBackupRun(h.state.db(), "run " + std::to_string(i), "1", 0);
        BackupDirectory(h.state, options, {source, "9", "1", dest, run, 1, "01"});
    }
    test::WriteFile(h.folder / "BKPDEF.INI", "AUTO=NO\nKEEPMONTHLY=5\n");

    h.context.window<UTILITY>().open();
    QTest::mouseClick(h.context.window<UTILITY>().findChild<QPushButton*>("Command4"), Qt::LeftButton);
    BKPSEIRI* w = static_cast<BKPSEIRI*>(h.context.findWindow("BKPSEIRI"));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->findChild<QSpinBox*>("KEEPMONTHLY")->value(), 5);
    // The stored policy is previewed at once: one month, one run kept.
    auto* status = w->findChild<QLineEdit*>("GODISP");
    EXPECT_EQ(status->text().toStdString().rfind("削除する回: 2　削除する版: 2　空く容量: ", 0), 0u) << status->text().toStdString();

    // Keeping the last two: one run to remove.
    w->findChild<QSpinBox*>("KEEPMONTHLY")->setValue(0);
    w->findChild<QSpinBox*>("KEEPLAST")->setValue(2);
    QTest::mouseClick(w->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    EXPECT_EQ(status->text().toStdString().rfind("削除する回: 1　", 0), 0u) << status->text().toStdString();
    test::GuiHarness::screenshot(*w, "BKPSEIRI");

    QTest::mouseClick(w->findChild<QPushButton*>("Command2"), Qt::LeftButton);
    EXPECT_EQ(test::ReadFile(h.folder / "BKPDEF.INI"),
              "AUTO=NO\nKEEPLAST=2\nKEEPDAILY=0\nKEEPWEEKLY=0\nKEEPMONTHLY=0\nKEEPYEARLY=0\n");
    EXPECT_EQ(h.ui.messages.back(), "整理の設定を保存しました。");

    // No at the question: nothing changes; Yes: the run goes.
    QTest::mouseClick(w->findChild<QPushButton*>("Command3"), Qt::LeftButton);
    EXPECT_EQ(test::Column(h.state.db(), "SELECT BKPNO FROM BKPNAME ORDER BY BKPNO"), (std::vector<std::string>{"1", "2", "3"}));
    h.ui.answers.push_back(true);
    QTest::mouseClick(w->findChild<QPushButton*>("Command3"), Qt::LeftButton);
    EXPECT_EQ(test::Column(h.state.db(), "SELECT BKPNO FROM BKPNAME ORDER BY BKPNO"), (std::vector<std::string>{"2", "3"}));
    EXPECT_EQ(status->text().toStdString().rfind("削除した回: 1　削除した版: 1　空いた容量: ", 0), 0u) << status->text().toStdString();
    EXPECT_EQ(h.ui.messages.back(), " 処理を完了しました！　");
}

}  // namespace
}  // namespace tessel
