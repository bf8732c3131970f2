#include "windows/BKPGO.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QTimer>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "backup/automatic_backup.h"
#include "backup/backup_runs.h"
#include "platform/engine_lock.h"
#include "archiver/archive_request.h"
#include "support/gui_harness.h"
#include "support/temp_dir.h"
#include "ui/gui_thread_ui.h"
#include "ui/run_panel.h"
#include "ui/qt_user_interface.h"
#include "ui/sql_grid_model.h"

namespace tessel {
namespace {

std::string Scalar(Connection& db, const char* sql) { return test::Column(db, sql).at(0); }

struct RunHarness : test::GuiHarness {
    RunHarness() {
        state.db().exec(
            "INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES "
            "(0, '/dest', NULL, '0', 'PREFIX', '1', NULL, NULL),"
            "(1, '/data/a', '/dest/a', '1', NULL, '9', '1', NULL),"
            "(2, '/data/info', '/dest/info', '9', NULL, '1', '1', '01'),"
            "(3, '', '/dest/empty', '1', NULL, '1', '1', NULL)");
        // The engine runs on a worker thread: what the window shows is read on the GUI thread.
        context.backupEngine = [this](SharedState&, const BackupCall& c, const BackupOptions& o) {
            calls.push_back(c);
            compression = o.compression + (o.silent ? " silent" : "");
            RunOnGuiThread([this] {
                auto* model = qobject_cast<SqlGridModel*>(window().findChild<QTableView*>("DataGrid1")->model());
                gridRowsDuringCall = model->rowCount();
                lastTitle = model->value(model->rowCount() - 1, 1).toString();
            });
            return BackupResult{.directories = 1, .filesExamined = 10, .versionsRecorded = 3, .versionsStored = 2,
                                .failures = static_cast<int>(calls.size()) == failOnCall, .skipped = 1};
        };
        window().open();
    }
    BKPGO& window() { return context.window<BKPGO>(); }
    void run(const QString& title) {
        auto* edit = window().findChild<QLineEdit*>("APPNM");
        edit->clear();
        // QTest types ASCII keys only; other text is entered as an input method would.
        if (std::all_of(title.begin(), title.end(), [](QChar c) { return c.unicode() < 128; }))
            QTest::keyClicks(edit, title);
        else
            edit->insert(title);
        QTest::mouseClick(window().findChild<QPushButton*>("Command1"), Qt::LeftButton);
    }
    std::vector<BackupCall> calls;
    std::string compression;
    int gridRowsDuringCall = -1;
    int failOnCall = -1;
    QString lastTitle;
};

TEST(BKPGO, NormalRunBacksUpEveryDirectoryAndListsTheRunFirst) {
    RunHarness h;
    h.run(QString::fromUtf8("週次 バックアップ"));
    EXPECT_EQ(h.calls, (std::vector<BackupCall>{{"/data/a", "9", "1", "/dest/a", 1, 1, "00"},
                                                {"/data/info", "9", "9", "/dest/info", 1, 2, "01"}}));
    EXPECT_EQ(h.compression, "1");
    EXPECT_EQ(h.gridRowsDuringCall, 1);
    EXPECT_EQ(h.lastTitle, QString::fromUtf8("週次 バックアップ"));
    // The completion text, then the counts of the whole run.
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{" 処理を完了しました！　\nディレクトリー 2、調べたファイル 20、記録した版 6、"
                                                      "保存した版 4、警告 0、失敗 0、対象外 2"});
    EXPECT_EQ(Scalar(h.state.db(), "SELECT group_concat(DIRNO || ':' || ifnull(CHK2, 'null')) FROM BKPDIR"), "0:null,1:00,2:01,3:00");

    test::GuiHarness::screenshot(h.window(), "BKPGO");

    auto* kinds = h.window().findChild<QListWidget*>("KBNNM");
    QTest::mouseClick(kinds->viewport(), Qt::LeftButton, {}, kinds->visualItemRect(kinds->item(1)).center());
    h.failOnCall = 3;
    h.run("info");
    ASSERT_EQ(h.calls.size(), 4u);
    EXPECT_EQ(h.calls[2].runKind + h.calls[3].runKind, "99");
    EXPECT_EQ(Scalar(h.state.db(), "SELECT KBN FROM BKPNAME WHERE BKPNO = 2"), "9");
    EXPECT_EQ(h.ui.messages.back(), " 処理を完了しました！　\nバックアップできなかったディレクトリーまたはファイルがあります。"
                                    "表示されたメッセージを確認してください！\nディレクトリー 2、調べたファイル 20、"
                                    "記録した版 6、保存した版 4、警告 0、失敗 1、対象外 2");
}

// The kind a run takes is the one the list shows chosen, however it was
// chosen: the keyboard (Tab to the list, an arrow key) or an accessibility
// action (which selects an item without making it current).
TEST(BKPGO, TheKindShownChosenIsTheKindRunWhateverChoseIt) {
    RunHarness h;
    auto* kinds = h.window().findChild<QListWidget*>("KBNNM");
    auto* title = h.window().findChild<QLineEdit*>("APPNM");
    QApplication::setActiveWindow(&h.window());
    const struct {
        const char* how;
        std::function<void()> choose;
        const char* kind;
    } ways[] = {
        {"keyboard down", [&] { title->setFocus(); QTest::keyClick(title, Qt::Key_Tab); QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down); }, "9"},
        {"accessibility", [&] { kinds->item(0)->setSelected(true); }, "1"},
        // Nothing can be left unchosen: the chosen item stays.
        {"emptied", [&] { kinds->clearSelection(); }, "1"},
    };
    int run = 0;
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        way.choose();
        ASSERT_EQ(kinds->selectedItems().size(), 1);
        EXPECT_EQ(kinds->selectedItems()[0]->text(), QString::fromUtf8(std::string(way.kind) == "1" ? "通常" : "情報のみ"));
        h.run("kind");
        ++run;
        EXPECT_EQ(Scalar(h.state.db(), ("SELECT KBN FROM BKPNAME WHERE BKPNO = " + std::to_string(run)).c_str()), way.kind);
        EXPECT_EQ(h.calls.at(2 * run - 2).runKind, way.kind) << "a normal directory takes the run's kind";
    }
}

// Another engine at work starts nothing and uses no run number; an exception
// is shown, with the cursor back; status texts from another thread reach the window through its event loop.
TEST(BKPGO, RefusalsFailuresAndTheStatusLine) {
    RunHarness h;
    EngineLock other(h.state.dataFolder);
    ASSERT_TRUE(other.tryLock());
    h.run("blocked");
    EXPECT_TRUE(h.calls.empty());
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{"別のバックアップ・復元・カタログ更新が実行中のため、開始できません。\n" +
                                                      h.state.dataFolder});
    EXPECT_EQ(Scalar(h.state.db(), "SELECT BKPNO FROM AUTODEF"), "0");
    other.unlock();

    h.ui.messages.clear();
    h.context.backupEngine = [&h](SharedState& s, const BackupCall&, const BackupOptions&) -> BackupResult {
        WaitCursor busy(s.ui);
        throw CatalogError(h.state.dataFolder + "/filebkp.mdb: disk I/O error");
    };
    h.run("fails");
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{h.state.dataFolder + "/filebkp.mdb: disk I/O error"});
    EXPECT_FALSE(h.ui.waitCursor);
    EXPECT_FALSE(h.context.runEngine([] { throw 42; }));
    EXPECT_EQ(h.ui.messages.back(), "予期しないエラーが発生しました");

    // Status texts from the worker reach the window through its event loop,
    // the newest replacing one not shown yet; questions wait for the GUI
    // thread to answer them.
    GuiThreadUi worker(h.ui);
    h.ui.statusHistory.clear();
    std::thread([&] {
        worker.setStatus("BKPGO", "first");
        worker.setStatus("BKPGO", "newest");
    }).join();
    EXPECT_TRUE(h.ui.statusHistory.empty()) << "not from the other thread";
    QCoreApplication::processEvents();
    EXPECT_EQ(h.ui.statusHistory, std::vector<std::string>{"newest"});
    h.ui.answers = {true};
    std::atomic<int> answer{-1};
    std::thread asking([&] { answer = worker.askYesNo("続けますか？"); });
    while (answer < 0) QCoreApplication::processEvents();
    asking.join();
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(h.ui.questions, std::vector<std::string>{"続けますか？"});
    // The program's user interface shows a status text at once.
    QtUserInterface qtUi;
    qtUi.attach(&h.context);
    qtUi.setStatus("BKPGO", " ﾌｧｲﾙ　/data/a/x.txt をﾁｪｯｸしています。");
    EXPECT_EQ(h.window().findChild<QLineEdit*>("GODISP")->text(), QString::fromUtf8(" ﾌｧｲﾙ　/data/a/x.txt をﾁｪｯｸしています。"));
}

// A long backup with the real engine, watched from its window: Esc asks and
// No goes on, the bar counts the stored files, and 中止 with its confirmation
// stops the run after the current file; the window says so with the counts.
TEST(BKPGO, ALongBackupShowsItsProgressAndCanBeStopped) {
    test::GuiHarness h;
    const std::string source = h.folder / "src", dest = h.folder / "backups/src";
    constexpr int kFiles = 300;
    std::filesystem::create_directories(dest);
    for (int i = 0; i < kFiles; ++i) {
        std::filesystem::create_directories(source + "/d" + std::to_string(i % 5));
        test::WriteFile(source + "/d" + std::to_string(i % 5) + "/f" + std::to_string(i) + ".txt", std::string(100 + i, 'x'));
    }
    h.state.db()
        .prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES "
                 "(0, ?1, NULL, '0', 'PREFIX', '1', NULL, NULL), (1, ?2, ?3, '1', NULL, '1', '1', '01')")
        .bind(1, h.folder / "backups/").bind(2, source).bind(3, dest)
        .run();
    // The real engine; each archive add is slowed down so that the run lasts.
    h.context.backupEngine = [](SharedState& s, const BackupCall& c, const BackupOptions& o) {
        const ArchiverCall archiver = [](const archive::ArchiveRequest& r) {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            return archive::Perform(r);
        };
        return BackupDirectory(s, o, c, archiver);
    };
    BKPGO& w = h.context.window<BKPGO>();
    w.open();
    auto* bar = w.findChild<QProgressBar*>("PROGRESS");
    auto* stop = w.findChild<QPushButton*>("STOPBT");
    EXPECT_FALSE(stop->isEnabled());
    std::vector<int> stored;  // the bar while it counts stored files
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!w.running() || !bar->format().startsWith(QString::fromUtf8("保存"))) return;
        stored.push_back(bar->value());
        EXPECT_TRUE(bar->format().contains(QString::fromUtf8(" / 300 ファイル"))) << bar->format().toStdString();
        if (h.ui.questions.empty()) {  // Esc asks as closing does; No goes on
            h.ui.answers = {false};
            QTest::keyClick(&w, Qt::Key_Escape);
        } else if (stop->isEnabled() && bar->value() >= 300 && h.ui.questions.size() == 1) {
            test::GuiHarness::screenshot(w, "BKPGO-running");
            h.ui.answers = {true};
            QTest::mouseClick(stop, Qt::LeftButton);
        }
    });
    watch.start();
    w.findChild<QLineEdit*>("APPNM")->setText("long");
    QTest::mouseClick(w.findChild<QPushButton*>("Command1"), Qt::LeftButton);
    watch.stop();

    EXPECT_EQ(h.ui.questions, std::vector<std::string>(2, kBackupStopQuestion));
    ASSERT_EQ(h.ui.messages.size(), 1u);
    EXPECT_EQ(h.ui.messages[0].rfind(kBackupStopped + "\nディレクトリー 1、調べたファイル ", 0), 0u) << h.ui.messages[0];
    EXPECT_NE(h.ui.messages[0].find("（中止）"), std::string::npos);
    ASSERT_GE(stored.size(), 2u);
    EXPECT_TRUE(std::is_sorted(stored.begin(), stored.end()));
    EXPECT_LT(stored.front(), stored.back()) << "the bar advances";
    EXPECT_FALSE(stop->isEnabled());
    const int copies = std::stoi(Scalar(h.state.db(), "SELECT sum(KBN1 = '0') FROM FILEKANRI WHERE BKPNO = 1"));
    EXPECT_GT(copies, 0);
    EXPECT_LT(copies, kFiles) << "stopped before the end";
}

// The automatic backup takes every directory marked for it, silently, with the prefix's compression;
// its run numbers interleave with the others' and every run records the local date and time.
TEST(AutomaticBackup, BacksUpEligibleDirectoriesSilentlyAndNumbersRunsWithTheOthers) {
    RunHarness h;
    h.state.db().exec(
        "DELETE FROM AUTODEF; DELETE FROM BKPDIR WHERE DIRNO > 0;"
        "INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES "
        "(1, '/data/a', '/dest/a', '1', NULL, '1', '1', '01'), (2, '/data/info', '/dest/info', '9', NULL, '1', '1', '00'),"
        "(3, '/data/manual', '/dest/manual', '1', NULL, '9', '1', '01'), (4, NULL, '/dest/none', '1', NULL, '1', '0', '01'),"
        "(5, '/data/nochk', '/dest/nochk', '3', NULL, '1', '1', NULL)");
    std::tm t{.tm_sec = 9, .tm_min = 5, .tm_hour = 13, .tm_mday = 5, .tm_mon = 3, .tm_year = 103, .tm_isdst = -1};
    const std::time_t at = std::mktime(&t);
    EXPECT_EQ(AutomaticBackup(h.state, h.context.backupEngine, at).runNumber, 1);
    EXPECT_EQ(h.calls, (std::vector<BackupCall>{{"/data/a", "9", "1", "/dest/a", 1, 1, "01"},
                                                {"/data/info", "9", "9", "/dest/info", 1, 2, "00"},
                                                {"/data/nochk", "9", "1", "/dest/nochk", 1, 5, ""}}));
    EXPECT_EQ(h.compression, "1 silent");
    EXPECT_EQ(AddBackupRun(h.state.db(), "手動", "9", at), 2);
    AutomaticBackup(h.state, h.context.backupEngine, at);
    EXPECT_EQ(Scalar(h.state.db(), "SELECT group_concat(BKPNO || ' ' || BKPNAME || ' ' || KBN || ' ' || DAY1 || ' ' || TIME1, ', ') "
                                   "FROM (SELECT * FROM BKPNAME ORDER BY BKPNO)"),
              "1 自動バックアップ 1 2003-04-05 13:05:09, 2 手動 9 2003-04-05 13:05:09, 3 自動バックアップ 1 2003-04-05 13:05:09");
    EXPECT_EQ(Scalar(h.state.db(), "SELECT count(*) || ' ' || max(BKPNO) FROM AUTODEF"), "1 3");
}

}  // namespace
}  // namespace tessel
