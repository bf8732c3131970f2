#pragma once
// Waiting for another backup, restore or catalog upgrade on the data folder
// to end, with the wait shown to the user.
#include <string>

#include "platform/engine_lock.h"

namespace tessel {

// Waits up to `seconds` for the engine lock while the window system goes
// on. What it waits for shows in a small window with the time left (on a
// desktop) or as one line on standard error (without a display). True once
// the lock is taken; false when the time ran out or the user gave up.
bool WaitForEngine(EngineLock& lock, double seconds, const std::string& dataFolder);

}  // namespace tessel
