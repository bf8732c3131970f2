#pragma once
// Where a recorded version's own copy lies in its destination: a member of
// its level folder's archive, stored under the file's full path, or a plain
// copy in that folder. The compression setting may have changed between
// runs, so the storage is found per version, never guessed from the setting.
#include <cstdint>
#include <string>

#include "catalog/connection.h"

namespace tessel {

enum class Storage { kArchive, kPlain, kMissing };

struct VersionCopy {
    std::string destination;  // BKPDIR.BKPDIR
    std::int64_t level = 0;
    std::string dir;          // FILEKANRI.DIR (with or without the trailing "/")
    std::string name;         // FILEKANRI.FILENM
};

// destination + "/V" + the level with at least five digits.
std::string VersionFolderOf(const VersionCopy& v);
// The plain copy's path: version folder + "/" + name.
std::string PlainCopyOf(const VersionCopy& v);
// The level archive: version folder + "/bkpcmp.lzh".
std::string LevelArchiveOf(const VersionCopy& v);
// The folder part of the member path: DIR without its leading and trailing "/".
std::string MemberFolderOf(const std::string& dir);

// The version's own copy. An archive member is found by its full stored
// path. A plain copy V<level>/<name> is this version's only when no other
// version of that level and name in the same destination lacks its archive
// member (plain copies never share a name within a level folder, so the
// one without a member is the plain one); otherwise kMissing. When neither
// is there, `compression` ("0" plain) names the copy that is missing.
Storage StorageOf(Connection& db, const VersionCopy& v, const std::string& compression);

}  // namespace tessel
