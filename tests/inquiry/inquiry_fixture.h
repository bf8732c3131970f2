#pragma once
// A catalog for the inquiry windows: registered directories (with the
// prefix row and a kind that has no name), runs (one of a kind without a
// name, one without versions) and file versions inserted out of order.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <string>
#include <vector>

#include "support/gui_harness.h"
#include "ui/sql_grid_model.h"

namespace tessel::test {

struct InquiryHarness : GuiHarness {
    void fillCatalog() {
        state.db().exec(
            "INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES "
            "(0, '/dest', NULL, '0', 'PREFIX', '1', NULL, NULL),"
            "(1, '/data/a', '/dest/a', '1', 'メモ', '1', '1', '01'),"
            "(2, '/data/b', '/dest/b', '3', NULL, '9', '1', '00'),"
            "(3, '/data/x', '/dest/x', '5', NULL, '1', '1', '01'),"
            "(4, '/data/new', '/dest/new', '1', '未実行', '1', '0', '01')");
        state.db().exec(
            "INSERT INTO BKPNAME (BKPNO, BKPNAME, KBN, DAY1, TIME1) VALUES "
            "(1, '週次バックアップ', '1', '2024-01-05', '10:00:00'),"
            "(2, '情報取得', '9', '2024-01-06', '11:30:00'),"
            "(3, '不明な区分', '4', '2024-01-07', '12:00:00'),"
            "(4, '空の実行', '1', '2024-01-08', '13:00:00'),"
            "(5, '区分01', '01', '2024-01-09', '14:00:00')");
        addVersion(1, 1, 2, "/data/a/", "b.txt", "0", "1");
        addVersion(0, 2, 0, "/data/b/", "c.txt", "2", "0");
        addVersion(0, 1, 0, "/data/a/", "b.txt", "0", "0");
        addVersion(1, 2, 1, "/data/b/", "c.txt", "9", "1");
        addVersion(0, 1, 0, "/data/a/sub/", "e.txt", "0", "2");
        addVersion(0, 1, 0, "/data/a/", "a.txt", "8", "1");
        addVersion(2, 2, 1, "/data/b/", "d.txt", "10", "1");
        addVersion(3, 3, 1, "/data/x/", "x.txt", "0", "1");
        addVersion(1, 1, 1, "/data/a/sub/", "b.txt", "7", "1");
    }

    void addVersion(int bkpno, int dirno, int lvl, const std::string& dir, const std::string& name,
                    const std::string& kbn1, const std::string& chk1) {
        state.db()
            .prepare("INSERT INTO FILEKANRI (BKPNO, DIRNO, LVL, DIR, FILENM, FUPDAYD, FUPTIMED, FSIZE, FVERNO, PVERNO, "
                     "KBN1, CHK1) VALUES (?1, ?2, ?3, ?4, ?5, '2024年1月5日(金)', '9時5分7秒', 1234, ' ', ' ', ?6, ?7)")
            .bind(1, bkpno).bind(2, dirno).bind(3, lvl).bind(4, dir).bind(5, name).bind(6, kbn1).bind(7, chk1)
            .run();
    }

    std::string kbn1Of(const std::string& dir, const std::string& name, int lvl) {
        Statement s = state.db().prepare("SELECT KBN1 FROM FILEKANRI WHERE DIR = ?1 AND FILENM = ?2 AND LVL = ?3");
        s.bind(1, dir).bind(2, name).bind(3, lvl);
        return s.step() ? s.text(0) : "(none)";
    }
};

inline QTableView* Grid(QWidget& w, const char* name) { return w.findChild<QTableView*>(name); }

// The shown rows of a grid, the given columns of each joined by "|".
inline std::vector<std::string> Rows(QTableView* grid, std::vector<int> columns) {
    std::vector<std::string> out;
    QAbstractItemModel* m = grid->model();
    for (int r = 0; r < m->rowCount(); ++r) {
        std::string line;
        for (size_t i = 0; i < columns.size(); ++i) {
            if (i) line += "|";
            line += m->data(m->index(r, columns[i])).toString().toStdString();
        }
        out.push_back(line);
    }
    return out;
}

// The versions grid as BKPNO|DIRNO|LVL|DIR|FILE|KBN.
inline std::vector<std::string> Versions(QWidget& w) { return Rows(Grid(w, "DataGrid1"), {0, 1, 2, 3, 4, 10}); }

inline void ClickRow(QTableView* grid, int row) {
    QRect cell = grid->visualRect(grid->model()->index(row, 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

// Types a value into a cell as a user does: the editor opens, takes the
// text and is committed with Enter.
inline void EditCell(QTableView* grid, int row, int column, const QString& text) {
    QModelIndex index = grid->model()->index(row, column);
    grid->setCurrentIndex(index);
    grid->edit(index);
    QLineEdit* editor = nullptr;
    for (QLineEdit* e : grid->viewport()->findChildren<QLineEdit*>())
        if (e->isVisible()) editor = e;
    if (!editor) return;
    editor->setText(text);
    QTest::keyClick(editor, Qt::Key_Return);
    // The delegate commits and closes the editor by a queued call.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace tessel::test
