#pragma once
// The file restore window: lists the runs that can be restored and brings
// every registered directory back to the state of the chosen one. The run
// chosen is the one highlighted in the list, and the kind of restore the
// option button shown on, however either was set. The restore goes on a
// worker thread: the window shows its progress and offers 中止.
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/shared_state.h"
#include "restore/restore_run.h"

class QPushButton;
class QRadioButton;
class QTableView;

namespace tessel {

class AppContext;
class RunPanel;
class SqlGridModel;

class FILEREV : public QWidget {
    Q_OBJECT
public:
    explicit FILEREV(AppContext& context);
    // Starts afresh: real restore, no run chosen, lists read again.
    void open();
    // 1 while a row with a positive run number is highlighted.
    std::int16_t chosen() const;
    // 1 while the test restore is shown on, else 0.
    std::int16_t restoreTest() const;
    bool running() const;

    // The engine the window calls for each directory; tests replace it. It
    // runs on the worker thread.
    RestoreEngine restoreEngine;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void gridSet2();
    void runRestore();

    AppContext& ctx_;
    QTableView* grid_;
    SqlGridModel* model_;
    QRadioButton* real_;
    QRadioButton* test_;
    QPushButton* runButton_;
    RunPanel* panel_;
    bool closeWhenDone_ = false;
};

}  // namespace tessel
