#include "windows/BKPGO.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <atomic>
#include <thread>

#include "backup/automatic_backup.h"
#include "backup/backup_runs.h"
#include "platform/engine_lock.h"
#include "support/gui_harness.h"
#include "support/temp_dir.h"
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
        context.backupEngine = [this](SharedState&, const BackupCall& c, const BackupOptions& o) {
            calls.push_back(c);
            compression = o.compression + (o.silent ? " silent" : "");
            auto* model = qobject_cast<SqlGridModel*>(window().findChild<QTableView*>("DataGrid1")->model());
            gridRowsDuringCall = model->rowCount();
            lastTitle = model->value(model->rowCount() - 1, 1).toString();
            BackupResult result;
            result.failures = static_cast<int>(calls.size()) == failOnCall;
            return result;
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
    std::vector<BackupCall> expected = {
        {"/data/a", "9", "1", "/dest/a", 1, 1, "00"},
        {"/data/info", "9", "9", "/dest/info", 1, 2, "01"},
    };
    EXPECT_EQ(h.calls, expected);
    EXPECT_EQ(h.compression, "1");
    EXPECT_EQ(h.gridRowsDuringCall, 1);
    EXPECT_EQ(h.lastTitle, QString::fromUtf8("週次 バックアップ"));
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{" 処理を完了しました！　"});
    EXPECT_EQ(Scalar(h.state.db(), "SELECT group_concat(DIRNO || ':' || ifnull(CHK2, 'null')) FROM BKPDIR"), "0:null,1:00,2:01,3:00");

    auto* model = h.window().findChild<QTableView*>("DataGrid1")->model();
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(model->data(model->index(0, 2)).toString(), QString::fromUtf8("通常"));
    test::GuiHarness::screenshot(h.window(), "BKPGO");

    auto* kinds = h.window().findChild<QListWidget*>("KBNNM");
    QTest::mouseClick(kinds->viewport(), Qt::LeftButton, {}, kinds->visualItemRect(kinds->item(1)).center());
    h.failOnCall = 3;
    h.run("info");
    ASSERT_EQ(h.calls.size(), 4u);
    EXPECT_EQ(h.calls[2].runKind + h.calls[3].runKind, "99");
    EXPECT_EQ(Scalar(h.state.db(), "SELECT KBN FROM BKPNAME WHERE BKPNO = 2"), "9");
    EXPECT_EQ(h.ui.messages.back(), " 処理を完了しました！　\nバックアップできなかったディレクトリーまたはファイルがあります。"
                                    "表示されたメッセージを確認してください！");
}

// An empty title or another engine at work starts nothing and uses no run number; an exception
// is shown, with the cursor back; status texts from another thread reach the window through its event loop.
TEST(BKPGO, RefusalsFailuresAndTheStatusLine) {
    RunHarness h;
    h.run("");
    EngineLock other(h.state.dataFolder);
    ASSERT_TRUE(other.tryLock());
    h.run("blocked");
    EXPECT_TRUE(h.calls.empty());
    EXPECT_EQ(h.ui.messages, (std::vector<std::string>{"バックアップタイトルを入力してください",
                                                       "別のバックアップ・復元・カタログ更新が実行中のため、開始できません。\n" +
                                                           h.state.dataFolder}));
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

    QtUserInterface qtUi;
    qtUi.attach(&h.context);
    auto* status = h.window().findChild<QLineEdit*>("GODISP");
    qtUi.setStatus("BKPGO", " ﾌｧｲﾙ　/data/a/x.txt をﾁｪｯｸしています。");
    EXPECT_EQ(status->text(), QString::fromUtf8(" ﾌｧｲﾙ　/data/a/x.txt をﾁｪｯｸしています。"));
    std::thread([&] {
        qtUi.setStatus("BKPGO", "first");
        qtUi.setStatus("BKPGO", "newest");
    }).join();
    EXPECT_EQ(status->text(), QString::fromUtf8(" ﾌｧｲﾙ　/data/a/x.txt をﾁｪｯｸしています。")) << "not from the other thread";
    QCoreApplication::processEvents();
    EXPECT_EQ(status->text(), "newest");
    // A question from another thread waits for the GUI thread to answer it (offscreen: No).
    std::atomic<int> answer{-1};
    std::thread asking([&] { answer = qtUi.askYesNo("続けますか？"); });
    while (answer < 0) QCoreApplication::processEvents();
    asking.join();
    EXPECT_EQ(answer, 0);
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
    std::tm t{};
    t.tm_sec = 9, t.tm_min = 5, t.tm_hour = 13, t.tm_mday = 5, t.tm_mon = 3, t.tm_year = 103, t.tm_isdst = -1;
    const std::time_t at = std::mktime(&t);
    EXPECT_EQ(AutomaticBackup(h.state, h.context.backupEngine, at).runNumber, 1);
    std::vector<BackupCall> expected = {
        {"/data/a", "9", "1", "/dest/a", 1, 1, "01"},
        {"/data/info", "9", "9", "/dest/info", 1, 2, "00"},
        {"/data/nochk", "9", "1", "/dest/nochk", 1, 5, ""},
    };
    EXPECT_EQ(h.calls, expected);
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
