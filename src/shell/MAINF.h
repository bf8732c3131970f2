#pragma once
// The main menu window: the hub from which every function is reached.
#include <QWidget>

namespace tessel {

class AppContext;

class MAINF : public QWidget {
    Q_OBJECT
public:
    explicit MAINF(AppContext& context);
    // F1 opens the help through this window's own key handling.
    static constexpr bool kOwnHelpKey = true;

    // Shows the window, repeating the single-instance test and filling the
    // version and user labels.
    void open();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showHelp();
    void exitProgram();
    // Shows window W and hides this one.
    template <class W>
    void openWindow();

    AppContext& ctx_;
};

// Opens the help file quillar.chm of the data folder with the desktop's
// viewer; tells the user clearly when that cannot be done.
void OpenHelpFile(AppContext& context);

}  // namespace tessel
