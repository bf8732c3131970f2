#pragma once
// The backup engine: backs up one registered directory per call.
#include <string>

#include "shell/shared_state.h"

namespace tessel {

// Scans the source directory (with its sub-directories when subdirFlag is
// "01"), records every new or changed file as a new version in FILEKANRI
// and stores a copy of each in its version folder of the destination.
// initialFlag "1": initial backup from the registration window; "9":
// backup run or automatic backup. runKind "1" normal, "2" initial without
// backup, "3" initial bulk backup, "9" information only.
void BackupDirectory(SharedState& state, const std::string& source, const std::string& initialFlag,
                     const std::string& runKind, const std::string& destination, int runNumber, int dirNo,
                     const std::string& subdirFlag);

}  // namespace tessel
