#pragma once
// Start-up: single instance, data folder, catalog and settings files from
// their templates, the catalog connection and its schema check.
#include <string>

#include "platform/instance_lock.h"
#include "engine/shared_state.h"

namespace tessel {

inline const std::string kAlreadyRunning = "すでにTesselバックアップ管理は起動しています。";

enum class StartupOutcome {
    Ready,          // catalog open and current: apply the settings, open the first window
    NeedsUpgrade,   // catalog open but its version differs from the program's
    SecondCopy,     // another copy runs; the message has been shown
    Failed,         // a file is missing or unusable; the message has been shown
};

// Runs the start-up steps up to the schema check on the given data folder.
// Every failure is shown through state.ui with the file it concerns; on
// failure nothing has been written to the data folder.
StartupOutcome RunStartup(SharedState& state, InstanceLock& lock, const std::string& dataFolder);

// The same steps without the single-instance test, for tools that work on a
// data folder beside the running program.
StartupOutcome OpenDataFolder(SharedState& state, const std::string& dataFolder);

// The first line of JETDB.VER up to and including its first ";", or empty
// when the line holds no ";".
std::string ProviderClauseOf(const std::string& firstLine);

}  // namespace tessel
