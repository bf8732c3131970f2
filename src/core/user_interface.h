#pragma once
// The only way engines talk to the user. The windows implement it with
// message boxes and the status lines of their windows; tests record it.
#include <string>

namespace tessel {

// A desktop notification at the end of a run nobody watched.
struct Notification {
    std::string title;
    std::string text;
    bool warning = false;  // something failed: a click shows the errors
};

class UserInterface {
public:
    virtual ~UserInterface() = default;
    // Modal message with an OK button. A line break inside the text is "\n".
    virtual void showMessage(const std::string& text) = 0;
    // Modal Yes/No question; true means Yes.
    virtual bool askYesNo(const std::string& text) = 0;
    // Writes the status line GODISP of the named window and repaints it.
    virtual void setStatus(const std::string& window, const std::string& text) = 0;
    // Hourglass cursor on (true) or back to normal (false).
    virtual void setWaitCursor(bool on) = 0;
    // Shows a notification on the desktop (the status icon's balloon, or the
    // desktop's notification service); nothing where there is none.
    virtual void notify(const Notification&) {}
    // From now on a message closes itself after `seconds` (0: it waits for
    // OK), for runs that end the program with nobody there to press OK.
    virtual void setMessageCountdown(int) {}
};

// The hourglass cursor for the life of the object, back to normal however
// the scope is left.
class WaitCursor {
public:
    explicit WaitCursor(UserInterface& ui) : ui_(ui) { ui_.setWaitCursor(true); }
    ~WaitCursor() { ui_.setWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    UserInterface& ui_;
};

}  // namespace tessel
