// The file restore window, driven offscreen by object names.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTableView>
#include <QTest>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "restore/restore_directory.h"
#include "windows/FILEREV.h"
#include "support/gui_harness.h"
#include "ui/run_panel.h"
#include "ui/sql_grid_model.h"

namespace tessel {
namespace {

struct Call {
    int dirNo, run;
    std::string mode, compression;
    std::int16_t test;
    bool operator==(const Call&) const = default;
};

// Runs 5 and 8 of a.txt and new.txt as plain copies in a real tree; the
// engine is the real one, its calls recorded.
struct RestoreHarness : test::GuiHarness {
    RestoreHarness() {
        for (const std::string& dir : {source, dest + "/V00001", dest + "/V00002"}) std::filesystem::create_directories(dir);
        test::WriteFile(dest + "/V00001/a.txt", "five");
        test::WriteFile(dest + "/V00002/a.txt", "eight");
        test::WriteFile(source + "/a.txt", "now");
        test::WriteFile(source + "/new.txt", "new");
        state.db().exec(
            "INSERT INTO BKPNAME (BKPNO, BKPNAME, KBN, DAY1, TIME1) VALUES "
            "(0, 'initial', '1', '2004-03-01', '09:00:00'),"
            "(5, 'five', '1', '2004-03-05', '10:00:00'),"
            "(6, 'info', '9', '2004-03-06', '10:00:00'),"
            "(8, 'eight', '1', '2004-03-08', '11:30:00');"
            "INSERT INTO RSTRLIST (TEXT) VALUES ('earlier report')");
        state.db()
            .prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES "
                     "(3, ?1, ?2, '1', NULL, '1', '1', '01'), (0, '/dest', NULL, '0', 'PREFIX', '1', NULL, NULL),"
                     "(1, '/data/a', '/dest/a', '2', NULL, '9', '1', NULL), (2, '/data/info', '/dest/info', '9', NULL, '1', '1', '01')")
            .bind(1, source).bind(2, dest)
            .run();
        state.db()
            .prepare("INSERT INTO FILEKANRI (BKPNO, DIRNO, LVL, DIR, FILENM, KBN1, CHK1) VALUES "
                     "(5, 3, 1, ?1, 'a.txt', '0', '0'), (8, 3, 2, ?1, 'a.txt', '0', '1'), (8, 3, 1, ?1, 'new.txt', '0', '1')")
            .bind(1, source + "/")
            .run();
        window().restoreEngine = [this](SharedState& s, int dirNo, int run, const RestoreOptions& o) {
            calls.push_back({dirNo, run, o.reportMode, o.compression, o.test});
            return RestoreDirectory(s, dirNo, run, o);
        };
    }
    FILEREV& window() { return context.window<FILEREV>(); }
    QTableView* grid() { return window().findChild<QTableView*>("DataGrid2"); }
    SqlGridModel* model() { return qobject_cast<SqlGridModel*>(grid()->model()); }
    void clickRow(int row) {
        QRect r = grid()->visualRect(model()->index(row, 1));
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, r.center());
    }
    void click(const char* name) { QTest::mouseClick(window().findChild<QAbstractButton*>(name), Qt::LeftButton); }
    test::TempDir tree;
    const std::string source = tree / "src", dest = tree / "dest";
    std::vector<Call> calls;
};

// The whole path: window, engine, files. What is restored is what the
// window shows, however it was set: right after opening no run is
// highlighted and nothing is restored; the option buttons count when
// clicked or as an accessibility action sets them; the run when its row is
// clicked or selected that way, and Tab into the list highlights (and
// chooses) its first run.
TEST(FILEREV, RestoresEveryQualifyingDirectoryWithTheRunAndTheKindShownWhateverSetThem) {
    RestoreHarness h;
    FILEREV& w = h.window();
    w.open();
    QApplication::setActiveWindow(&w);
    auto* test = w.findChild<QRadioButton*>("TESTBT");
    EXPECT_EQ(w.restoreTest(), 0) << "opens in real mode";
    // Runs of kind "9" and run 0 are not offered.
    ASSERT_EQ(h.model()->rowCount(), 2);
    EXPECT_EQ(h.model()->value(0, 0).toInt(), 5);
    test::GuiHarness::screenshot(w, "FILEREV");

    // Without a chosen run nothing is restored and the report stays.
    EXPECT_TRUE(h.grid()->selectionModel()->selectedRows().isEmpty()) << "no run is shown chosen";
    EXPECT_EQ(w.chosen(), 0);
    h.click("Command2");
    EXPECT_TRUE(h.calls.empty());
    EXPECT_EQ(test::Column(h.state.db(), "SELECT TEXT FROM RSTRLIST"), std::vector<std::string>{"earlier report"});

    // A test restore chosen as an accessibility action chooses it (the button is checked, nothing clicked).
    test->setChecked(true);
    h.grid()->selectionModel()->select(h.model()->index(1, 0),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_EQ(w.chosen(), 1);
    h.click("Command2");
    // In the directories' record-set order; kind "9" and the prefix row left out;
    // compression taken from the prefix row.
    const std::vector<Call> testOfRun8 = {{3, 8, "1", "1", 1}, {1, 8, "2", "1", 1}};
    EXPECT_EQ(h.calls, testOfRun8);
    EXPECT_EQ(test::ReadFile(h.source + "/a.txt"), "now") << "a test restore changes no file";
    EXPECT_EQ(test::Column(h.state.db(), "SELECT TEXT FROM RSTRLIST ORDER BY ID").at(0).rfind("  リカバリーの実施(TEST)  ", 0), 0u);

    // A click on 復元 and on a row chooses them.
    h.click("FUKUGNBT");
    h.clickRow(0);
    h.click("Command2");
    EXPECT_EQ(h.calls.at(2), (Call{3, 5, "1", "1", 0}));
    EXPECT_EQ(test::ReadFile(h.source + "/a.txt"), "five");
    EXPECT_FALSE(std::filesystem::exists(h.source + "/new.txt"));
    EXPECT_EQ(h.ui.messages, std::vector<std::string>(3, " 処理を完了しました！　"));

    // Opened again: real mode, and Tab to the list highlights its first run.
    h.click("TESTBT");
    test::WriteFile(h.source + "/a.txt", "now");
    w.open();
    EXPECT_EQ(w.restoreTest(), 0) << "opens in real mode";
    w.findChild<QPushButton*>("Command1")->setFocus();
    h.grid()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(w.chosen(), 1);
    EXPECT_EQ(h.grid()->selectionModel()->selectedRows().at(0).row(), 0);
    h.click("Command2");
    EXPECT_EQ(h.calls.at(4), (Call{3, 5, "1", "1", 0}));
    EXPECT_EQ(test::ReadFile(h.source + "/a.txt"), "five");
}

// The restore runs on a worker thread: the window shows its progress, and
// 中止, Esc or the close box ask before stopping it; after a stop the
// window says so (and closes, when closing asked for the stop).
TEST(FILEREV, ARestoreCanBeStoppedAndClosingAsksFirst) {
    RestoreHarness h;
    FILEREV& w = h.window();
    // An engine that works until it is asked to stop, counting its actions.
    std::atomic<int> started{0};
    w.restoreEngine = [&](SharedState&, int, int, const RestoreOptions& o) {
        ++started;
        RestoreResult r;
        o.control->phase = RunControl::Phase::kRestoring;
        o.control->actionsToDo = 100;
        while (!o.control->stopRequested()) {
            if (o.control->actionsDone < 50) ++o.control->actionsDone;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        r.stopped = true;
        return r;
    };
    auto* bar = w.findChild<QProgressBar*>("PROGRESS");
    for (const std::string way : {"stop", "escape", "close"}) {
        SCOPED_TRACE(way);
        w.open();
        h.clickRow(0);
        h.ui.messages.clear();
        h.ui.questions.clear();
        h.ui.answers = {false, true};  // No first: the restore goes on
        int asked = 0;
        QTimer watch;
        watch.setInterval(5);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!w.running() || bar->value() < 500 || asked == 2) return;
            ++asked;
            if (way == "stop") QTest::mouseClick(w.findChild<QPushButton*>("STOPBT"), Qt::LeftButton);
            if (way == "escape") QTest::keyClick(&w, Qt::Key_Escape);
            if (way == "close") w.close();
            EXPECT_TRUE(w.isVisible()) << "the window stays while the restore runs";
        });
        watch.start();
        h.click("Command2");
        watch.stop();
        EXPECT_EQ(h.ui.questions, std::vector<std::string>(2, kRestoreStopQuestion));
        EXPECT_EQ(h.ui.messages, std::vector<std::string>{kRestoreStopped});
        EXPECT_EQ(started, 1) << "no directory after the stopped one";
        started = 0;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(h.context.existing<FILEREV>() == nullptr, way == "close");
        if (way == "close") EXPECT_TRUE(h.context.findWindow("MAINF")->isVisible());
    }
}

}  // namespace
}  // namespace tessel
