#pragma once
// Which of the paths asked for in a restore to a folder select nothing: a
// path that no recorded file lies at or below is refused before anything
// is written, so that a mistyped path is not taken for an empty restore.
#include <string>
#include <vector>

#include "catalog/connection.h"

namespace tessel {

// The paths (absolute, normalised) at or below which no file of a restorable
// registered directory has a version recorded at or before run runNumber.
std::vector<std::string> PathsSelectingNothing(Connection& db, int runNumber, const std::vector<std::string>& paths);

}  // namespace tessel
