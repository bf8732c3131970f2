#pragma once
// Making a new data folder from the installed files, as the program's
// first start in it would: the installation files, then the catalog and
// the settings made from their templates.
#include <string>

#include "engine/shared_state.h"

namespace tessel {

enum class InitOutcome {
    kReady,         // the folder holds a current catalog and its settings
    kHoldsCatalog,  // refused: the folder already holds a catalog
    kFailed,        // a file could not be found or made; said through state.ui
};

// Makes folder (with its parents) when it is missing, copies the
// installation files it lacks from shareFolder and opens it as start-up
// does, which makes the catalog and the settings. A folder that already
// holds a catalog is refused untouched, and so is everything when an
// installation file is missing. Every refusal and failure is shown.
InitOutcome InitDataFolder(SharedState& state, const std::string& folder, const std::string& shareFolder);

}  // namespace tessel
