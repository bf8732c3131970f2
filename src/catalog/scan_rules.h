#pragma once
// What the scan of a registration leaves out by the user's choice, kept in
// two small tables of their own: SCANPAT holds the exclusion patterns of
// each registration by its DIRNO (DIRNO 0: those of the whole data folder),
// in order; SCANOPT each registration's choices about hidden folders and
// caches. A catalog made before they existed has neither table: it reads
// as no patterns and the default choices, and the first write makes them.
#include <cstdint>
#include <string>
#include <vector>

#include "catalog/connection.h"

namespace tessel {

// The DIRNO under which the data folder's own patterns are kept.
inline constexpr std::int64_t kWholeDataFolder = 0;

struct ScanChoices {
    std::vector<std::string> patterns;
    bool hiddenFolders = false;  // enter folders whose name begins with "."
    bool cacheFolders = false;   // enter folders tagged with CACHEDIR.TAG
};

// The patterns and choices of a registration (or of the data folder: its
// patterns only); the defaults when nothing is kept.
ScanChoices ReadScanChoices(Connection& db, std::int64_t dirNo);

// Replace what is kept for dirNo; inside the caller's transaction.
void WriteScanPatterns(Connection& db, std::int64_t dirNo, const std::vector<std::string>& patterns);
void WriteScanOptions(Connection& db, std::int64_t dirNo, bool hiddenFolders, bool cacheFolders);
void DeleteScanChoices(Connection& db, std::int64_t dirNo);

// Copies every row of both tables from one catalog into another that has
// none yet (a catalog being rebuilt from table files): the patterns keep
// their bytes, whatever they are.
void CopyScanChoices(Connection& from, Connection& to);

}  // namespace tessel
