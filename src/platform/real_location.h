#pragma once
// Where a path really lies: links resolved, "." and ".." taken out, and the
// device and inode of the folder itself and of every folder above it. Two
// texts can name one folder (links, bind mounts, "a/../b"); comparing real
// locations tells whether one folder is, contains or lies inside another.
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace tessel {

// A path made absolute against base (when relative), with repeated "/",
// "." and ".." taken out lexically and no trailing "/" except for "/"
// itself. Links are not resolved: this is the form paths are stored in.
std::string NormalizePath(const std::string& path, const std::string& base);

struct RealLocation {
    // The path with every link of its existing part resolved; a part that
    // does not exist yet is appended as written.
    std::string resolved;
    // Device and inode of the deepest existing folder on the path (the
    // path itself when it exists), then of each folder above it up to "/".
    std::vector<std::pair<dev_t, ino_t>> chain;
    bool exists = false;
};

// The real location of an absolute path (normalised first).
RealLocation LocateReally(const std::string& path);

// True when a is b, or lies inside b.
bool IsSameOrInside(const RealLocation& a, const RealLocation& b);

// True when a is b, contains b or lies inside b.
inline bool Overlaps(const RealLocation& a, const RealLocation& b) { return IsSameOrInside(a, b) || IsSameOrInside(b, a); }

}  // namespace tessel
