#pragma once
// The user interface of the windows: message boxes titled with the
// program's name and the status lines GODISP of the windows. Without a
// display (offscreen platform, as under cron) nobody can answer a box:
// messages go to standard error and questions take the safe answer, No.
// Called from the GUI thread everything happens at once. Called from any
// other thread, status texts are posted to the GUI thread (the newest text
// of a window replaces one not shown yet) and messages and questions wait
// for the GUI thread to show them.
#include <QElapsedTimer>

#include <map>
#include <mutex>
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
    void showStatus(const std::string& window, const std::string& text);

    AppContext* context_ = nullptr;
    bool headless_;
    QElapsedTimer sinceRepaint_;
    // Status texts posted from other threads and not shown yet, by window.
    std::mutex pendingMutex_;
    std::map<std::string, std::string> pendingStatus_;
};

}  // namespace tessel
