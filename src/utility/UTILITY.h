#pragma once
// The utility menu: leads to the version window, the retention window and
// back to the main menu.
#include <QWidget>

namespace tessel {

class AppContext;

class UTILITY : public QWidget {
    Q_OBJECT
public:
    explicit UTILITY(AppContext& context);
    void open();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showAbout();

    AppContext& ctx_;
};

}  // namespace tessel
