#pragma once
// What the scan leaves out, and why: the one decision the scan asks for
// every entry it lists, and the reasons it counts and reports.
#include <sys/stat.h>
#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "core/exclusion_patterns.h"
#include "platform/dir_listing.h"

namespace tessel {

// Why an entry has no copy: in the order the counts are shown.
enum class LeftOutReason {
    kPattern,       // an exclusion pattern of the registration or the data folder
    kCacheTag,      // a folder holding a valid CACHEDIR.TAG
    kHiddenFolder,  // a folder whose name begins with "." (unless the registration takes them)
    kLink,          // a symbolic link
    kSpecial,       // neither a regular file nor a folder: FIFO, socket, device
    kOwnFolder,     // a destination, the prefix, the data folder or another registration's source
};
inline constexpr std::size_t kLeftOutReasons = 6;

// The counts of left-out entries, one per reason.
using LeftOutCounts = std::array<std::int64_t, kLeftOutReasons>;

// The short name of a reason in the counts ("除外パターン") and its key
// in the companion's output ("skipped_pattern").
const char* LeftOutLabel(LeftOutReason reason);
const char* LeftOutKey(LeftOutReason reason);

// What the scan of one registration leaves out besides links and special
// files, which it never stores.
struct ScanRules {
    // The data folder's patterns, then the registration's.
    ExclusionPatterns patterns;
    bool hiddenFolders = false;  // enter folders whose name begins with "."
    bool cacheFolders = false;   // enter folders that hold a valid CACHEDIR.TAG
    // Device and inode of the folders never entered (see kOwnFolder).
    std::set<std::pair<dev_t, ino_t>> ownFolders{};
};

// One entry of a listed folder.
struct ScanEntry {
    std::string_view relPath;   // below the source, "/"-separated
    const std::string& path;    // the full path (a folder's; may be empty for others)
    EntryKind kind;
    const struct stat* folder;  // a folder's own entry, when it could be read
};

// The reason the entry is left out, with the pattern that decided for
// kPattern; nullopt reason when the scan takes it.
struct LeftOutVerdict {
    std::optional<LeftOutReason> reason;
    const std::string* pattern = nullptr;
};
LeftOutVerdict WhyLeftOut(const ScanRules& rules, const ScanEntry& entry);

// The run log's line for a left-out entry: the reason's text, the path.
std::string LeftOutText(const LeftOutVerdict& verdict, const std::string& path);

}  // namespace tessel
