#pragma once
// The one place that runs an archiver command line.
#include <cstdint>
#include <string>

#include "shell/shared_state.h"

namespace tessel {

// Runs the archiver command held in state.archiverCommand. The owner code
// chooses the window that owns the archiver's display: "1" the directory
// registration window, "2" the file restore window, anything else the
// backup run window. A non-zero result is shown as
// "UNLHA32.DLL error return rc = <HEX>" whatever the silent flag says, and
// returned unchanged.
std::int32_t RunArchiver(SharedState& state, const std::string& ownerCode);

}  // namespace tessel
