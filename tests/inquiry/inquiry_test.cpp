#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QMenu>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "archiver/archive_ops.h"
#include "backup/backup_directory.h"
#include "inquiry/BKPFIND1.h"
#include "inquiry/BKPFIND2.h"
#include "inquiry/BKPFIND3.h"
#include "inquiry/inquiry_queries.h"
#include "inquiry/version_code.h"
#include "inquiry_fixture.h"
#include "ui/grid_layout.h"

namespace tessel {
namespace {

using test::ClickRow;
using test::EditCell;
using test::Grid;
using test::Rows;
using test::Versions;
using Strings = std::vector<std::string>;

struct Column {
    std::string caption;
    int widthTwips;
    Qt::Alignment alignment;
};

// Checks a grid's captions, hidden columns, widths and alignments. A shown
// column is at least as wide as its twips say, and wide enough for its
// whole caption and every text of its rows at the grid's font; a cell's
// tooltip is its whole text.
void ExpectLayout(QTableView* grid, const std::vector<Column>& expected) {
    QAbstractItemModel* m = grid->model();
    ASSERT_EQ(m->columnCount(), static_cast<int>(expected.size()));
    EXPECT_EQ(grid->horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    const QFontMetrics fm(grid->font());
    for (int c = 0; c < static_cast<int>(expected.size()); ++c) {
        SCOPED_TRACE(expected[c].caption);
        EXPECT_EQ(m->headerData(c, Qt::Horizontal).toString().toStdString(), expected[c].caption);
        EXPECT_EQ(grid->isColumnHidden(c), expected[c].widthTwips == 0);
        if (expected[c].widthTwips > 0) {
            const int width = grid->columnWidth(c);
            EXPECT_GE(width, TwipsToPixels(expected[c].widthTwips, *grid));
            EXPECT_GE(width, grid->horizontalHeader()->sectionSizeHint(c));
            for (int r = 0; r < m->rowCount(); ++r) {
                const QString text = m->data(m->index(r, c)).toString();
                EXPECT_GT(width, grid->sizeHintForIndex(m->index(r, c)).width()) << text.toStdString();
                EXPECT_GT(width, fm.horizontalAdvance(text)) << text.toStdString();
                EXPECT_EQ(m->data(m->index(r, c), Qt::ToolTipRole).toString(), text);
            }
        }
        if (m->rowCount() > 0) {
            auto align = Qt::Alignment(m->data(m->index(0, c), Qt::TextAlignmentRole).toInt());
            EXPECT_EQ(align & Qt::AlignHorizontal_Mask, expected[c].alignment);
        }
    }
}

// Every column of the versions grid but KBN1 is locked; the upper grid is
// locked entirely.
void ExpectOnlyVersionCodeEditable(QWidget& w) {
    QAbstractItemModel* versions = Grid(w, "DataGrid1")->model();
    ASSERT_GT(versions->rowCount(), 0);
    for (int c = 0; c < versions->columnCount(); ++c)
        EXPECT_EQ(bool(versions->flags(versions->index(0, c)) & Qt::ItemIsEditable), c == 10) << c;
    QAbstractItemModel* upper = Grid(w, "DataGrid2")->model();
    for (int c = 0; c < upper->columnCount(); ++c)
        EXPECT_FALSE(upper->flags(upper->index(0, c)) & Qt::ItemIsEditable) << c;
    EXPECT_EQ(Grid(w, "DataGrid2")->editTriggers(), QAbstractItemView::NoEditTriggers);
}

const Qt::Alignment R = Qt::AlignRight, C = Qt::AlignHCenter, D = {};

std::string kNoCopy(const std::string& code) {
    return "この版にはバックアップの写しがないため、KBN を " + code + " にはできません。\n（使える区分は 2, 8, 9 です）";
}

TEST(BKPFIND1, ListsRunsWithNamedKindsAndNarrowsVersionsByClickedRun) {
    test::InquiryHarness h;
    h.fillCatalog();
    BKPFIND1& w = h.context.window<BKPFIND1>();
    w.open();
    EXPECT_EQ(w.windowTitle().toStdString(), "問合せ");
    EXPECT_EQ(w.findChild<QLabel*>("Label1")->text().toStdString(), "バックアップ管理(バックアップ別）");
    EXPECT_EQ(w.findChild<QPushButton*>("Command1")->text().toStdString(), "戻る");

    // Runs of kind "4" and "01" have no group-1 name and are left out; the
    // catalog's own order is kept; the date shows with slashes.
    EXPECT_EQ(Rows(Grid(w, "DataGrid2"), {0, 1, 2, 3, 4, 5}),
              (Strings{"1|週次バックアップ|通常|2024/01/05|10:00:00|1", "2|情報取得|情報のみ|2024/01/06|11:30:00|9",
                       "4|空の実行|通常|2024/01/08|13:00:00|1"}));
    // Before a run is current nothing is highlighted and every version is
    // listed, by run, directory, name and level.
    EXPECT_FALSE(Grid(w, "DataGrid2")->currentIndex().isValid());
    EXPECT_TRUE(Grid(w, "DataGrid2")->selectionModel()->selectedRows().isEmpty());
    EXPECT_EQ(Versions(w), (Strings{"0|1|0|/data/a/|a.txt|8", "0|1|0|/data/a/|b.txt|0", "0|1|0|/data/a/sub/|e.txt|0",
                                    "0|2|0|/data/b/|c.txt|2", "1|1|1|/data/a/sub/|b.txt|7", "1|1|2|/data/a/|b.txt|0",
                                    "1|2|1|/data/b/|c.txt|9", "2|2|1|/data/b/|d.txt|10", "3|3|1|/data/x/|x.txt|0"}));
    ExpectLayout(Grid(w, "DataGrid2"), {{"番号", 0, D},
                                        {"タイトル", 4300, D},
                                        {"区分", 1800, D},
                                        {"バックアップ日", 1300, C},
                                        {"時間", 1300, C},
                                        {"区分DMY", 0, D}});
    std::vector<Column> versionsLayout = {{"BKPNO", 0, R},    {"DIRNO", 0, R},      {"LVL", 440, R},
                                          {"ﾊﾞｯｸｱｯﾌﾟﾃﾞｨﾚｸﾄﾘ", 2500, D}, {"FILE", 2100, D},
                                          {"UPDATE", 1600, D}, {"UPTIME", 1200, D},  {"SIZE", 800, R},
                                          {"FILE LVL", 900, R}, {"PGM LVL", 900, R}, {"KBN", 400, R}};
    ExpectLayout(Grid(w, "DataGrid1"), versionsLayout);
    ExpectOnlyVersionCodeEditable(w);

    ClickRow(Grid(w, "DataGrid2"), 0);
    EXPECT_EQ(Versions(w), (Strings{"1|1|1|/data/a/sub/|b.txt|7", "1|1|2|/data/a/|b.txt|0", "1|2|1|/data/b/|c.txt|9"}));
    // The layout holds after the grid was filled anew.
    ExpectLayout(Grid(w, "DataGrid1"), versionsLayout);
    test::GuiHarness::screenshot(w, "BKPFIND1");

    // However the current run changes, the versions follow it: arrow keys,
    // the row number, the program.
    QTableView* runs = Grid(w, "DataGrid2");
    const Strings run2 = {"2|2|1|/data/b/|d.txt|10"};
    QTest::keyClick(runs, Qt::Key_Down);
    EXPECT_EQ(runs->currentIndex().row(), 1);
    EXPECT_EQ(Versions(w), run2);
    // A run that recorded nothing empties the list.
    QHeaderView* numbers = runs->verticalHeader();
    QTest::mouseClick(numbers->viewport(), Qt::LeftButton, {},
                      QPoint(numbers->width() / 2, numbers->sectionViewportPosition(2) + numbers->sectionSize(2) / 2));
    EXPECT_EQ(runs->currentIndex().row(), 2);
    EXPECT_TRUE(Versions(w).empty());
    QTest::keyClick(runs, Qt::Key_Up);
    EXPECT_EQ(Versions(w), run2);
    runs->setCurrentIndex(runs->model()->index(0, 1));
    EXPECT_EQ(Versions(w).size(), 3u);
    EXPECT_TRUE(h.ui.messages.empty());

    // A refused edit shows its message; the next click still moves the
    // run and its versions together.
    test::EditCell(Grid(w, "DataGrid1"), 0, 10, "5");
    EXPECT_EQ(h.ui.messages.size(), 1u);
    ClickRow(runs, 1);
    EXPECT_EQ(Versions(w), run2);
    // Opened again, the window shows every version and no current run.
    w.open();
    EXPECT_FALSE(runs->currentIndex().isValid());
    EXPECT_EQ(Versions(w).size(), 9u);
}

TEST(BKPFIND1, EmptyCatalogShowsNothingAndClicksChangeNothing) {
    test::InquiryHarness h;
    h.fillCatalog();
    h.state.db().exec("DELETE FROM FILEKANRI");
    BKPFIND1& w = h.context.window<BKPFIND1>();
    w.open();
    EXPECT_TRUE(Versions(w).empty());
    ClickRow(Grid(w, "DataGrid2"), 0);
    EXPECT_TRUE(Versions(w).empty());
    // With no runs at all a click on the grid does nothing either.
    h.state.db().exec("DELETE FROM BKPNAME");
    QTest::mouseClick(Grid(w, "DataGrid2")->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_TRUE(Versions(w).empty());
    EXPECT_TRUE(h.ui.messages.empty());
}

TEST(InquiryWindows, CtrlEndAndTheScrollBarReachTheLastOfManyRows) {
    test::InquiryHarness h;
    h.fillCatalog();
    // 3000 more versions of run 3: far more than one page.
    h.state.db().exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
        "INSERT INTO FILEKANRI (BKPNO, DIRNO, LVL, DIR, FILENM, KBN1, CHK1) "
        "SELECT 3, 3, 1, '/data/x/', printf('f%05d.txt', i), '0', '1' FROM n");
    BKPFIND1& w = h.context.window<BKPFIND1>();
    w.open();
    QTableView* versions = Grid(w, "DataGrid1");
    QAbstractItemModel* m = versions->model();
    EXPECT_EQ(m->rowCount(), 3009);
    versions->setFocus();
    QTest::keyClick(versions, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(versions->currentIndex().row(), 3008);
    EXPECT_EQ(m->data(versions->currentIndex().siblingAtColumn(4)).toString().toStdString(), "x.txt");
    EXPECT_EQ(m->data(m->index(3007, 4)).toString().toStdString(), "f03000.txt");
    EXPECT_TRUE(versions->visualRect(versions->currentIndex()).intersects(versions->viewport()->rect()));
    // The scroll bar's end is the last row too; the first rows read again.
    versions->verticalScrollBar()->setValue(versions->verticalScrollBar()->maximum());
    EXPECT_EQ(versions->rowAt(versions->viewport()->height() - 2), 3008);
    QTest::keyClick(versions, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(m->data(m->index(versions->currentIndex().row(), 4)).toString().toStdString(), "a.txt");
    // The run's versions narrow to a count of their own.
    ClickRow(Grid(w, "DataGrid2"), 2);  // run 4: nothing
    EXPECT_EQ(m->rowCount(), 0);
}

TEST(BKPFIND2, ListsRegisteredDirectoriesWithoutThePrefixRow) {
    test::InquiryHarness h;
    h.fillCatalog();
    BKPFIND2& w = h.context.window<BKPFIND2>();
    w.open();
    EXPECT_EQ(w.windowTitle().toStdString(), "問合せ");
    EXPECT_EQ(w.findChild<QLabel*>("Label1")->text().toStdString(), "バックアップ管理(ﾃﾞｨﾚｸﾄﾘｰ別）");
    // The prefix row has a group-2 name ("保存先") and still is not listed;
    // directory 3 of kind "5" has none.
    EXPECT_EQ(Rows(Grid(w, "DataGrid2"), {0, 1, 2, 3, 4}),
              (Strings{"1|/data/a|/dest/a|通常|メモ", "2|/data/b|/dest/b|初期一括BKP|", "4|/data/new|/dest/new|通常|未実行"}));
    // By directory, name and level: the level decides before the folder.
    EXPECT_EQ(Versions(w), (Strings{"0|1|0|/data/a/|a.txt|8", "0|1|0|/data/a/|b.txt|0", "1|1|1|/data/a/sub/|b.txt|7",
                                    "1|1|2|/data/a/|b.txt|0", "0|1|0|/data/a/sub/|e.txt|0", "0|2|0|/data/b/|c.txt|2",
                                    "1|2|1|/data/b/|c.txt|9", "2|2|1|/data/b/|d.txt|10", "3|3|1|/data/x/|x.txt|0"}));
    ExpectLayout(Grid(w, "DataGrid2"),
                 {{"番号", 0, D}, {"ﾃﾞｨﾚｸﾄﾘｰ", 2700, D}, {"ﾊﾞｯｸｱｯﾌﾟﾃﾞｨﾚｸﾄﾘｰ", 2500, D}, {"区分", 1600, D}, {"備考", 1600, D}});
    const std::vector<Column> versionsLayout = {{"BKPNO", 400, R},      {"DIRNO", 0, R},    {"LVL", 400, R},
                                                {"DIR", 0, D},          {"FILE", 3900, D},  {"UPDATE", 1600, D},
                                                {"UPTIME", 1250, D},    {"SIZE", 800, R},   {"FILE LVL", 1000, R},
                                                {"PGM LVL", 1000, R},   {"KBN", 450, R}};
    ExpectLayout(Grid(w, "DataGrid1"), versionsLayout);
    ExpectOnlyVersionCodeEditable(w);

    ClickRow(Grid(w, "DataGrid2"), 1);
    EXPECT_EQ(Versions(w), (Strings{"0|2|0|/data/b/|c.txt|2", "1|2|1|/data/b/|c.txt|9", "2|2|1|/data/b/|d.txt|10"}));
    test::GuiHarness::screenshot(w, "BKPFIND2");
    // At a larger font the columns still show whole captions and texts:
    // the 400-twip "BKPNO" and the dates and times grow, the file names
    // keep their 3900 twips.
    QFont large = w.font();
    large.setPointSizeF(16);
    w.setFont(large);
    w.open();
    ExpectLayout(Grid(w, "DataGrid1"), versionsLayout);
    EXPECT_EQ(Grid(w, "DataGrid1")->columnWidth(4), TwipsToPixels(3900, w));
    EXPECT_GT(Grid(w, "DataGrid1")->columnWidth(0), TwipsToPixels(400, w));
    EXPECT_GT(Grid(w, "DataGrid1")->columnWidth(5), TwipsToPixels(1600, w));
    // Registered but never backed up: nothing to show.
    ClickRow(Grid(w, "DataGrid2"), 2);
    EXPECT_TRUE(Versions(w).empty());
}

TEST(BKPFIND3, ShowsLatestVersionsAndErrorsOnlyFromTheNextClick) {
    test::InquiryHarness h;
    h.fillCatalog();
    BKPFIND3& w = h.context.window<BKPFIND3>();
    w.open();
    EXPECT_EQ(w.findChild<QLabel*>("Label1")->text().toStdString(), "最新ファイル状況問い合わせ");
    auto* list = w.findChild<QListWidget*>("KBNNM");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text().toStdString(), "全部");
    EXPECT_EQ(list->item(1)->text().toStdString(), "エラーのみ");
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(w.filterMode(), "1");
    // Before a click: every version whose CHK1 is not "0", CHK1 "2" included.
    EXPECT_EQ(Rows(Grid(w, "DataGrid1"), {2, 3, 4, 10, 11}),
              (Strings{"0|/data/a/|a.txt|8|1", "1|/data/a/sub/|b.txt|7|1", "2|/data/a/|b.txt|0|1", "0|/data/a/sub/|e.txt|0|2",
                       "1|/data/b/|c.txt|9|1", "1|/data/b/|d.txt|10|1", "1|/data/x/|x.txt|0|1"}));
    ExpectLayout(Grid(w, "DataGrid2"),
                 {{"番号", 0, D}, {"ﾃﾞｨﾚｸﾄﾘｰ", 2700, D}, {"ﾊﾞｯｸｱｯﾌﾟﾃﾞｨﾚｸﾄﾘｰ", 2800, D}, {"区分", 1200, D}, {"備考", 1800, D}});
    ExpectLayout(Grid(w, "DataGrid1"), {{"BKPNO", 0, R},
                                        {"DIRNO", 0, R},
                                        {"LVL", 380, R},
                                        {"DIR", 2600, D},
                                        {"FILE", 1900, D},
                                        {"UPDATE", 1700, D},
                                        {"UPTIME", 1200, D},
                                        {"SIZE", 900, R},
                                        {"FILE LVL", 1050, R},
                                        {"PGM LVL", 1050, R},
                                        {"KBN", 420, R},
                                        {"CHK1", 0, D}});
    ExpectOnlyVersionCodeEditable(w);

    // All latest versions of directory 1: the CHK1 "2" row is gone now.
    ClickRow(Grid(w, "DataGrid2"), 0);
    EXPECT_EQ(Versions(w), (Strings{"0|1|0|/data/a/|a.txt|8", "1|1|1|/data/a/sub/|b.txt|7", "1|1|2|/data/a/|b.txt|0"}));

    // Choosing "エラーのみ" changes nothing until the next click.
    QListWidget* kbnnm = list;
    QTest::mouseClick(kbnnm->viewport(), Qt::LeftButton, {}, kbnnm->visualItemRect(kbnnm->item(1)).center());
    EXPECT_EQ(w.filterMode(), "2");
    EXPECT_EQ(Versions(w).size(), 3u);
    ClickRow(Grid(w, "DataGrid2"), 0);
    EXPECT_EQ(Versions(w), (Strings{"0|1|0|/data/a/|a.txt|8"}));
    // "10" is below "8" as text: only the "9" of directory 2 counts.
    ClickRow(Grid(w, "DataGrid2"), 1);
    EXPECT_EQ(Versions(w), (Strings{"1|2|1|/data/b/|c.txt|9"}));
    test::GuiHarness::screenshot(w, "BKPFIND3");
    // A directory without excluded or failed versions shows nothing.
    h.state.db().exec("UPDATE FILEKANRI SET KBN1 = '0' WHERE DIRNO = 1");
    ClickRow(Grid(w, "DataGrid2"), 0);
    EXPECT_TRUE(Versions(w).empty());

    // Back to "全部", again only from the next click.
    QTest::mouseClick(kbnnm->viewport(), Qt::LeftButton, {}, kbnnm->visualItemRect(kbnnm->item(0)).center());
    EXPECT_EQ(w.filterMode(), "1");
    EXPECT_TRUE(Versions(w).empty());
    ClickRow(Grid(w, "DataGrid2"), 1);
    EXPECT_EQ(Versions(w), (Strings{"1|2|1|/data/b/|c.txt|9", "2|2|1|/data/b/|d.txt|10"}));
}

TEST(InquiryWindows, VersionCodeEditsAreCheckedAndSavedToTheirOwnRow) {
    test::InquiryHarness h;
    h.fillCatalog();
    BKPFIND1& w = h.context.window<BKPFIND1>();
    w.open();
    QTableView* versions = Grid(w, "DataGrid1");
    // Row 4 is b.txt of /data/a/sub/ at level 1; row 5 the same name elsewhere.
    EditCell(versions, 4, 10, "8");
    EXPECT_TRUE(h.ui.messages.empty());
    EXPECT_EQ(h.kbn1Of("/data/a/sub/", "b.txt", 1), "8");
    EXPECT_EQ(h.kbn1Of("/data/a/", "b.txt", 2), "0");
    EXPECT_EQ(versions->model()->data(versions->model()->index(4, 10)).toString().toStdString(), "8");

    // Anything but the five codes is refused with a message naming them.
    for (const char* bad : {"5", "08", "", " 8", "a"}) {
        h.ui.messages.clear();
        EditCell(versions, 5, 10, bad);
        ASSERT_EQ(h.ui.messages.size(), 1u) << bad;
        EXPECT_NE(h.ui.messages[0].find("0, 2, 7, 8, 9"), std::string::npos);
        EXPECT_EQ(h.kbn1Of("/data/a/", "b.txt", 2), "0");
        EXPECT_EQ(versions->model()->data(versions->model()->index(5, 10)).toString().toStdString(), "0");
    }

    // A version whose copy is not in its destination cannot be made to
    // claim one, not even in two steps.
    h.ui.messages.clear();
    EditCell(versions, 6, 10, "0");  // c.txt level 1, "9"
    EditCell(versions, 6, 10, "8");
    EditCell(versions, 6, 10, "7");
    EditCell(versions, 0, 10, "0");  // a.txt, "8"
    EXPECT_EQ(h.ui.messages, (Strings{kNoCopy("0"), kNoCopy("7"), kNoCopy("0")}));
    EXPECT_EQ(h.kbn1Of("/data/b/", "c.txt", 1), "8");
    EXPECT_EQ(h.kbn1Of("/data/a/", "a.txt", 0), "8");
    EXPECT_EQ(versions->model()->data(versions->model()->index(6, 10)).toString().toStdString(), "8");
    // Nothing else was written.
    Statement count = h.state.db().prepare("SELECT count(*), sum(KBN1 = '8') FROM FILEKANRI");
    ASSERT_TRUE(count.step());
    EXPECT_EQ(count.int64(0), 9);
    EXPECT_EQ(count.int64(1), 3);
}

TEST(InquiryWindows, CodesClaimingACopyNeedTheCopyInTheDestination) {
    test::InquiryHarness h;
    h.fillCatalog();
    Connection& db = h.state.db();
    // Directory 2 stores into a real destination: level 1's archive holds
    // c.txt of /data/b/; a plain d.txt lies beside it, a copy of another
    // file of that name (other time and size).
    const std::string dest = h.folder / "dest-b";
    std::filesystem::create_directories(dest + "/V00001");
    test::WriteFile(h.folder / "c.txt", "c");
    std::string report;
    ASSERT_EQ(archive::AddFiles(dest + "/V00001/bkpcmp.lzh", {{h.folder / "c.txt", "data/b/c.txt"}}, &report), 0);
    test::WriteFile(dest + "/V00001/d.txt", "another d.txt");
    db.prepare("UPDATE BKPDIR SET BKPDIR = ?1 WHERE DIRNO = 2").bind(1, dest).run();
    auto rowid = [&](const char* name, int lvl) {
        Statement s = db.prepare("SELECT rowid FROM FILEKANRI WHERE FILENM = ?1 AND LVL = ?2");
        s.bind(1, name).bind(2, lvl);
        return s.step() ? s.int64(0) : -1;
    };
    struct Step {
        const char* name;
        int lvl;
        const char* entered;
        bool refused;
        const char* stored;
    };
    for (Step c : {Step{"c.txt", 1, "8", false, "8"},  // "9" at first; the archive holds its copy
                   Step{"c.txt", 1, "0", false, "0"},
                   Step{"c.txt", 1, "7", false, "7"},
                   Step{"d.txt", 1, "7", true, "10"},  // the plain d.txt is not this version's
                   Step{"d.txt", 1, "2", false, "2"},
                   Step{"x.txt", 1, "9", false, "9"},  // destination /dest/x holds nothing
                   Step{"x.txt", 1, "8", false, "8"},
                   Step{"x.txt", 1, "0", true, "8"},
                   Step{"x.txt", 1, "1", true, "8"}}) {
        SCOPED_TRACE(std::string(c.name) + " -> " + c.entered);
        EXPECT_EQ(ChangeVersionCode(db, rowid(c.name, c.lvl), c.entered).has_value(), c.refused);
        Statement s = db.prepare("SELECT KBN1 FROM FILEKANRI WHERE rowid = ?1");
        s.bind(1, rowid(c.name, c.lvl));
        ASSERT_TRUE(s.step());
        EXPECT_EQ(s.text(0), c.stored);
    }
    EXPECT_TRUE(ChangeVersionCode(db, 999999, "8"));  // the row is gone
}

void SetMtime(const std::string& path, std::int64_t seconds) {
    struct timespec t[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    utimensat(AT_FDCWD, path.c_str(), t, 0);
}

TEST(InquiryWindows, ExcludedMarkIsHonouredByTheNextBackupRun) {
    test::InquiryHarness h;
    std::string src = h.folder / "src", dest = h.folder / "dest";
    std::filesystem::create_directories(src);
    std::filesystem::create_directories(dest);
    test::WriteFile(src + "/a.txt", "one");
    test::WriteFile(src + "/b.txt", "one");
    SetMtime(src + "/a.txt", 1700000000);
    SetMtime(src + "/b.txt", 1700000000);
    h.state.db().prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, ABKP, CHK1, CHK2) VALUES (1, ?1, ?2, '1', '1', '1', '01')")
        .bind(1, src).bind(2, dest).run();
    h.state.db().exec("INSERT INTO BKPNAME VALUES (1, 'first', '1', '2024-01-01', '09:00:00'), "
                      "(2, 'second', '1', '2024-01-02', '09:00:00')");
    h.state.compression = "0";
    BackupDirectory(h.state, src, "9", "1", dest, 1, 1, "01");

    BKPFIND3& w = h.context.window<BKPFIND3>();
    w.open();
    ClickRow(Grid(w, "DataGrid2"), 0);
    ASSERT_EQ(Versions(w), (Strings{"1|1|1|" + src + "/|a.txt|0", "1|1|1|" + src + "/|b.txt|0"}));
    h.ui.messages.clear();
    EditCell(Grid(w, "DataGrid1"), 0, 10, "8");
    EXPECT_TRUE(h.ui.messages.empty());
    EXPECT_EQ(h.kbn1Of(src + "/", "a.txt", 1), "8");

    test::WriteFile(src + "/a.txt", "two!");
    test::WriteFile(src + "/b.txt", "two!");
    SetMtime(src + "/a.txt", 1700086400);
    SetMtime(src + "/b.txt", 1700086400);
    BackupDirectory(h.state, src, "9", "1", dest, 2, 1, "01");

    // a.txt got no new version; b.txt did, with its copy.
    w.open();
    ClickRow(Grid(w, "DataGrid2"), 0);
    EXPECT_EQ(Versions(w), (Strings{"1|1|1|" + src + "/|a.txt|8", "2|1|2|" + src + "/|b.txt|0"}));
    EXPECT_EQ(test::ReadFile(dest + "/V00002/b.txt"), "two!");
    EXPECT_FALSE(std::filesystem::exists(dest + "/V00002/a.txt"));
    // The errors-only view lists the excluded file.
    auto* list = w.findChild<QListWidget*>("KBNNM");
    list->setCurrentRow(1);
    ClickRow(Grid(w, "DataGrid2"), 0);
    EXPECT_EQ(Versions(w), (Strings{"1|1|1|" + src + "/|a.txt|8"}));
    // Its plain copy of run 1 is still there: the mark can come off again,
    // and once the copy is gone it cannot be claimed.
    EditCell(Grid(w, "DataGrid1"), 0, 10, "0");
    EXPECT_EQ(h.kbn1Of(src + "/", "a.txt", 1), "0");
    std::filesystem::remove(dest + "/V00001/a.txt");
    EditCell(Grid(w, "DataGrid1"), 0, 10, "8");
    EditCell(Grid(w, "DataGrid1"), 0, 10, "7");
    EXPECT_EQ(h.kbn1Of(src + "/", "a.txt", 1), "8");
    EXPECT_EQ(h.ui.messages, Strings{kNoCopy("7")});
}

TEST(InquiryWindows, ContextMenuRestoresTheSelectedVersionsIntoAChosenFolder) {
    test::InquiryHarness h;
    std::string src = h.folder / "src", dest = h.folder / "dest";
    std::filesystem::create_directories(src);
    test::WriteFile(src + "/a.txt", "a1");
    test::WriteFile(src + "/b.txt", "b1");
    SetMtime(src + "/a.txt", 1700000000);
    h.state.db().prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, ABKP, CHK1, CHK2) VALUES (1, ?1, ?2, '1', '1', '1', '01')")
        .bind(1, src).bind(2, dest).run();
    h.state.db().exec("INSERT INTO BKPNAME VALUES (1, 'first', '1', '2024-01-01', '09:00:00')");
    h.state.compression = "1";
    std::filesystem::create_directories(dest);
    BackupDirectory(h.state, src, "9", "1", dest, 1, 1, "01");
    test::WriteFile(src + "/a.txt", "changed");

    test::TempDir target;
    h.context.chooseFolder = [&](QWidget*) { return QString::fromStdString(target.path()); };
    for (QWidget* w : std::vector<QWidget*>{&h.context.window<BKPFIND1>(), &h.context.window<BKPFIND2>(),
                                            &h.context.window<BKPFIND3>()}) {
        std::filesystem::remove_all(target.path() + src);
        static_cast<InquiryWindow*>(w)->open();
        ClickRow(Grid(*w, "DataGrid2"), 0);
        QTableView* versions = Grid(*w, "DataGrid1");
        ASSERT_EQ(versions->model()->rowCount(), 2) << w->objectName().toStdString();
        versions->selectAll();
        h.ui.messages.clear();
        // The menu is answered as soon as it shows.
        QTimer::singleShot(0, [w] {
            auto* menu = w->findChild<QMenu*>("versionsMenu");
            ASSERT_TRUE(menu);
            ASSERT_EQ(menu->actions().size(), 1);
            EXPECT_EQ(menu->actions()[0]->text(), QString::fromUtf8("選択した版を復元..."));
            menu->setActiveAction(menu->actions()[0]);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        emit versions->customContextMenuRequested(QPoint(5, 5));
        EXPECT_EQ(test::ReadFile(target.path() + src + "/a.txt"), "a1");
        EXPECT_EQ(test::ReadFile(target.path() + src + "/b.txt"), "b1");
        struct stat st {};
        ::stat((target.path() + src + "/a.txt").c_str(), &st);
        EXPECT_EQ(st.st_mtime, 1700000000);
        EXPECT_EQ(h.ui.messages, (Strings{"選択した版を " + target.path() + " へ復元しました。\n復元 2 件、スキップ 0 件、失敗 0 件"}));
        EXPECT_EQ(test::ReadFile(src + "/a.txt"), "changed") << "the source is untouched";
        w->close();
    }
}

TEST(InquiryWindows, QueriesAreServedInOrderByTheFileIndexes) {
    test::InquiryHarness h;
    struct Case {
        std::string sql;
        const char* index;
    };
    std::vector<Case> cases = {{inquiry::RunVersionsQuery(false), "FILEKANRI_BYRUN"},
                               {inquiry::RunVersionsQuery(true), "FILEKANRI_BYRUN"},
                               {inquiry::DirectoryVersionsQuery(false), "FILEKANRI_BYFILE"},
                               {inquiry::DirectoryVersionsQuery(true), "FILEKANRI_BYFILE"},
                               {inquiry::LatestVersionsQuery(false), "FILEKANRI_BYFILE"},
                               {inquiry::LatestVersionsQuery(true, "1"), "FILEKANRI_BYFILE"},
                               {inquiry::LatestVersionsQuery(true, "2"), "FILEKANRI_BYFILE"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        Statement plan = h.state.db().prepare("EXPLAIN QUERY PLAN " + c.sql);
        std::string text;
        while (plan.step()) text += plan.text(3) + "\n";
        EXPECT_NE(text.find(std::string("USING INDEX ") + c.index), std::string::npos) << text;
        // Only the rows of one index key are sorted, never the whole result.
        EXPECT_EQ(text.find("TEMP B-TREE FOR ORDER BY"), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace tessel
