#pragma once
// The main menu window: the hub from which every function is reached.
#include <QWidget>

namespace tessel {

class AppContext;

class MAINF : public QWidget {
    Q_OBJECT
public:
    explicit MAINF(AppContext& context);

    // Shows the window, repeating the single-instance test and filling the
    // version and user labels.
    void open();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void exitProgram();
    // Shows window W and hides this one.
    template <class W>
    void openWindow();

    AppContext& ctx_;
};

// Makes `context.openMenu` open the main menu window.
void InstallMainMenu(AppContext& context);

}  // namespace tessel
