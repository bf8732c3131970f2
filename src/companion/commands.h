#pragma once
// The companion's commands over the engines of the program.
#include <optional>
#include <string>

#include "companion/console_ui.h"
#include "core/command_line.h"
#include "engine/shared_state.h"

namespace tessel {

inline const char* const kCompanionName = "tessel-backupctl";

// The options every command takes.
struct GlobalOptions {
    std::string dataFolder;  // empty: the current directory
    bool json = false;
    bool quiet = false;
    bool yes = false;
    double waitSeconds = 0;
};

// The longest --wait: a week.
inline constexpr double kMaxWaitSeconds = 7 * 24 * 3600;

// A run or directory number given as --name N: 0 to the largest int;
// throws UsageError for anything else.
std::optional<int> OptCount(const Args& a, const char* name);

// The global options' values, checked; throws UsageError.
GlobalOptions ReadGlobalOptions(const Args& global);

// What a command runs with. For a command that needs the catalog, the data
// folder and its catalog are open in state.
struct CommandContext {
    SharedState& state;
    ConsoleUi& ui;
    const GlobalOptions& options;
};

// A command's check of its arguments, made before the data folder is
// opened (throws UsageError), and its work, which returns the exit status.
struct Command {
    bool needsCatalog = true;
    void (*check)(const Args&, const GlobalOptions&) = nullptr;
    int (*run)(CommandContext&, const Args&) = nullptr;
};

// The companion's command line: its options, commands and help texts.
const ProgramDef& CompanionProgram();
// The work of a command of CompanionProgram().
const Command& CompanionCommand(const CommandDef& def);

}  // namespace tessel
