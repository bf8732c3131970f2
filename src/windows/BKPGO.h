#pragma once
// The backup run window: starts a titled backup of every registered
// directory and lists the earlier runs.
#include <QWidget>

class QLineEdit;
class QListWidget;
class QTableView;

namespace tessel {

class AppContext;
class SqlGridModel;

class BKPGO : public QWidget {
    Q_OBJECT
public:
    explicit BKPGO(AppContext& context);
    void open();
    // The run kind code of the kind list: "1" normal, "9" information only.
    const QString& runKind() const { return kind_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void run();
    void gridSet();

    AppContext& ctx_;
    QString kind_ = "1";
    QLineEdit* title_;
    QListWidget* kinds_;
    QTableView* grid_;
    SqlGridModel* model_;
};

}  // namespace tessel
