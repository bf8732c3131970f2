// The file restore window and the restore result list, driven offscreen by
// object names, with the engine recorded or real.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <filesystem>

#include "windows/FILEREV.h"
#include "windows/RSTRLIST.h"
#include "app/MAINF.h"
#include "support/gui_harness.h"
#include "ui/sql_grid_model.h"

namespace tessel {
namespace {

struct Call {
    int dirNo, run;
    std::string mode, compression;
    std::int16_t test;
    bool operator==(const Call&) const = default;
};

struct RestoreHarness : test::GuiHarness {
    RestoreHarness() {
        state.db().exec(
            "INSERT INTO BKPNAME (BKPNO, BKPNAME, KBN, DAY1, TIME1) VALUES "
            "(0, 'initial', '1', '2004-03-01', '09:00:00'),"
            "(5, 'five', '1', '2004-03-05', '10:00:00'),"
            "(6, 'info', '9', '2004-03-06', '10:00:00'),"
            "(8, 'eight', '1', '2004-03-08', '11:30:00')");
    }
    // Registers four directories and records the engine's calls instead
    // of restoring.
    void record() {
        state.db().exec(
            "INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES "
            "(3, '/data/c', '/dest/c', '1', NULL, '1', '1', '01'),"
            "(0, '/dest', NULL, '0', 'PREFIX', '1', NULL, NULL),"
            "(1, '/data/a', '/dest/a', '2', NULL, '9', '1', NULL),"
            "(2, '/data/info', '/dest/info', '9', NULL, '1', '1', '01')");
        window().restoreEngine = [this](SharedState&, int dirNo, int run, const RestoreOptions& o) {
            calls.push_back({dirNo, run, o.reportMode, o.compression, o.test});
            return RestoreResult{};
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
    std::vector<Call> calls;
};

std::string Text(QWidget& w, const char* name) {
    if (auto* b = w.findChild<QAbstractButton*>(name)) return b->text().toStdString();
    if (auto* l = w.findChild<QLabel*>(name)) return l->text().toStdString();
    return w.findChild<QLineEdit*>(name)->text().toStdString();
}

TEST(FILEREV, OffersRestorableRunsAndRestoresEveryQualifyingDirectoryWithTheChosenOne) {
    RestoreHarness h;
    h.record();
    h.state.db().exec("INSERT INTO RSTRLIST (TEXT) VALUES ('earlier report')");
    h.window().open();
    FILEREV& w = h.window();
    EXPECT_EQ(w.windowTitle().toStdString(), "復元");
    const std::pair<const char*, std::string> texts[] = {
        {"Label1", "ファイルの復元処理"}, {"Command2", "復元の実行"}, {"Command1", "戻る"}, {"TESTBT", "テスト"}, {"GODISP", " "}};
    for (const auto& [name, text] : texts) EXPECT_EQ(Text(w, name), text) << name;
    EXPECT_EQ(w.restoreTest(), 0) << "opens in real mode";
    // Runs of kind "9" and run 0 are not offered.
    ASSERT_EQ(h.model()->rowCount(), 2);
    EXPECT_EQ(h.model()->value(0, 0).toInt(), 5);
    EXPECT_EQ(h.model()->index(1, 3).data().toString(), "2004/03/08");
    EXPECT_EQ(h.model()->index(1, 4).data().toString(), "11:30:00");
    EXPECT_TRUE(h.grid()->isColumnHidden(2));
    for (const auto& [column, title] : {std::pair{1, "タイトル"}, {3, "バックアップ日"}, {4, "時間"}})
        EXPECT_EQ(h.model()->headerData(column, Qt::Horizontal).toString().toStdString(), title);
    test::GuiHarness::screenshot(w, "FILEREV");

    // Without a chosen run nothing is restored and the report stays.
    EXPECT_EQ(w.chosen(), 0);
    h.click("Command2");
    EXPECT_TRUE(h.calls.empty());
    Statement s = h.state.db().prepare("SELECT TEXT FROM RSTRLIST");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.text(0), "earlier report");

    h.clickRow(0);
    h.click("TESTBT");
    EXPECT_EQ(w.restoreTest(), 1);
    // Moving with the keyboard changes the current run, not the choice.
    h.grid()->setFocus();
    QTest::keyClick(h.grid(), Qt::Key_Down);
    h.click("Command2");
    // In the directories' record-set order; kind "9" and the prefix row left out;
    // compression taken from the prefix row.
    EXPECT_EQ(h.calls, (std::vector<Call>{{3, 8, "1", "1", 1}, {1, 8, "2", "1", 1}}));
    EXPECT_EQ(h.ui.messages, std::vector<std::string>(2, " 処理を完了しました！　"));
    h.click("FUKUGNBT");
    EXPECT_EQ(w.restoreTest(), 0);
    h.click("TESTBT");
    w.open();
    EXPECT_EQ(w.restoreTest(), 0) << "opens in real mode";
}

// The whole path: window, real engine, files, report table, result list.
TEST(FILEREV, RealRestoreThenTheResultListShowsTheReport) {
    RestoreHarness h;
    test::TempDir tree;
    const std::string source = tree / "src", dest = tree / "dest";
    for (const std::string& dir : {source, dest + "/V00001", dest + "/V00002"}) std::filesystem::create_directories(dir);
    test::WriteFile(dest + "/V00001/a.txt", "five");
    test::WriteFile(dest + "/V00002/a.txt", "eight");
    test::WriteFile(source + "/a.txt", "now");
    test::WriteFile(source + "/new.txt", "new");
    h.state.db()
        .prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, ABKP, CHK1, CHK2) VALUES "
                 "(0, '/', NULL, '0', '0', NULL, NULL), (1, ?1, ?2, '1', '1', '1', '01')")
        .bind(1, source)
        .bind(2, dest)
        .run();
    h.state.db()
        .prepare("INSERT INTO FILEKANRI (BKPNO, DIRNO, LVL, DIR, FILENM, KBN1, CHK1) VALUES "
                 "(5, 1, 1, ?1, 'a.txt', '0', '0'), (8, 1, 2, ?1, 'a.txt', '0', '1'), (8, 1, 1, ?1, 'new.txt', '0', '1')")
        .bind(1, source + "/")
        .run();
    h.window().open();
    h.clickRow(0);  // run 5
    h.click("Command2");
    EXPECT_EQ(test::ReadFile(source + "/a.txt"), "five");
    EXPECT_FALSE(std::filesystem::exists(source + "/new.txt"));
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{" 処理を完了しました！　"});
    EXPECT_EQ(h.window().findChild<QLineEdit*>("GODISP")->text(), " ");

    RSTRLIST& list = h.context.window<RSTRLIST>();
    list.open();
    EXPECT_EQ(list.windowTitle(), QString::fromUtf8("結果表示"));
    EXPECT_EQ(list.findChild<QLabel*>("Label1")->text(), QString::fromUtf8("復元処理の結果表示"));
    EXPECT_EQ(list.findChild<QLabel*>("Label2")->text(), QString::fromUtf8("復元結果は RSTRLIST.TXTに保存されています。"));
    auto* grid = list.findChild<QTableView*>("DataGrid1");
    auto* model = qobject_cast<SqlGridModel*>(grid->model());
    ASSERT_EQ(model->rowCount(), 3);
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("内容"));
    EXPECT_EQ(model->index(2, 1).data().toString().toStdString(),
              " ファイル " + source + "/new.txt を削除しました! 　/V00001");
    test::GuiHarness::screenshot(list, "RSTRLIST");

    // "戻る" closes the list and brings the main menu back.
    QTest::mouseClick(list.findChild<QPushButton*>("Command1"), Qt::LeftButton);
    EXPECT_TRUE(h.context.window<MAINF>().isVisible());
}

}  // namespace
}  // namespace tessel
