#pragma once
// The places that hold the program's own files: the data folder (the
// catalog), the destination prefix and every registered destination. No
// backup reads from them and no restore writes into them, whatever the
// catalog's rows say (an older catalog may hold rows of such files).
#include <string>
#include <vector>

#include "catalog/connection.h"

namespace tessel {

struct ProgramPlace {
    std::string path;         // as stored (absolute; relative texts are left out)
    bool dataFolder = false;  // the folder of the catalog
};

// The prefix and every destination as BKPDIR holds them, then the data
// folder.
std::vector<ProgramPlace> ProgramPlaces(Connection& db);

// The same as real paths (links resolved where the place exists), each
// with a trailing "/", for lexical comparisons with real paths.
std::vector<ProgramPlace> RealProgramPlaces(Connection& db);

}  // namespace tessel
