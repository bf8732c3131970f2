// The inquiry windows, driven offscreen on a catalog filled out of order.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTimer>
#include <QTableView>
#include <QTest>

#include <sys/stat.h>

#include <filesystem>

#include "archiver/archive_ops.h"
#include "backup/backup_directory.h"
#include "inquiry/BKPFIND1.h"
#include "inquiry/BKPFIND2.h"
#include "inquiry/BKPFIND3.h"
#include "inquiry/version_code.h"
#include "platform/engine_lock.h"
#include "restore/restore_to.h"
#include "support/gui_harness.h"

namespace tessel {
namespace {

using Strings = std::vector<std::string>;

struct InquiryHarness : test::GuiHarness {
    explicit InquiryHarness(bool fill = true) {
        if (!fill) return;
        state.db().exec(
            "INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES "
            "(0, '/dest', NULL, '0', 'PREFIX', '1', NULL, NULL), (1, '/data/a', '/dest/a', '1', 'メモ', '1', '1', '01'),"
            "(2, '/data/b', '/dest/b', '3', NULL, '9', '1', '00'), (3, '/data/x', '/dest/x', '5', NULL, '1', '1', '01'),"
            "(4, '/data/new', '/dest/new', '1', '未実行', '1', '0', '01')");
        state.db().exec(
            "INSERT INTO BKPNAME (BKPNO, BKPNAME, KBN, DAY1, TIME1) VALUES "
            "(1, '週次バックアップ', '1', '2024-01-05', '10:00:00'), (2, '情報取得', '9', '2024-01-06', '11:30:00'),"
            "(3, '不明な区分', '4', '2024-01-07', '12:00:00'), (4, '空の実行', '1', '2024-01-08', '13:00:00'),"
            "(5, '区分01', '01', '2024-01-09', '14:00:00')");
        // BKPNO, DIRNO, LVL, DIR, FILENM, KBN1, CHK1
        state.db().exec(
            "INSERT INTO FILEKANRI (BKPNO, DIRNO, LVL, DIR, FILENM, KBN1, CHK1, FUPDAYD, FUPTIMED, FSIZE, FVERNO, PVERNO) "
            "SELECT *, '2024年1月5日(金)', '9時5分7秒', 1234, ' ', ' ' FROM (VALUES "
            "(1, 1, 2, '/data/a/', 'b.txt', '0', '1'), (0, 2, 0, '/data/b/', 'c.txt', '2', '0'),"
            "(0, 1, 0, '/data/a/', 'b.txt', '0', '0'), (1, 2, 1, '/data/b/', 'c.txt', '9', '1'),"
            "(0, 1, 0, '/data/a/sub/', 'e.txt', '0', '2'), (0, 1, 0, '/data/a/', 'a.txt', '8', '1'),"
            "(2, 2, 1, '/data/b/', 'd.txt', '10', '1'), (3, 3, 1, '/data/x/', 'x.txt', '0', '1'),"
            "(1, 1, 1, '/data/a/sub/', 'b.txt', '7', '1'))");
    }

    std::string kbn1Of(const std::string& dir, const std::string& name, int lvl) {
        Statement s = state.db().prepare("SELECT KBN1 FROM FILEKANRI WHERE DIR = ?1 AND FILENM = ?2 AND LVL = ?3");
        s.bind(1, dir).bind(2, name).bind(3, lvl);
        return s.step() ? s.text(0) : "(none)";
    }
};

QTableView* Grid(QWidget& w, const char* name) { return w.findChild<QTableView*>(name); }

// The shown rows of a grid, the given columns of each joined by "|".
Strings Rows(QTableView* grid, std::vector<int> columns) {
    Strings out(grid->model()->rowCount());
    for (int r = 0; r < static_cast<int>(out.size()); ++r)
        for (int c : columns) out[r] += (c == columns[0] ? "" : "|") + grid->model()->index(r, c).data().toString().toStdString();
    return out;
}

// The versions grid as BKPNO|DIRNO|LVL|DIR|FILE|KBN.
Strings Versions(QWidget& w) { return Rows(Grid(w, "DataGrid1"), {0, 1, 2, 3, 4, 10}); }

void ClickRow(QTableView* grid, int row) {
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(row, 1)).center());
}

// Types a value into a cell as a user does: the editor opens, takes the
// text and is committed with Enter (the delegate closes it by a queued call).
void EditCell(QTableView* grid, int row, int column, const QString& text) {
    QModelIndex index = grid->model()->index(row, column);
    grid->setCurrentIndex(index);
    grid->edit(index);
    for (QLineEdit* e : grid->viewport()->findChildren<QLineEdit*>()) {
        if (!e->isVisible()) continue;
        e->setText(text);
        QTest::keyClick(e, Qt::Key_Return);
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Both grids of a window: only KBN of the versions grid can be edited.
void ExpectLocked(QWidget& w) {
    for (const char* name : {"DataGrid1", "DataGrid2"}) {
        QAbstractItemModel* m = Grid(w, name)->model();
        for (int c = 0; c < m->columnCount(); ++c)
            for (int r = 0; r < m->rowCount(); ++r)
                EXPECT_EQ(bool(m->flags(m->index(r, c)) & Qt::ItemIsEditable), name[8] == '1' && c == 10) << name << c;
    }
    EXPECT_EQ(Grid(w, "DataGrid2")->editTriggers(), QAbstractItemView::NoEditTriggers);
}

std::string NoCopy(const std::string& code) {
    return "この版にはバックアップの写しがないため、KBN を " + code + " にはできません。\n（使える区分は 2, 8, 9 です）";
}

TEST(BKPFIND1and2, ListRunsOrDirectoriesTheVersionsFollowTheCurrentRowAndTheLastOfManyIsReached) {
    InquiryHarness h;
    BKPFIND1& w = h.context.window<BKPFIND1>();
    w.open();
    QTableView* runs = Grid(w, "DataGrid2");
    // Runs of kind "4" and "01" have no name and are left out; dates show with slashes.
    EXPECT_EQ(Rows(runs, {0, 1, 2, 3, 4, 5}),
              (Strings{"1|週次バックアップ|通常|2024/01/05|10:00:00|1", "2|情報取得|情報のみ|2024/01/06|11:30:00|9",
                       "4|空の実行|通常|2024/01/08|13:00:00|1"}));
    // Before a run is current every version is listed, by run, directory, name and level.
    EXPECT_EQ(Versions(w), (Strings{"0|1|0|/data/a/|a.txt|8", "0|1|0|/data/a/|b.txt|0", "0|1|0|/data/a/sub/|e.txt|0",
                                    "0|2|0|/data/b/|c.txt|2", "1|1|1|/data/a/sub/|b.txt|7", "1|1|2|/data/a/|b.txt|0",
                                    "1|2|1|/data/b/|c.txt|9", "2|2|1|/data/b/|d.txt|10", "3|3|1|/data/x/|x.txt|0"}));
    ExpectLocked(w);
    ClickRow(runs, 0);
    EXPECT_EQ(Versions(w), (Strings{"1|1|1|/data/a/sub/|b.txt|7", "1|1|2|/data/a/|b.txt|0", "1|2|1|/data/b/|c.txt|9"}));
    test::GuiHarness::screenshot(w, "BKPFIND1");

    // The versions follow the current run however it changes.
    const Strings run2 = {"2|2|1|/data/b/|d.txt|10"};
    QTest::keyClick(runs, Qt::Key_Down);
    EXPECT_EQ(Versions(w), run2);
    // An accessibility action selects a row without making it current: the
    // versions follow it too, and the keyboard goes on from it.
    runs->selectionModel()->select(runs->model()->index(1, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_EQ(Versions(w), run2);
    EXPECT_EQ(runs->currentIndex().row(), 1);
    QTest::keyClick(runs, Qt::Key_Up);
    EXPECT_EQ(Versions(w).size(), 3u);
    // After a refused edit's message the next click still moves run and versions.
    EditCell(Grid(w, "DataGrid1"), 0, 10, "5");
    ClickRow(runs, 1);
    EXPECT_EQ(Versions(w), run2);
    // Opened again, the window shows every version and no current run.
    w.open();
    EXPECT_FALSE(runs->currentIndex().isValid());
    EXPECT_EQ(Versions(w).size(), 9u);
    // BKPFIND2 lists neither the prefix row nor directory 3 (kind "5" has no name).
    BKPFIND2& w2 = h.context.window<BKPFIND2>();
    w2.open();
    EXPECT_EQ(Rows(Grid(w2, "DataGrid2"), {0, 1, 2, 3, 4}),
              (Strings{"1|/data/a|/dest/a|通常|メモ", "2|/data/b|/dest/b|初期一括BKP|", "4|/data/new|/dest/new|通常|未実行"}));
    // By directory, name and level: the level decides before the folder.
    EXPECT_EQ(Versions(w2), (Strings{"0|1|0|/data/a/|a.txt|8", "0|1|0|/data/a/|b.txt|0", "1|1|1|/data/a/sub/|b.txt|7",
                                     "1|1|2|/data/a/|b.txt|0", "0|1|0|/data/a/sub/|e.txt|0", "0|2|0|/data/b/|c.txt|2",
                                     "1|2|1|/data/b/|c.txt|9", "2|2|1|/data/b/|d.txt|10", "3|3|1|/data/x/|x.txt|0"}));
    ExpectLocked(w2);
    ClickRow(Grid(w2, "DataGrid2"), 1);
    EXPECT_EQ(Versions(w2), (Strings{"0|2|0|/data/b/|c.txt|2", "1|2|1|/data/b/|c.txt|9", "2|2|1|/data/b/|d.txt|10"}));
    test::GuiHarness::screenshot(w2, "BKPFIND2");
    // With 3000 more versions of run 3, far more than one page, Ctrl+End reaches the last row.
    h.state.db().exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
        "INSERT INTO FILEKANRI (BKPNO, DIRNO, LVL, DIR, FILENM, KBN1, CHK1) "
        "SELECT 3, 3, 1, '/data/x/', printf('f%05d.txt', i), '0', '1' FROM n");
    w.open();
    QTableView* versions = Grid(w, "DataGrid1");
    EXPECT_EQ(versions->model()->rowCount(), 3009);
    versions->setFocus();
    QTest::keyClick(versions, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(versions->currentIndex().row(), 3008);
    EXPECT_EQ(versions->currentIndex().siblingAtColumn(4).data().toString().toStdString(), "x.txt");
    EXPECT_TRUE(versions->visualRect(versions->currentIndex()).intersects(versions->viewport()->rect()));
    // With no runs at all, a click shows nothing and says nothing.
    h.ui.messages.clear();
    h.state.db().exec("DELETE FROM FILEKANRI; DELETE FROM BKPNAME");
    QTest::mouseClick(runs->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_TRUE(Versions(w).empty());
    EXPECT_TRUE(h.ui.messages.empty());
}

TEST(BKPFIND3, ShowsLatestVersionsAndErrorsOnlyFromTheNextClick) {
    InquiryHarness h;
    BKPFIND3& w = h.context.window<BKPFIND3>();
    w.open();
    auto* kbnnm = w.findChild<QListWidget*>("KBNNM");
    ASSERT_EQ(kbnnm->count(), 2);
    // Before a click: every version whose CHK1 is not "0", CHK1 "2" included.
    EXPECT_EQ(Rows(Grid(w, "DataGrid1"), {2, 3, 4, 10, 11}),
              (Strings{"0|/data/a/|a.txt|8|1", "1|/data/a/sub/|b.txt|7|1", "2|/data/a/|b.txt|0|1", "0|/data/a/sub/|e.txt|0|2",
                       "1|/data/b/|c.txt|9|1", "1|/data/b/|d.txt|10|1", "1|/data/x/|x.txt|0|1"}));
    ExpectLocked(w);
    // All latest versions of directory 1: the CHK1 "2" row is gone now.
    ClickRow(Grid(w, "DataGrid2"), 0);
    EXPECT_EQ(Versions(w), (Strings{"0|1|0|/data/a/|a.txt|8", "1|1|1|/data/a/sub/|b.txt|7", "1|1|2|/data/a/|b.txt|0"}));

    // Choosing "エラーのみ" changes nothing until the next click.
    auto choose = [&](int row) {
        QTest::mouseClick(kbnnm->viewport(), Qt::LeftButton, {}, kbnnm->visualItemRect(kbnnm->item(row)).center());
    };
    choose(1);
    EXPECT_EQ(Versions(w).size(), 3u);
    ClickRow(Grid(w, "DataGrid2"), 0);
    EXPECT_EQ(Versions(w), (Strings{"0|1|0|/data/a/|a.txt|8"}));
    // "10" is below "8" as text: only the "9" of directory 2 counts.
    ClickRow(Grid(w, "DataGrid2"), 1);
    EXPECT_EQ(Versions(w), (Strings{"1|2|1|/data/b/|c.txt|9"}));
    test::GuiHarness::screenshot(w, "BKPFIND3");
    // An accessibility action chooses as the mouse does.
    kbnnm->item(0)->setSelected(true);
    EXPECT_EQ(w.filterMode(), "1");
    kbnnm->clearSelection();
    EXPECT_EQ(kbnnm->selectedItems().size(), 1) << "one mode is always shown chosen";
    EXPECT_EQ(w.filterMode(), "1");
}

TEST(InquiryWindows, VersionCodeEditsAreCheckedSavedToTheirOwnRowAndNeedTheCopyForCodesClaimingOne) {
    InquiryHarness h;
    BKPFIND1& w = h.context.window<BKPFIND1>();
    w.open();
    QTableView* versions = Grid(w, "DataGrid1");
    auto shown = [&](int row) { return versions->model()->data(versions->model()->index(row, 10)).toString().toStdString(); };
    // Row 4 is b.txt of /data/a/sub/ at level 1; row 5 the same name elsewhere.
    EditCell(versions, 4, 10, "8");
    EXPECT_TRUE(h.ui.messages.empty());
    EXPECT_EQ(h.kbn1Of("/data/a/sub/", "b.txt", 1), "8");
    EXPECT_EQ(shown(4), "8");
    // Anything but the five codes is refused with a message naming them.
    EditCell(versions, 5, 10, "08");
    EXPECT_EQ(h.ui.messages, Strings{"KBN に入力できるのは 0, 2, 7, 8, 9 のいずれかです。\n"
                                     "（8 を入れると、そのファイルは次回からバックアップされません）"});
    EXPECT_EQ(h.kbn1Of("/data/a/", "b.txt", 2), "0");
    EXPECT_EQ(shown(5), "0");
    // A version whose copy is not in its destination cannot be made to
    // claim one, not even in two steps.
    h.ui.messages.clear();
    EditCell(versions, 6, 10, "8");  // c.txt level 1, "9"
    EditCell(versions, 6, 10, "7");
    EXPECT_EQ(h.ui.messages, (Strings{NoCopy("7")}));
    EXPECT_EQ(shown(6), "8");
    EXPECT_EQ(test::Column(h.state.db(), "SELECT count(*) || ' ' || sum(KBN1 = '8') FROM FILEKANRI"), Strings{"9 3"});  // nothing else was written

    Connection& db = h.state.db();
    // Directory 2 stores into a real destination: level 1's archive holds
    // c.txt of /data/b/; a plain d.txt lies beside it, a copy of another
    // file of that name (other time and size).
    const std::string dest = h.folder / "dest-b";
    std::filesystem::create_directories(dest + "/V00001");
    test::WriteFile(h.folder / "c.txt", "c");
    std::string report;
    WriteRoot destRoot(dest);
    ASSERT_EQ(archive::AddFiles(destRoot, "V00001/bkpcmp.lzh", {{h.folder / "c.txt", "data/b/c.txt"}}, &report), 0);
    test::WriteFile(dest + "/V00001/d.txt", "another d.txt");
    db.prepare("UPDATE BKPDIR SET BKPDIR = ?1 WHERE DIRNO = 2").bind(1, dest).run();
    struct Step {
        const char *name, *entered;
        bool refused;
        const char* stored;
    };
    const Step steps[] = {{"c.txt", "0", false, "0"},  // refused above; now the archive holds its copy
                          {"c.txt", "7", false, "7"}, {"c.txt", "8", false, "8"},
                          {"d.txt", "7", true, "10"},  // the plain d.txt is not this version's
                          {"d.txt", "2", false, "2"},
                          {"x.txt", "9", false, "9"},  // destination /dest/x holds nothing
                          {"x.txt", "8", false, "8"}, {"x.txt", "0", true, "8"}, {"x.txt", " 8", true, "8"},
                          {"x.txt", "5", true, "8"},  {"x.txt", "", true, "8"}};
    for (const Step& c : steps) {
        SCOPED_TRACE(std::string(c.name) + " -> " + c.entered);
        Statement row = db.prepare("SELECT rowid FROM FILEKANRI WHERE FILENM = ?1 AND LVL = 1");
        ASSERT_TRUE(row.bind(1, c.name).step());
        EXPECT_EQ(ChangeVersionCode(db, row.int64(0), c.entered).has_value(), c.refused);
        EXPECT_EQ(h.kbn1Of(c.name[0] == 'x' ? "/data/x/" : "/data/b/", c.name, 1), c.stored);
    }
    EXPECT_TRUE(ChangeVersionCode(db, 999999, "8"));  // the row is gone

    // While a backup or restore holds the data folder, an edit is refused at once.
    EngineLock other(h.state.dataFolder);
    ASSERT_TRUE(other.tryLock());
    h.ui.messages.clear();
    EditCell(versions, 4, 10, "0");
    EXPECT_EQ(h.ui.messages, Strings{kChangeWhileEngineRuns + "\n" + h.state.dataFolder});
    EXPECT_EQ(h.kbn1Of("/data/a/sub/", "b.txt", 1), "8");
}

// A real backup; the context menu (common to the inquiry windows) restores
// the selected versions into a chosen folder.
TEST(InquiryWindows, TheContextMenuRestoresTheSelectedVersionsIntoAFolder) {
    InquiryHarness h(false);
    std::string src = h.folder / "src", dest = h.folder / "dest";
    for (const std::string& d : {src, dest}) std::filesystem::create_directories(d);
    test::WriteFile(src + "/a.txt", "a1");
    test::WriteFile(src + "/b.txt", "b1");
    test::SetMtime(src + "/a.txt", 1700000000);
    h.state.db().prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, ABKP, CHK1, CHK2) VALUES (1, ?1, ?2, '1', '1', '1', '01')")
        .bind(1, src).bind(2, dest).run();
    h.state.db().exec("INSERT INTO BKPNAME VALUES (1, 'first', '1', '2024-01-01', '09:00:00')");
    BackupDirectory(h.state, BackupOptions{false, "1"}, {src, "9", "1", dest, 1, 1, "01"});
    test::WriteFile(src + "/a.txt", "changed");

    test::TempDir target;
    h.context.chooseFolder = [&](QWidget*) { return QString::fromStdString(target.path()); };
    BKPFIND2& w = h.context.window<BKPFIND2>();
    w.open();
    ClickRow(Grid(w, "DataGrid2"), 0);
    QTableView* versions = Grid(w, "DataGrid1");
    ASSERT_EQ(versions->model()->rowCount(), 2);
    versions->selectAll();
    QTimer::singleShot(0, [&w] {
        auto* menu = w.findChild<QMenu*>("versionsMenu");
        ASSERT_TRUE(menu);
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

    // Two versions of a.txt and b.txt's one, again into the same folder:
    // the versions of a.txt land side by side under tagged names; b.txt is
    // there already, and is replaced only on Yes.
    h.state.db().exec("INSERT INTO BKPNAME VALUES (2, 'second', '1', '2024-01-02', '09:00:00')");
    BackupDirectory(h.state, BackupOptions{false, "1"}, {src, "9", "1", dest, 2, 1, "01"});
    test::WriteFile(target.path() + src + "/b.txt", "mine");
    w.open();
    ClickRow(Grid(w, "DataGrid2"), 0);
    ASSERT_EQ(versions->model()->rowCount(), 3);
    versions->selectAll();
    const std::string tagged = target.path() + src + "/a.V00001.txt", tagged2 = target.path() + src + "/a.V00002.txt";
    auto question = [](int files) {
        return "復元先にすでにあるファイルが " + std::to_string(files) +
               " 件あります。上書きしますか？\n「いいえ」ではそれらをそのままにして、ほかのファイルだけを復元します。";
    };
    h.ui.messages.clear();
    h.ui.answers = {false};
    w.restoreSelectedVersions();
    EXPECT_EQ(h.ui.questions, Strings{question(1)});
    EXPECT_EQ(test::ReadFile(tagged) + "|" + test::ReadFile(tagged2) + "|" + test::ReadFile(target.path() + src + "/b.txt"),
              "a1|changed|mine");
    EXPECT_EQ(h.ui.messages, (Strings{"選択した版を " + target.path() + " へ復元しました。\n復元 2 件、スキップ 1 件、失敗 0 件\n"
                                      "すでにあるためそのままにしたファイル 1 件\n"
                                      "同じファイルの複数の版は、名前に版のフォルダー名を付けて並べました（例: a.V00001.txt）"}));
    h.ui.answers = {true};
    w.restoreSelectedVersions();
    EXPECT_EQ(h.ui.questions, (Strings{question(1), question(3)}));
    EXPECT_EQ(test::ReadFile(target.path() + src + "/b.txt"), "b1");
    EXPECT_EQ(h.ui.messages.back().substr(0, h.ui.messages.back().find('\n', h.ui.messages.back().find('\n') + 1)),
              "選択した版を " + target.path() + " へ復元しました。\n復元 3 件、スキップ 0 件、失敗 0 件");
    EXPECT_EQ(VersionTaggedName(".profile", 3) + " " + VersionTaggedName("Makefile", 12) + " " + VersionTaggedName("a.tar.gz", 1),
              ".profile.V00003 Makefile.V00012 a.tar.V00001.gz");
}

}  // namespace
}  // namespace tessel
