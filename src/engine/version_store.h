#pragma once
// Where versions lie in a destination, for every engine that writes, reads
// or checks them: the level folder destination/V<five digits>, its archive
// bkpcmp.lzh holding each file under its full source path, plain copies
// beside it, and the bulk archive of an initial bulk backup at the
// destination's top. No other place builds these paths.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "catalog/connection.h"

namespace tessel {

// Zero-padded to at least five digits, never cut; a minus sign in front.
std::string FiveDigits(std::int64_t value);

// "V" + the level in five digits: the name of a level folder.
std::string VersionFolderName(std::int64_t level);
// destination + "/" + VersionFolderName(level).
std::string VersionFolder(const std::string& destination, std::int64_t level);
// The level folder's archive.
std::string LevelArchive(const std::string& destination, std::int64_t level);
// A plain copy: level folder + "/" + name.
std::string PlainCopy(const std::string& destination, std::int64_t level, const std::string& name);
// The archive of an initial bulk backup, at the top of the destination.
std::string BulkArchive(const std::string& destination);
// Whether an entry at the top of a destination is named as copies are kept
// there: a level folder or the bulk archive.
bool IsVersionStoreName(std::string_view name);

// The source file of a catalog row: DIR (with or without the trailing "/")
// followed by the name.
std::string SourcePathOf(const std::string& dir, const std::string& name);
// The member path a file is archived under: its full path without the leading "/".
std::string MemberPathOf(const std::string& dir, const std::string& name);

enum class Storage { kArchive, kPlain, kMissing };

// How a new version of the file dir/name is stored. With compression on, in
// its level archive, unless its path is one that readers going by member
// names refuse (a control byte or a backslash in it): then as a plain copy.
// With compression off, as a plain copy, unless its name is that of the
// level archive or of a temporary file: then in the level archive, so that
// in a level folder those names are always the program's own. When neither
// fits, in the level archive under its path all the same
// (kArchiveByCatalog): restores find it through the catalog, and readers
// going by member names pass it over. A file of 4 GiB or more is kept as a
// plain copy too: the archive's size fields, which other LHA tools read,
// hold 32 bits.
enum class NewCopy { kArchive, kPlain, kArchiveByCatalog };
NewCopy NewCopyFor(const std::string& dir, const std::string& name, bool compress, std::uint64_t size = 0);

// One recorded version's copy.
struct VersionCopy {
    std::string destination;  // BKPDIR.BKPDIR
    std::int64_t level = 0;
    std::string dir;          // FILEKANRI.DIR (with or without the trailing "/")
    std::string name;         // FILEKANRI.FILENM

    std::string folder() const { return VersionFolder(destination, level); }
    std::string archive() const { return LevelArchive(destination, level); }
    std::string plainCopy() const { return PlainCopy(destination, level, name); }
};

// The version's own copy. The compression setting may have changed between
// runs, so the storage is found per version, never guessed from the setting.
// An archive member is found by its full stored path. A plain copy
// V<level>/<name> is this version's only when no other version of that
// level and name in the same destination lacks its archive member (plain
// copies never share a name within a level folder, so the one without a
// member is the plain one); otherwise kMissing. When neither is there,
// `compression` ("0" plain) names the copy that is missing.
Storage StorageOf(Connection& db, const VersionCopy& v, const std::string& compression);

// Where the version's copy is, when it is there: its member in the level
// archive or its own plain copy (as above). `archiveThere` tells whether
// the level archive exists (readable or not) when no member was found in it.
std::optional<Storage> FoundCopy(Connection& db, const VersionCopy& v, bool* archiveThere = nullptr);
// Whether a level-0 version's file is in the destination's bulk archive.
bool InBulkArchive(const VersionCopy& v);

}  // namespace tessel
