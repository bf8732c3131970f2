#include "platform/safe_write.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace tessel {
namespace {

bool StartsWith(std::string_view s, std::string_view head) { return s.substr(0, head.size()) == head; }

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Eight characters of [0-9a-z] from the kernel's random source.
std::string RandomSuffix() {
    static const char kChars[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned char bytes[8] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // Not expected; the O_EXCL create still refuses any existing entry.
        struct timespec t {};
        clock_gettime(CLOCK_MONOTONIC, &t);
        unsigned long long v = static_cast<unsigned long long>(t.tv_nsec) ^ (static_cast<unsigned long long>(getpid()) << 20);
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(v >>= 5);
    }
    std::string out;
    for (unsigned char b : bytes) out += kChars[b % 36];
    return out;
}

int MakeFolders(const std::string& path) {
    if (path.empty()) return 0;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    const auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0)
        if (int err = MakeFolders(path.substr(0, slash))) return err;
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return errno;
    return 0;
}

// Opens one folder below dirFd, never through a link; makes it when missing.
int OpenChild(int dirFd, const std::string& name, bool create, int* out) {
    if (name == "." || name == "..") return EINVAL;
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            *out = fd;
            return 0;
        }
        const int err = errno;
        if (err == ENOENT && attempt == 0 && create) {
            if (::mkdirat(dirFd, name.c_str(), 0777) != 0 && errno != EEXIST) return errno;
            continue;
        }
        if (err == ELOOP || err == ENOTDIR) {
            struct stat st {};
            if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) return ELOOP;
            return ENOTDIR;
        }
        return err;
    }
    return ENOENT;
}

}  // namespace

bool IsTempFileName(std::string_view name) {
    if (StartsWith(name, kTempPrefix)) return true;
    if (StartsWith(name, ".tessel-lzh-")) return name.size() == 18;
    if (StartsWith(name, "bkpcmp.lzh.tmp-")) return name.size() == 21;
    const auto at = name.rfind(".tessel-tmp-");
    return at != std::string_view::npos && at > 0 && AllDigits(name.substr(at + 12));
}

bool RemoveStaleTempFile(int dirFd, const char* name) {
    if (!IsTempFileName(name)) return false;
    int fd = ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    bool removed = false;
    struct stat held {}, now {};
    if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::fstatat(dirFd, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == held.st_dev &&
        now.st_ino == held.st_ino)
        removed = ::unlinkat(dirFd, name, 0) == 0;
    ::close(fd);
    return removed;
}

int RemoveStaleTempFiles(int dirFd) {
    int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    std::unique_ptr<DIR, int (*)(DIR*)> d(::fdopendir(fd), ::closedir);
    if (!d) {
        ::close(fd);
        return 0;
    }
    int count = 0;
    while (const dirent* e = ::readdir(d.get()))
        if (IsTempFileName(e->d_name) && RemoveStaleTempFile(dirFd, e->d_name)) ++count;
    return count;
}

WriteRoot::WriteRoot(std::string root, bool sweep) : root_(std::move(root)), sweep_(sweep) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

WriteRoot::~WriteRoot() {
    if (cachedFd_ >= 0) ::close(cachedFd_);
    if (rootFd_ >= 0) ::close(rootFd_);
}

int WriteRoot::openRoot(bool create) {
    if (rootFd_ >= 0) return 0;
    if (root_.empty()) return ENOENT;
    int fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && create) {
        if (int err = MakeFolders(root_)) return err;
        fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (fd < 0) return errno;
    rootFd_ = fd;
    sweepOnce(rootFd_);
    return 0;
}

void WriteRoot::sweepOnce(int fd) {
    if (!sweep_) return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !swept_.insert({st.st_dev, st.st_ino}).second) return;
    RemoveStaleTempFiles(fd);
}

int WriteRoot::openFolder(std::string_view rel, int* out, bool create) {
    if (int err = openRoot(create)) return err;
    while (!rel.empty() && rel.front() == '/') rel.remove_prefix(1);
    while (!rel.empty() && rel.back() == '/') rel.remove_suffix(1);
    if (rel.empty()) {
        *out = rootFd_;
        return 0;
    }
    if (cachedFd_ >= 0 && rel == cachedRel_) {
        *out = cachedFd_;
        return 0;
    }
    if (cachedFd_ >= 0) ::close(cachedFd_);
    cachedFd_ = -1;
    cachedRel_.clear();
    int cur = rootFd_;
    std::size_t pos = 0;
    while (pos <= rel.size()) {
        std::size_t next = rel.find('/', pos);
        if (next == std::string_view::npos) next = rel.size();
        const std::string name(rel.substr(pos, next - pos));
        pos = next + 1;
        if (name.empty()) continue;
        int child = -1;
        const int err = OpenChild(cur, name, create, &child);
        if (cur != rootFd_) ::close(cur);
        if (err) return err;
        cur = child;
        sweepOnce(cur);
    }
    cachedFd_ = cur;
    cachedRel_ = std::string(rel);
    *out = cur;
    return 0;
}

void WriteRoot::sync() {
    if (rootFd_ >= 0) ::syncfs(rootFd_);
}

int TempFile::create(int dirFd) {
    discard();
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string name = std::string(kTempPrefix) + RandomSuffix();
        int fd = ::openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return errno;
        }
        // The lock tells a sweeping run that this file is in use. A sweep
        // that got in between the create and the lock has removed the
        // name: then start again with another.
        struct stat mine {}, now {};
        if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &mine) == 0 &&
            ::fstatat(dirFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && mine.st_ino == now.st_ino &&
            mine.st_dev == now.st_dev) {
            dirFd_ = dirFd;
            fd_ = fd;
            name_ = std::move(name);
            return 0;
        }
        ::close(fd);
    }
    return EEXIST;
}

int TempFile::commit(const std::string& target, const FileStamp& stamp, bool replace) {
    if (fd_ < 0) return EBADF;
    int err = 0;
    if (stamp.mode && ::fchmod(fd_, *stamp.mode & 07777) != 0) err = errno;
    if (!err && stamp.mtime) {
        struct timespec times[2] = {*stamp.mtime, *stamp.mtime};
        if (::futimens(fd_, times) != 0) err = errno;
    }
    if (::close(fd_) != 0 && !err) err = errno;
    fd_ = -1;
    if (!err && ::renameat2(dirFd_, name_.c_str(), dirFd_, target.c_str(), replace ? 0 : RENAME_NOREPLACE) != 0)
        err = errno;
    if (err) {
        ::unlinkat(dirFd_, name_.c_str(), 0);
    }
    name_.clear();
    dirFd_ = -1;
    return err;
}

void TempFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    if (!name_.empty() && dirFd_ >= 0) ::unlinkat(dirFd_, name_.c_str(), 0);
    fd_ = -1;
    dirFd_ = -1;
    name_.clear();
}

int WriteFileBelow(WriteRoot& root, std::string_view rel, const std::function<int(int fd)>& fill,
                   const FileStamp& stamp, bool replace) {
    std::string_view folder, leaf = rel;
    if (const auto slash = rel.rfind('/'); slash != std::string_view::npos) {
        folder = rel.substr(0, slash);
        leaf = rel.substr(slash + 1);
    }
    if (leaf.empty() || leaf == "." || leaf == "..") return EINVAL;
    int dirFd = -1;
    if (int err = root.openFolder(folder, &dirFd)) return err;
    TempFile tmp;
    if (int err = tmp.create(dirFd)) return err;
    if (int err = fill(tmp.fd())) return err;  // the destructor removes the temporary file
    return tmp.commit(std::string(leaf), stamp, replace);
}

void SyncFileSystemOf(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return;
    ::syncfs(fd);
    ::close(fd);
}

}  // namespace tessel
