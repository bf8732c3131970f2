#pragma once
// The settings file BKPDEF.INI: reading it into the shared state and acting
// on it at start-up (start-up backup, end or power-off, icon mode).
#include <optional>
#include <string>
#include <string_view>

#include "engine/shared_state.h"

namespace tessel {

inline const std::string kBadTimeMessage =
    " BKPDEF.INI上の時間指定が間違っています。\n YY:MM:DDの形式に修正してください! ";

// "H:MM" or "H:MM:SS" on the 24-hour clock as seconds since midnight;
// nullopt for anything else, 24:00 and beyond included.
std::optional<TimeOfDay> ParseTimeOfDay(std::string_view text);

enum class SettingsRead { Ok, BadTime, Unreadable };

// Reads the settings file of the data folder (its name in any case) into
// the shared state, line by line in file order. On BadTime the caller shows
// kBadTimeMessage and ends the program.
SettingsRead ReadSettings(SharedState& state);

// How a start-up backup went.
enum class StartupBackup {
    kStored,      // it ran and stored everything
    kSomeFailed,  // it ran; something could not be stored
    kNotRun,      // it could not run (it has said why)
    kBusy,        // another backup, restore or upgrade kept the data folder
};

// What acting on the settings needs from the program around it.
class SettingsActions {
public:
    virtual ~SettingsActions() = default;
    // Runs the automatic backup. Unless it ran, nothing may act as if it had.
    virtual StartupBackup automaticBackup() = 0;
    // Waits 3 seconds while the window system goes on.
    virtual void pauseBeforeShutDown() = 0;
    // Ends the process with the given status; does not return in the program.
    virtual void endProgram(int status) = 0;
    virtual void openIconWindow() = 0;
};

// Reads the settings and acts on them. Returns false when the program is to
// end (bad settings or a start-up backup that ends it); the actions have
// then been told so through endProgram. A start-up backup that ends the
// program ends it with kExitOk when everything was stored, kExitFailed when
// something failed and kExitBusy when another engine kept the data folder.
// One that could not run never powers the machine off; one that was not to
// end the program leaves it going on to its windows.
bool ApplySettings(SharedState& state, SettingsActions& actions);

// Asks the machine to power off (the shut-down after a start-up backup).
void ShutDownWindows(SharedState& state);

}  // namespace tessel
