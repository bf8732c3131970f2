#pragma once
// The companion's user interface: messages go to standard error with the
// windows' texts, questions are answered by command-line flags (never a
// prompt that would hang a script), and progress on a terminal is one line
// rewritten in place.
#include <chrono>
#include <string>

#include "core/user_interface.h"

namespace tessel {

class ConsoleUi : public UserInterface {
public:
    // yes: the answer to every question; progress: show the status line.
    ConsoleUi(bool yes, bool progress) : yes_(yes), progress_(progress) {}

    void showMessage(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    void setStatus(const std::string& window, const std::string& text) override;
    void setWaitCursor(bool) override {}

    // Ends the progress line so that what follows starts on a fresh line.
    void endProgress();

private:
    bool yes_;
    bool progress_;
    bool progressShown_ = false;
    std::chrono::steady_clock::time_point lastProgress_{};
};

}  // namespace tessel
