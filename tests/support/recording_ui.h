#pragma once
// A user interface for tests: records every message and status text and
// answers questions from a script.
#include <signal.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/system_services.h"
#include "core/user_interface.h"

namespace tessel::test {

class RecordingUi : public UserInterface {
public:
    void showMessage(const std::string& text) override { messages.push_back(text); }
    bool askYesNo(const std::string& text) override {
        questions.push_back(text);
        if (answers.empty()) return false;
        bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void setStatus(const std::string& window, const std::string& text) override {
        status[window] = text;
        statusHistory.push_back(text);
        if (onStatus) onStatus(text);
    }
    void setWaitCursor(bool on) override { waitCursor = on; }
    void notify(const Notification& n) override { notifications.push_back(n); }
    void setMessageCountdown(int seconds) override { countdowns.push_back(seconds); }

    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::deque<bool> answers;  // answers given in order; No when empty
    std::map<std::string, std::string> status;  // last text per window
    std::vector<std::string> statusHistory;
    std::function<void(const std::string&)> onStatus;  // run at every status text
    bool waitCursor = false;
    std::vector<Notification> notifications;
    std::vector<int> countdowns;
};

// Kills its own process at the n-th status text.
class KillingUi : public RecordingUi {
public:
    void setStatus(const std::string&, const std::string&) override {
        if (++count == killAt) raise(SIGKILL);
    }
    int count = 0;
    int killAt = -1;
};

class FakeSystem : public SystemServices {
public:
    void powerOff() override { ++powerOffCalls; }
    void systemLog(SystemLogLevel level, const std::string& text) override { systemLogged.push_back({level, text}); }
    int powerOffCalls = 0;
    struct Logged {
        SystemLogLevel level;
        std::string text;
    };
    std::vector<Logged> systemLogged;
};

}  // namespace tessel::test
