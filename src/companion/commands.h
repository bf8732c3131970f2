#pragma once
// The companion's commands over the engines of the program.
#include <string>
#include <vector>

#include "companion/console_ui.h"
#include "core/status.h"
#include "engine/shared_state.h"

namespace tessel {

struct CompanionOptions {
    bool json = false;
    double waitSeconds = 0;
};

// Exit statuses: 0 nothing failed, 1 something failed (said on standard
// error), 2 the command line was wrong (usage on standard error).
enum ExitStatus { kOk = 0, kFailed = 1, kUsage = 2 };

// Runs one command with its arguments on an open data folder.
int RunCommand(SharedState& state, ConsoleUi& ui, const CompanionOptions& options, const std::string& command,
               const std::vector<std::string>& args);

// Thrown for a wrong command line; what() says what is wrong.
class UsageError : public Error {
public:
    using Error::Error;
};

}  // namespace tessel
