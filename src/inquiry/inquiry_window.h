#pragma once
// What the three inquiry windows share: a title, "戻る", an upper grid
// (runs or directories) and a lower versions grid that always shows the
// versions of the upper grid's current row, however that row became
// current (mouse on a cell or on the row number, keyboard, program). Each
// window supplies its queries, its grid layouts and the WHERE clause of the
// narrowed versions query.
#include <QTableView>
#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/grid_layout.h"

class QLabel;
class QPushButton;
class QHBoxLayout;

namespace tessel {

class AppContext;
class RunPanel;
class SqlGridModel;

class InquiryWindow : public QWidget {
    Q_OBJECT
public:
    // Runs the opening steps anew (fresh queries) and shows the window.
    virtual void open();

    // The column of KBN1 in every versions query.
    static constexpr int kVersionCodeColumn = 10;

    // Restores the versions selected in the lower grid into a folder the
    // user chooses (each below it at its full source path; several versions
    // of one file each under its name tagged with its level, side by side)
    // and shows the summary. Files already there are replaced only when the
    // user says so. The lower grid's context menu offers it; it runs on a
    // worker thread with its progress and 中止 shown at the window's foot.
    void restoreSelectedVersions();
    bool running() const;

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
    // Shows the versions of the upper grid's current row, when the row or
    // the narrowed query differs from what the versions grid shows now.
    void showVersionsOfCurrentRow();
    // Makes the upper row of that directory number current, which shows its
    // versions; nothing when it is not listed.
    void showVersionsOfDirectory(std::int64_t dirNo);
    AppContext& context() const { return ctx_; }
    // Called once the window's controls exist; windows add their own here.
    QHBoxLayout* upperRow() const { return upperRow_; }

    void closeEvent(QCloseEvent* event) override;

private:
    void setGrid();
    void gridSet2();
    bool editVersionCode(int row, const QVariant& value);
    void versionsMenu(const QPoint& pos);

    AppContext& ctx_;
    Definition def_;
    QTableView* upper_;
    QTableView* versions_;
    SqlGridModel* upperModel_;
    SqlGridModel* versionsModel_;
    QHBoxLayout* upperRow_;
    RunPanel* panel_;
    bool closeWhenDone_ = false;
    // What the versions grid shows: the narrowed query and its key; an
    // empty query while it shows every version.
    std::string shownQuery_;
    qlonglong shownKey_ = 0;
};

}  // namespace tessel
