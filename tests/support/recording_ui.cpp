#include "support/recording_ui.h"

namespace tessel::test {

bool RecordingUi::askYesNo(const std::string& text) {
    questions.push_back(text);
    if (answers.empty()) return false;
    bool a = answers.front();
    answers.pop_front();
    return a;
}

void RecordingUi::setStatus(const std::string& window, const std::string& text) {
    status[window] = text;
    statusHistory.push_back(text);
}

}  // namespace tessel::test
