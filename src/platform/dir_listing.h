#pragma once
// Directory listings and attribute bits in the terms the backup engine uses.
// Hidden means the name begins with "."; a system entry is anything that is
// neither a regular file nor a directory (symbolic links, FIFOs, sockets,
// devices). Symbolic links are never followed.
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace tessel {

// Listing masks.
inline constexpr int kListDirectoriesAndFiles = 16;  // directories and regular files, not hidden, not system
inline constexpr int kListFiles = 7;                 // regular files, hidden ones too; no directories, no system

// Attribute bits.
inline constexpr std::uint32_t kAttrReadOnly = 1;    // no write permission for the owner
inline constexpr std::uint32_t kAttrHidden = 2;      // name begins with "."
inline constexpr std::uint32_t kAttrSystem = 4;      // neither regular file nor directory
inline constexpr std::uint32_t kAttrDirectory = 16;
inline constexpr std::uint32_t kAttrNormal = 128;    // a regular file with none of the bits above

struct DirectoryEntry {
    std::string name;
    bool directory = false;
};

// The entries of a directory that the mask admits, sorted by name (byte
// order), without "." and "..". Every name is listed as it is, whatever
// it looks like. A directory that cannot be opened or read gives an empty
// list (or what was read before the failure), and the errno value in
// *error when error is given (0 when the listing is whole).
std::vector<DirectoryEntry> ListDirectory(const std::string& directory, int mask, int* error = nullptr);

// A directory's identity and times, and the moment they were read.
struct DirectoryStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    struct timespec mtime {}, ctime {}, taken {};
};

// What an entry is, as the listing saw it (a link is never followed).
enum class EntryKind { kRegular, kDirectory, kLink, kOther };
struct ListedEntry {
    std::string name;
    EntryKind kind = EntryKind::kOther;
};

// Every entry of a directory but "." and "..", sorted by name (byte
// order), with its kind; an entry gone before its kind could be read is
// left out. The stamp, when asked for, is taken before the read. Returns 0
// or the errno of the failure (what was read before it is kept).
int ListEntries(const std::string& directory, std::vector<ListedEntry>& out, DirectoryStamp* stamp = nullptr);

// Whether the folder holds a cache directory tag: a regular file
// CACHEDIR.TAG (not a link) that begins with kCacheTagSignature.
inline constexpr char kCacheTagSignature[] = "Signature: 8a477f597d28d172789f06886806bc55";
bool HasCacheTag(const std::string& folder);

// Both listings from one read of the directory: `both` as the mask
// kListDirectoriesAndFiles admits, `files` as kListFiles does, and the
// stamp taken before the read. Returns 0 or the errno of the failure.
int ListDirectoryBothWays(const std::string& directory, std::vector<DirectoryEntry>& both,
                          std::vector<DirectoryEntry>& files, DirectoryStamp& stamp);

// Whether a listing made with that stamp still holds for the directory open
// as dirFd (O_PATH will do; false when dirFd < 0): it is the same one, no
// entry was added, removed or renamed since (its times are those of the
// stamp), and its last change was well before the listing.
bool UnchangedSinceListed(int dirFd, const DirectoryStamp& stamp);

// The attribute bits of a path (the entry itself, never a link's target);
// 0 when the entry cannot be read.
std::uint32_t ReadAttributes(const std::string& path);

}  // namespace tessel
