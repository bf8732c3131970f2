#pragma once
// What the three inquiry windows share: a title, "戻る", an upper grid
// (runs or directories) and a lower versions grid narrowed by a click on the
// upper grid. Each window supplies its queries, its grid layouts and the
// WHERE clause a click adds.
#include <QTableView>
#include <QWidget>

#include <string>
#include <vector>

#include "ui/grid_layout.h"

class QLabel;
class QPushButton;
class QHBoxLayout;

namespace tessel {

class AppContext;
class SqlGridModel;

// A grid that reports each mouse click after it has made the clicked row
// current (moving with the keyboard reports nothing).
class ClickGrid : public QTableView {
    Q_OBJECT
public:
    using QTableView::QTableView;
signals:
    void mouseClicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

class InquiryWindow : public QWidget {
    Q_OBJECT
public:
    // Runs the opening steps anew (fresh queries) and shows the window.
    virtual void open();

    // The column of KBN1 in every versions query.
    static constexpr int kVersionCodeColumn = 10;

    // Restores the versions selected in the lower grid into a folder the
    // user chooses (each below it at its full source path) and shows the
    // summary. The lower grid's context menu offers it.
    void restoreSelectedVersions();

protected:
    struct Definition {
        const char* windowName;
        const char* title;
        std::string upperQuery;
        std::vector<GridColumn> upperLayout;     // GRIDSET2
        std::vector<GridColumn> versionsLayout;  // SETGRID
        int upperDateColumn = -1;                // shown as yyyy/mm/dd
    };
    InquiryWindow(AppContext& context, Definition definition);

    // The versions query, unfiltered or narrowed to the key bound as ?1.
    virtual std::string versionsQuery(bool filtered) const = 0;
    // Called once the window's controls exist; windows add their own here.
    QHBoxLayout* upperRow() const { return upperRow_; }

    void closeEvent(QCloseEvent* event) override;

private:
    void setGrid();
    void gridSet2();
    void upperClicked();
    bool editVersionCode(int row, const QVariant& value);
    void versionsMenu(const QPoint& pos);

    AppContext& ctx_;
    Definition def_;
    ClickGrid* upper_;
    QTableView* versions_;
    SqlGridModel* upperModel_;
    SqlGridModel* versionsModel_;
    QHBoxLayout* upperRow_;
};

}  // namespace tessel
