#pragma once
// The backup run window: starts a titled backup of every registered
// directory and lists the earlier runs. The run goes on a worker thread:
// the window shows its progress and offers 中止.
#include <QWidget>

class QLineEdit;
class QListWidget;
class QPushButton;
class QTableView;

namespace tessel {

class AppContext;
class RunPanel;
class SqlGridModel;

class BKPGO : public QWidget {
    Q_OBJECT
public:
    explicit BKPGO(AppContext& context);
    void open();
    // The run kind code of the kind list's chosen item: "1" normal, "9"
    // information only.
    const QString& runKind() const { return kind_; }
    bool running() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void run();
    void gridSet();

    AppContext& ctx_;
    QString kind_ = "1";
    QLineEdit* title_;
    QListWidget* kinds_;
    QPushButton* runButton_;
    QTableView* grid_;
    SqlGridModel* model_;
    RunPanel* panel_;
    // Closing was asked for during a run: the window closes when it ends.
    bool closeWhenDone_ = false;
};

}  // namespace tessel
