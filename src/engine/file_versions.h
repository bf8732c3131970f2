#pragma once
// A directory's recorded versions, file by file, as the restores read them.
// A file is one directory and name: its rows may record the directory with
// its final "/" (as every run writes it) or, in older catalogs, without it,
// and both are the same file. The rows come from the catalog's index
// (FILEKANRI_BYDIR), only those of the files asked for, never sorted as a
// whole.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "catalog/connection.h"

namespace tessel {

// One recorded version.
struct VersionRow {
    std::int64_t rowid = 0;
    std::int64_t bkpno = 0;
    std::int64_t lvl = 0;
    std::string dir;   // as recorded, with or without the final "/"
    std::string name;
    std::string kbn1;
    std::optional<std::int64_t> fupdate, fuptime, fsize;  // unset when the entry was unreadable
};

// Which files of a directory, and which of their versions.
struct VersionScope {
    // Only versions recorded by this run or an earlier one.
    std::optional<std::int64_t> upToRun;
    // Only the file with this absolute path, or the files below the folder
    // with it (without a final "/"); all the directory's files when unset.
    std::optional<std::string> path;
};

// Calls onFile with the versions of each file of directory dirNo in scope,
// newest level first (the last recorded first among equal levels); files
// come in the order of their directories and names. onFile returns false to
// stop the walk.
void WalkFileVersions(Connection& db, std::int64_t dirNo, const VersionScope& scope,
                      const std::function<bool(std::vector<VersionRow>& rows)>& onFile);

}  // namespace tessel
