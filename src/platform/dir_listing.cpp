#include "platform/dir_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <memory>
#include <stdexcept>


namespace tessel {
namespace {

enum class Kind { kRegular, kDirectory, kSystem, kLink, kGone };

Kind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return Kind::kRegular;
    if (S_ISDIR(mode)) return Kind::kDirectory;
    if (S_ISLNK(mode)) return Kind::kLink;
    return Kind::kSystem;
}

Kind KindOf(int dirFd, const dirent& e) {
    switch (e.d_type) {
        case DT_REG: return Kind::kRegular;
        case DT_DIR: return Kind::kDirectory;
        case DT_LNK: return Kind::kLink;
        case DT_UNKNOWN: break;
        default: return Kind::kSystem;
    }
    // Some file systems do not fill in d_type; ask for the entry itself.
    struct stat st {};
    if (fstatat(dirFd, e.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return Kind::kGone;
    return KindOf(st.st_mode);
}

std::string_view LeafName(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

namespace {

bool ByName(const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; }

// Reads the directory once into the listings asked for (any may be null):
// `both` as the mask kListDirectoriesAndFiles admits, `files` as kListFiles
// does, `leftOut` what a backup never stores (hidden directories only when
// `both` is asked for). The stamp, when asked for, is taken before the read.
void ReadListings(const std::string& directory, std::vector<DirectoryEntry>* both,
                  std::vector<DirectoryEntry>* files, DirectoryStamp* stamp, int& err,
                  std::vector<LeftOutEntry>* leftOut = nullptr) {
    err = 0;
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        err = errno;
        return;
    }
    if (stamp) {
        struct stat st {};
        if (fstat(fd, &st) != 0) {
            err = errno;
            close(fd);
            return;
        }
        struct timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        *stamp = {st.st_dev, st.st_ino, st.st_mtim, st.st_ctim, now};
    }
    std::unique_ptr<DIR, int (*)(DIR*)> d(fdopendir(fd), closedir);
    if (!d) {
        err = errno;
        close(fd);
        return;
    }
    for (;;) {
        errno = 0;
        const dirent* e = readdir(d.get());
        if (!e) {
            err = errno;
            break;
        }
        std::string_view name(e->d_name);
        if (name == "." || name == "..") continue;
        bool hidden = name.front() == '.';
        Kind kind = KindOf(dirfd(d.get()), *e);
        if (both && !hidden && (kind == Kind::kRegular || kind == Kind::kDirectory))
            both->push_back({std::string(name), kind == Kind::kDirectory});
        if (files && kind == Kind::kRegular) files->push_back({std::string(name), false});
        if (leftOut) {
            if (kind == Kind::kLink) leftOut->push_back({std::string(name), LeftOut::kLink});
            else if (kind == Kind::kSystem) leftOut->push_back({std::string(name), LeftOut::kOther});
            else if (both && hidden && kind == Kind::kDirectory) leftOut->push_back({std::string(name), LeftOut::kHiddenFolder});
        }
    }
    if (both) std::sort(both->begin(), both->end(), ByName);
    if (files) std::sort(files->begin(), files->end(), ByName);
    if (leftOut)
        std::sort(leftOut->begin(), leftOut->end(), [](const LeftOutEntry& a, const LeftOutEntry& b) { return a.name < b.name; });
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

std::vector<DirectoryEntry> ListDirectory(const std::string& directory, int mask, int* error,
                                          std::vector<LeftOutEntry>* leftOut) {
    if (mask != kListDirectoriesAndFiles && mask != kListFiles)
        throw std::invalid_argument("unsupported listing mask " + std::to_string(mask));
    int ignored = 0;
    std::vector<DirectoryEntry> out;
    ReadListings(directory, mask == kListDirectoriesAndFiles ? &out : nullptr, mask == kListFiles ? &out : nullptr,
                 nullptr, error ? *error : ignored, leftOut);
    return out;
}

int ListDirectoryBothWays(const std::string& directory, std::vector<DirectoryEntry>& both,
                          std::vector<DirectoryEntry>& files, DirectoryStamp& stamp,
                          std::vector<LeftOutEntry>* leftOut) {
    int err = 0;
    ReadListings(directory, &both, &files, &stamp, err, leftOut);
    return err;
}

bool UnchangedSinceListed(int dirFd, const DirectoryStamp& stamp) {
    // A change made in the same clock tick as the listing, or soon before
    // it, could leave the times as they were: such a listing is never
    // trusted.
    constexpr time_t kSettled = 2;
    if (stamp.mtime.tv_sec + kSettled >= stamp.taken.tv_sec || stamp.ctime.tv_sec + kSettled >= stamp.taken.tv_sec)
        return false;
    struct stat st {};
    if (dirFd < 0 || fstat(dirFd, &st) != 0) return false;
    return st.st_dev == stamp.dev && st.st_ino == stamp.ino && SameTime(st.st_mtim, stamp.mtime) &&
           SameTime(st.st_ctim, stamp.ctime);
}

std::uint32_t ReadAttributes(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return 0;
    std::uint32_t bits = 0;
    switch (KindOf(st.st_mode)) {
        case Kind::kDirectory: bits |= kAttrDirectory; break;
        case Kind::kSystem:
        case Kind::kLink: bits |= kAttrSystem; break;
        default: break;
    }
    std::string_view leaf = LeafName(path);
    if (!leaf.empty() && leaf.front() == '.' && leaf != "." && leaf != "..") bits |= kAttrHidden;
    if (!(st.st_mode & S_IWUSR)) bits |= kAttrReadOnly;
    return bits == 0 ? kAttrNormal : bits;
}

}  // namespace tessel
