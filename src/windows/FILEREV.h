#pragma once
// The file restore window: lists the runs that can be restored and brings
// every registered directory back to the state of the chosen one.
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/shared_state.h"
#include "restore/restore_run.h"

class QRadioButton;
class QTableView;

namespace tessel {

class AppContext;
class SqlGridModel;

class FILEREV : public QWidget {
    Q_OBJECT
public:
    explicit FILEREV(AppContext& context);
    // Starts afresh: real restore, no run chosen, lists read again.
    void open();
    // 1 once a row with a positive run number has been clicked.
    std::int16_t chosen() const { return chosen_; }
    // 1 while the test restore is chosen, else 0.
    std::int16_t restoreTest() const { return restoreTest_; }

    // The engine the window calls for each directory; tests replace it.
    RestoreEngine restoreEngine;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void gridSet2();
    void runRestore();

    AppContext& ctx_;
    std::int16_t chosen_ = 0;
    std::int16_t restoreTest_ = 0;
    QTableView* grid_;
    SqlGridModel* model_;
    QRadioButton* real_;
    QRadioButton* test_;
};

}  // namespace tessel
