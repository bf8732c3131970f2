#include "platform/dir_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

// Reads the directory once into the listings asked for (either may be
// null): `both` as the mask kListDirectoriesAndFiles admits, `files` as
// kListFiles does. The stamp, when asked for, is taken before the read.
int ReadListings(const std::string& directory, std::vector<DirectoryEntry>* both, std::vector<DirectoryEntry>* files,
                 DirectoryStamp* stamp) {
    std::vector<ListedEntry> entries;
    const int err = ListEntries(directory, entries, stamp);
    for (ListedEntry& e : entries) {
        const bool regular = e.kind == EntryKind::kRegular, folder = e.kind == EntryKind::kDirectory;
        if (both && e.name.front() != '.' && (regular || folder)) both->push_back({e.name, folder});
        if (files && regular) files->push_back({e.name, false});
    }
    return err;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

int ListEntries(const std::string& directory, std::vector<ListedEntry>& out, DirectoryStamp* stamp) {
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    if (stamp) {
        struct stat st {};
        if (fstat(fd, &st) != 0) {
            const int err = errno;
            close(fd);
            return err;
        }
        struct timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        *stamp = {st.st_dev, st.st_ino, st.st_mtim, st.st_ctim, now};
    }
    std::unique_ptr<DIR, int (*)(DIR*)> d(fdopendir(fd), closedir);
    if (!d) {
        const int err = errno;
        close(fd);
        return err;
    }
    int err = 0;
    for (;;) {
        errno = 0;
        const dirent* e = readdir(d.get());
        if (!e) {
            err = errno;
            break;
        }
        std::string_view name(e->d_name);
        if (name == "." || name == "..") continue;
        switch (KindOf(dirfd(d.get()), *e)) {
        case Kind::kRegular: out.push_back({std::string(name), EntryKind::kRegular}); break;
        case Kind::kDirectory: out.push_back({std::string(name), EntryKind::kDirectory}); break;
        case Kind::kLink: out.push_back({std::string(name), EntryKind::kLink}); break;
        case Kind::kSystem: out.push_back({std::string(name), EntryKind::kOther}); break;
        case Kind::kGone: break;
        }
    }
    std::sort(out.begin(), out.end(), [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
    return err;
}

bool HasCacheTag(const std::string& folder) {
    constexpr std::size_t kLength = sizeof kCacheTagSignature - 1;
    const std::string path = folder + "/CACHEDIR.TAG";
    // Never a link, and never a FIFO or device left to block the read.
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    char head[kLength];
    std::size_t got = 0;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        while (got < kLength) {
            const ssize_t n = read(fd, head + got, kLength - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
    }
    close(fd);
    return got == kLength && std::memcmp(head, kCacheTagSignature, kLength) == 0;
}

std::vector<DirectoryEntry> ListDirectory(const std::string& directory, int mask, int* error) {
    if (mask != kListDirectoriesAndFiles && mask != kListFiles)
        throw std::invalid_argument("unsupported listing mask " + std::to_string(mask));
    std::vector<DirectoryEntry> out;
    const int err = ReadListings(directory, mask == kListDirectoriesAndFiles ? &out : nullptr,
                                 mask == kListFiles ? &out : nullptr, nullptr);
    if (error) *error = err;
    return out;
}

int ListDirectoryBothWays(const std::string& directory, std::vector<DirectoryEntry>& both,
                          std::vector<DirectoryEntry>& files, DirectoryStamp& stamp) {
    return ReadListings(directory, &both, &files, &stamp);
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
