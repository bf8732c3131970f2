#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "backup/backup_directory.h"
#include "inquiry/BKPFIND1.h"
#include "inquiry/BKPFIND2.h"
#include "inquiry/BKPFIND3.h"
#include "inquiry/inquiry_queries.h"
#include "inquiry/version_code.h"
#include "inquiry_fixture.h"
#include "shell/MAINF.h"
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

// Checks a grid's captions, hidden columns, pixel widths and alignments.
void ExpectLayout(QTableView* grid, const std::vector<Column>& expected) {
    QAbstractItemModel* m = grid->model();
    ASSERT_EQ(m->columnCount(), static_cast<int>(expected.size()));
    EXPECT_EQ(grid->horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    for (int c = 0; c < static_cast<int>(expected.size()); ++c) {
        SCOPED_TRACE(expected[c].caption);
        EXPECT_EQ(m->headerData(c, Qt::Horizontal).toString().toStdString(), expected[c].caption);
        EXPECT_EQ(grid->isColumnHidden(c), expected[c].widthTwips == 0);
        if (expected[c].widthTwips > 0) EXPECT_EQ(grid->columnWidth(c), TwipsToPixels(expected[c].widthTwips, *grid));
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
    // Before a click: every version, by run, directory, name and level.
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

    // Moving with the keyboard does not narrow the list again.
    QTest::keyClick(Grid(w, "DataGrid2"), Qt::Key_Down);
    EXPECT_EQ(Grid(w, "DataGrid2")->currentIndex().row(), 1);
    EXPECT_EQ(Versions(w).size(), 3u);
    ClickRow(Grid(w, "DataGrid2"), 1);
    EXPECT_EQ(Versions(w), (Strings{"2|2|1|/data/b/|d.txt|10"}));
    // A run that recorded nothing empties the list.
    ClickRow(Grid(w, "DataGrid2"), 2);
    EXPECT_TRUE(Versions(w).empty());
    EXPECT_TRUE(h.ui.messages.empty());
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
    ExpectLayout(Grid(w, "DataGrid1"), {{"BKPNO", 400, R},
                                        {"DIRNO", 0, R},
                                        {"LVL", 400, R},
                                        {"DIR", 0, D},
                                        {"FILE", 3900, D},
                                        {"UPDATE", 1600, D},
                                        {"UPTIME", 1250, D},
                                        {"SIZE", 800, R},
                                        {"FILE LVL", 1000, R},
                                        {"PGM LVL", 1000, R},
                                        {"KBN", 450, R}});
    ExpectOnlyVersionCodeEditable(w);

    ClickRow(Grid(w, "DataGrid2"), 1);
    EXPECT_EQ(Versions(w), (Strings{"0|2|0|/data/b/|c.txt|2", "1|2|1|/data/b/|c.txt|9", "2|2|1|/data/b/|d.txt|10"}));
    test::GuiHarness::screenshot(w, "BKPFIND2");
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

    // A version without a usable copy cannot be made to claim one.
    h.ui.messages.clear();
    EditCell(versions, 6, 10, "0");  // c.txt level 1, "9"
    ASSERT_EQ(h.ui.messages.size(), 1u);
    EXPECT_EQ(h.kbn1Of("/data/b/", "c.txt", 1), "9");
    // ... but it can be excluded, and the mark taken off again.
    h.ui.messages.clear();
    EditCell(versions, 0, 10, "0");  // a.txt, "8"
    EditCell(versions, 6, 10, "8");
    EXPECT_TRUE(h.ui.messages.empty());
    EXPECT_EQ(h.kbn1Of("/data/a/", "a.txt", 0), "0");
    EXPECT_EQ(h.kbn1Of("/data/b/", "c.txt", 1), "8");
    // Nothing else was written.
    Statement count = h.state.db().prepare("SELECT count(*), sum(KBN1 = '8') FROM FILEKANRI");
    ASSERT_TRUE(count.step());
    EXPECT_EQ(count.int64(0), 9);
    EXPECT_EQ(count.int64(1), 2);
}

TEST(InquiryWindows, ChangeVersionCodeRules) {
    test::InquiryHarness h;
    h.fillCatalog();
    Connection& db = h.state.db();
    auto rowid = [&](const char* name, int lvl) {
        Statement s = db.prepare("SELECT rowid FROM FILEKANRI WHERE FILENM = ?1 AND LVL = ?2");
        s.bind(1, name).bind(2, lvl);
        return s.step() ? s.int64(0) : -1;
    };
    EXPECT_FALSE(ChangeVersionCode(db, rowid("x.txt", 1), "9"));
    EXPECT_EQ(h.kbn1Of("/data/x/", "x.txt", 1), "9");
    EXPECT_TRUE(ChangeVersionCode(db, rowid("x.txt", 1), "7"));  // "9" claims no copy
    EXPECT_FALSE(ChangeVersionCode(db, rowid("x.txt", 1), "2"));
    EXPECT_TRUE(ChangeVersionCode(db, rowid("x.txt", 1), "0"));  // "2" neither
    EXPECT_FALSE(ChangeVersionCode(db, rowid("d.txt", 1), "7"));  // "10" is no code of ours, nothing to protect
    EXPECT_EQ(h.kbn1Of("/data/b/", "d.txt", 1), "7");
    EXPECT_TRUE(ChangeVersionCode(db, 999999, "8"));  // the row is gone
    EXPECT_TRUE(ChangeVersionCode(db, rowid("d.txt", 1), "1"));
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
    ClickRow(Grid(w, "DataGrid2"), 0);
    EXPECT_EQ(Versions(w), (Strings{"1|1|1|" + src + "/|a.txt|8", "2|1|2|" + src + "/|b.txt|0"}));
    EXPECT_EQ(test::ReadFile(dest + "/V00002/b.txt"), "two!");
    EXPECT_FALSE(std::filesystem::exists(dest + "/V00002/a.txt"));
    // The errors-only view lists the excluded file.
    auto* list = w.findChild<QListWidget*>("KBNNM");
    list->setCurrentRow(1);
    ClickRow(Grid(w, "DataGrid2"), 0);
    EXPECT_EQ(Versions(w), (Strings{"1|1|1|" + src + "/|a.txt|8"}));
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

TEST(InquiryWindows, MainMenuOpensEachWindowAndEveryWayBackShowsIt) {
    test::InquiryHarness h;
    h.fillCatalog();
    MAINF& menu = h.context.window<MAINF>();
    menu.open();
    struct Case {
        const char* button;
        const char* window;
        bool byFrame;
    };
    for (Case c : {Case{"Command1", "BKPFIND1", false}, Case{"Command6", "BKPFIND2", true},
                   Case{"Command9", "BKPFIND3", false}, Case{"Command1", "BKPFIND1", true}}) {
        SCOPED_TRACE(c.window);
        QTest::mouseClick(menu.findChild<QPushButton*>(c.button), Qt::LeftButton);
        QWidget* w = h.context.findWindow(c.window);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->isVisible());
        EXPECT_FALSE(menu.isVisible());
        // Opened anew each time: before a click every version is listed.
        EXPECT_FALSE(Versions(*w).empty());
        if (c.byFrame)
            w->close();
        else
            QTest::mouseClick(w->findChild<QPushButton*>("Command1"), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(h.context.findWindow(c.window), nullptr);
        EXPECT_TRUE(menu.isVisible());
    }
}

}  // namespace
}  // namespace tessel
