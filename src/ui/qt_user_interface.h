#pragma once
// The user interface of the windows: message boxes titled with the
// program's name and the status lines GODISP of the windows. Without a
// display (offscreen platform, as under cron) nobody can answer a box:
// messages go to standard error and questions take the safe answer, No.
// It is called on the GUI thread; an engine on a worker thread reaches it
// through a GuiThreadUi (ui/gui_thread_ui.h).
#include <QElapsedTimer>

#include <memory>
#include <string>

class QMessageBox;

#include "core/user_interface.h"

namespace tessel {

class AppContext;
class DesktopNotifier;

inline const char* const kProgramTitle = "Tesselバックアップ管理";

// Makes a message box wide enough that the window frame can show its whole
// title beside the frame's buttons, however short the message is.
void FitTitle(QMessageBox& box);

class QtUserInterface : public UserInterface {
public:
    QtUserInterface();
    // headless: as without a display, whatever the platform is.
    explicit QtUserInterface(bool headless);
    ~QtUserInterface() override;
    void attach(AppContext* context) { context_ = context; }

    // With a countdown set, a message box shows the seconds left and closes
    // itself when they run out; once one did, nobody is there: the run's
    // later messages go to standard error (they are in the run log too).
    void showMessage(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    void setStatus(const std::string& window, const std::string& text) override;
    void setWaitCursor(bool on) override;
    // The balloon of the status icon (ICONM) while it shows, else the
    // desktop's notification service. A click on a warning's balloon opens
    // the latest state with the errors only (AppContext::openLatestErrors).
    void notify(const Notification& notification) override;
    void setMessageCountdown(int seconds) override;

    bool headless() const { return headless_; }

private:
    void toStandardError(const std::string& text);

    AppContext* context_ = nullptr;
    bool headless_;
    QElapsedTimer sinceRepaint_;
    int countdown_ = 0;
    bool nobodyThere_ = false;
    std::unique_ptr<DesktopNotifier> notifier_;
};

}  // namespace tessel
