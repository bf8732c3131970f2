#pragma once
// The places that hold the program's own files: the data folder (the
// catalog), the destination prefix and every registered destination. No
// backup reads from them and no restore writes into them, whatever the
// catalog's rows say (an older catalog may hold rows of such files).
#include <sys/types.h>

#include <string>
#include <unordered_map>
#include <utility>
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

// Tells whether a folder is, or lies inside, one of the program's places,
// by device and inode (so that links and bind mounts make no difference).
// Answers are kept per folder text.
class ProgramPlaceGuard {
public:
    // root: the folder a restore writes below. When it lies strictly inside
    // the data folder (a source registered there), the data folder does not
    // count: it holds none of the data folder's own files.
    ProgramPlaceGuard(Connection& db, const std::string& root);
    bool covers(const std::string& folder);

private:
    std::vector<std::pair<dev_t, ino_t>> places_;
    std::unordered_map<std::string, bool> known_;
};

}  // namespace tessel
