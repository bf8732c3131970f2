#pragma once
// The restore result list: the lines of the last restore report as the
// restore engine stored them in the RSTRLIST table.
#include <QWidget>

class QTableView;

namespace tessel {

class AppContext;
class SqlGridModel;

class RSTRLIST : public QWidget {
    Q_OBJECT
public:
    explicit RSTRLIST(AppContext& context);
    void open();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    AppContext& ctx_;
    QTableView* grid_;
    SqlGridModel* model_;
};

}  // namespace tessel
