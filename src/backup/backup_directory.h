#pragma once
// The backup engine: backs up one registered directory per call.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/shared_state.h"

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

// Runs the command line in state.archiverCommand; the second argument is
// the owner code. RunArchiver in production.
using ArchiverCall = std::function<std::int32_t(SharedState& state, const std::string& ownerCode)>;

// Adds each file to the archive as ArchiverCall with "u -nd1 <archive>
// "<file>"" would, all in one call; one result per file, nothing shown.
// RunArchiverAddEach in production.
using ArchiverAddEach =
    std::function<std::vector<std::int32_t>(const std::string& archive, const std::vector<std::string>& files)>;

// The same engine with the archiver call supplied by the caller (tests, and
// callers that wrap the archiver). With addEach set, the versions that go
// into one archive are added with one call of it; without, with one
// archiver call per version.
void BackupDirectory(SharedState& state, const std::string& source, const std::string& initialFlag,
                     const std::string& runKind, const std::string& destination, int runNumber, int dirNo,
                     const std::string& subdirFlag, const ArchiverCall& archiver,
                     const ArchiverAddEach& addEach = {});

}  // namespace tessel
