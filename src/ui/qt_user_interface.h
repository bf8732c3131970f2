#pragma once
// The user interface of the windows: message boxes titled with the
// program's name and the status lines GODISP of the windows. Without a
// display (offscreen platform, as under cron) nobody can answer a box:
// messages go to standard error and questions take the safe answer, No.
// It is called on the GUI thread; an engine on a worker thread reaches it
// through a GuiThreadUi (ui/gui_thread_ui.h).
#include <QElapsedTimer>

#include <string>

class QMessageBox;

#include "core/user_interface.h"

namespace tessel {

class AppContext;

inline const char* const kProgramTitle = "Tesselバックアップ管理";

// Makes a message box wide enough that the window frame can show its whole
// title beside the frame's buttons, however short the message is.
void FitTitle(QMessageBox& box);

class QtUserInterface : public UserInterface {
public:
    QtUserInterface();
    void attach(AppContext* context) { context_ = context; }

    void showMessage(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    void setStatus(const std::string& window, const std::string& text) override;
    void setWaitCursor(bool on) override;

    bool headless() const { return headless_; }

private:
    AppContext* context_ = nullptr;
    bool headless_;
    QElapsedTimer sinceRepaint_;
};

}  // namespace tessel
