#pragma once
// The one place that runs an archiver command line.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/shared_state.h"

namespace tessel {

// Runs the archiver command held in state.archiverCommand. The owner code
// chooses the window that owns the archiver's display: "1" the directory
// registration window, "2" the file restore window, anything else the
// backup run window. A non-zero result is shown as
// "UNLHA32.DLL error return rc = <HEX>" whatever the silent flag says, and
// returned unchanged.
std::int32_t RunArchiver(SharedState& state, const std::string& ownerCode);

// The message RunArchiver shows for a non-zero result.
std::string ArchiverErrorText(std::int32_t rc);

// Adds each file to the archive as RunArchiver with "u -nd1 <archive>
// "<file>"" would, file after file, but in one pass on worker threads.
// Returns each file's result and shows nothing: the caller shows
// ArchiverErrorText when it reports a file that failed.
std::vector<std::int32_t> RunArchiverAddEach(const std::string& archive, const std::vector<std::string>& files);

}  // namespace tessel
