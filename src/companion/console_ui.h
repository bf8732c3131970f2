#pragma once
// The companion's user interface: messages go to standard error with the
// windows' texts, questions are answered by command-line flags (never a
// prompt that would hang a script), and progress on a terminal is one line
// rewritten in place, cut to the terminal's width.
#include <chrono>
#include <cstddef>
#include <string>

#include "core/user_interface.h"
#include "engine/run_report.h"

namespace tessel {

class ConsoleUi : public UserInterface {
public:
    // yes: the answer to every question; progress: show the status line;
    // quiet: leave out the messages that only report what went well.
    ConsoleUi(bool yes, bool progress, bool quiet = false) : yes_(yes), progress_(progress && !quiet), quiet_(quiet) {}

    void showMessage(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    void setStatus(const std::string& window, const std::string& text) override;
    void setWaitCursor(bool) override {}

    // A message of the companion's own that only reports what went well.
    void notice(const std::string& text);
    // Ends the progress line so that what follows starts on a fresh line.
    void endProgress();

private:
    bool yes_;
    bool progress_;
    bool quiet_;
    bool progressShown_ = false;
    std::chrono::steady_clock::time_point lastProgress_{};
};

// Prints on standard error what a run kept off the screen: the messages a
// silent run leaves out, and the entries a backup never stores. With
// --quiet only the failures.
class ConsoleReport : public RunReport {
public:
    ConsoleReport(ConsoleUi& ui, bool quiet) : ui_(ui), quiet_(quiet) {}
    void entry(RunEntry kind, const std::string& text, bool shown) override;

private:
    ConsoleUi& ui_;
    bool quiet_;
};

// The longest start of text that takes at most `columns` columns on a
// terminal (wide characters two, combining marks none); control
// characters and bytes that are not UTF-8 are shown as "?".
std::string FitToColumns(const std::string& text, std::size_t columns);

}  // namespace tessel
