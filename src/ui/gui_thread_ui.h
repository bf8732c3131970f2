#pragma once
// The user interface of an engine that runs on a worker thread: every call
// is carried out on the GUI thread by the user interface of the windows.
// Messages and questions wait there for their answer; status texts are
// posted, and a window's newer text replaces one not shown yet, so an
// engine that writes a line per file never waits for the screen.
#include <QObject>

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "core/user_interface.h"

namespace tessel {

// True on the thread of the application object (or before there is one).
bool OnGuiThread();

// Runs f on the GUI thread and returns when it has run there; at once when
// called on the GUI thread.
void RunOnGuiThread(const std::function<void()>& f);

// Made on the GUI thread; used from any thread while it lives.
class GuiThreadUi : public QObject, public UserInterface {
    Q_OBJECT
public:
    explicit GuiThreadUi(UserInterface& gui) : gui_(gui) {}

    void showMessage(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    void setStatus(const std::string& window, const std::string& text) override;
    // The busy cursor is the runner's, for the whole run (ui/engine_thread.h).
    void setWaitCursor(bool) override {}
    void notify(const Notification& notification) override;
    void setMessageCountdown(int seconds) override;

    // Shows the status texts still on their way (called on the GUI thread).
    void flush();

private:
    void showPending(const std::string& window);

    UserInterface& gui_;
    std::mutex mutex_;
    // Status texts posted and not shown yet, by window.
    std::map<std::string, std::string> pending_;
};

}  // namespace tessel
