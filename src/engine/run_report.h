#pragma once
// Where the messages of a run go besides the screen: the run log, the
// system log, the companion's standard error. Every message an engine makes,
// shown or left out of a silent run, passes here once, with its kind.
#include <string>
#include <utility>
#include <vector>

namespace tessel {

enum class RunEntry {
    kStart,    // the run began: its number, title and kind
    kMessage,  // a message shown to the user that is not counted
    kWarning,  // counted as a warning: every entry was still stored
    kFailure,  // counted as a failure, or the detail of one: something has no copy
    kSkipped,  // an entry that a backup never stores, and why
    kSummary,  // the run's counts at its end
};

class RunReport {
public:
    virtual ~RunReport() = default;
    // One entry of the run. shown: the text also went to the screen (or
    // standard error) through the user interface.
    virtual void entry(RunEntry kind, const std::string& text, bool shown) = 0;
};

// Hands every entry to each of several reports, in order; null ones are left out.
class RunReports : public RunReport {
public:
    explicit RunReports(std::vector<RunReport*> reports) : reports_(std::move(reports)) {}
    void entry(RunEntry kind, const std::string& text, bool shown) override {
        for (RunReport* r : reports_)
            if (r) r->entry(kind, text, shown);
    }

private:
    std::vector<RunReport*> reports_;
};

}  // namespace tessel
