#include "platform/safe_write.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "platform/file_faults.h"
#include "platform/paths.h"

namespace tessel {
namespace {

std::atomic<bool> gWalkOnly{false};
std::atomic<bool> gNoOpenat2{false};  // the kernel said ENOSYS once

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

std::string NewTempName() { return std::string(kTempPrefix) + std::to_string(::getpid()) + "-" + RandomSuffix(); }

// The process id a temporary name holds; 0 when it is not one.
pid_t PidOfTempName(std::string_view name) {
    if (!IsTempFileName(name)) return 0;
    name.remove_prefix(kTempPrefix.size());
    long long pid = 0;
    for (char c : name.substr(0, name.find('-'))) pid = pid * 10 + (c - '0');  // at most 10 digits
    return pid > 0 && pid <= 0x3FFFFFFF ? static_cast<pid_t>(pid) : 0;
}

// Whether the process `pid` may be the maker of a file last written at
// `written`: it runs, and it started before then. A process started later
// took the id of a maker that is gone (ids are reused, after a restart
// too). The start is read in clock ticks since boot and compared with a
// second to spare for clock adjustments; when it cannot be read, the
// process counts as the maker.
bool MayBeMaker(pid_t pid, const struct timespec& written) {
    if (::kill(pid, 0) != 0 && errno != EPERM) return false;
    std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "re");
    if (!f) return true;
    char buf[1024];
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = '\0';
    // Field 22, counted from the last ")" (the name may hold anything).
    const char* p = std::strrchr(buf, ')');
    for (int field = 2; p && field < 22; ++field) p = std::strchr(p + 1, ' ');
    const long ticks = sysconf(_SC_CLK_TCK);
    if (!p || ticks <= 0) return true;
    const double startedAfterBoot = std::strtod(p + 1, nullptr) / static_cast<double>(ticks);
    struct timespec real {}, boot {};
    if (clock_gettime(CLOCK_REALTIME, &real) != 0 || clock_gettime(CLOCK_BOOTTIME, &boot) != 0) return true;
    const double bootedAt = static_cast<double>(real.tv_sec - boot.tv_sec) + (real.tv_nsec - boot.tv_nsec) / 1e9;
    return bootedAt + startedAfterBoot <= static_cast<double>(written.tv_sec) + written.tv_nsec / 1e9 + 1.0;
}

// Removes the temporary file `name` of the open folder when it is a
// leftover: a regular file whose maker is no longer running and which no
// process holds (its maker keeps an exclusive flock while writing).
bool RemoveIfStale(int dirFd, const char* name) {
    const pid_t pid = PidOfTempName(name);
    if (pid <= 0 || pid == ::getpid()) return false;
    struct stat entry {};
    if (::fstatat(dirFd, name, &entry, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(entry.st_mode)) return false;
    if (MayBeMaker(pid, entry.st_mtim)) return false;
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

void RemoveStaleTempFiles(int dirFd) {
    int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    std::unique_ptr<DIR, int (*)(DIR*)> d(::fdopendir(fd), ::closedir);
    if (!d) {
        ::close(fd);
        return;
    }
    while (const dirent* e = ::readdir(d.get()))
        if (IsTempFileName(e->d_name)) RemoveIfStale(dirFd, e->d_name);
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

// Why an open of `name` in dirFd failed with ELOOP or ENOTDIR: ELOOP when
// the entry is a link, else ENOTDIR.
int LinkOrNotFolder(int dirFd, const char* name) {
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) return ELOOP;
    return ENOTDIR;
}

// Opens `rel` below dirFd with openat2, refusing every link and every
// step out. Returns the descriptor, or -errno (-ENOSYS: no openat2).
int Openat2Below(int dirFd, const std::string& rel, int flags) {
    struct open_how how {};
    how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const long fd = ::syscall(SYS_openat2, dirFd, rel.c_str(), &how, sizeof how);
        if (fd >= 0) return static_cast<int>(fd);
        // EAGAIN: a rename elsewhere raced the lookup; it is safe to retry.
        if (errno != EAGAIN && errno != EINTR) return -errno;
    }
    return -EAGAIN;
}

bool UseOpenat2() { return !gWalkOnly.load(std::memory_order_relaxed) && !gNoOpenat2.load(std::memory_order_relaxed); }

// Opens one folder `name` (a single component) below dirFd, never through
// a link; makes it first when missing and create is set.
int OpenChildFolder(int dirFd, const std::string& name, bool create, int* out) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = -1;
        if (UseOpenat2()) {
            fd = Openat2Below(dirFd, name, O_RDONLY | O_DIRECTORY);
            if (fd == -ENOSYS) {
                gNoOpenat2 = true;
                return OpenChildFolder(dirFd, name, create, out);
            }
            if (fd < 0) errno = -fd;
        } else {
            fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd >= 0) {
            *out = fd;
            return 0;
        }
        const int err = errno;
        if (err == ENOENT && attempt == 0 && create) {
            if (::mkdirat(dirFd, name.c_str(), 0777) != 0 && errno != EEXIST) return errno;
            continue;
        }
        if (err == ELOOP || err == ENOTDIR) return LinkOrNotFolder(dirFd, name.c_str());
        return err;
    }
    return ENOENT;
}

// Opens the folder `rel` (a checked plain relative path) below rootFd.
int OpenFolderBelow(int rootFd, const std::string& rel, bool create, int* out) {
    if (UseOpenat2()) {
        const int fd = Openat2Below(rootFd, rel, O_RDONLY | O_DIRECTORY);
        if (fd >= 0) {
            *out = fd;
            return 0;
        }
        if (fd == -ENOSYS) gNoOpenat2 = true;
        // Missing folders are made one at a time below; every other
        // failure is told by the walk too, with the component that failed.
        if (fd != -ENOENT && fd != -ENOSYS && fd != -ELOOP && fd != -ENOTDIR) return -fd;
    }
    int cur = rootFd;
    std::size_t pos = 0;
    while (pos < rel.size()) {
        std::size_t next = rel.find('/', pos);
        if (next == std::string::npos) next = rel.size();
        const std::string name = rel.substr(pos, next - pos);
        pos = next + 1;
        int child = -1;
        const int err = OpenChildFolder(cur, name, create, &child);
        if (cur != rootFd) ::close(cur);
        if (err) return err;
        cur = child;
    }
    *out = cur == rootFd ? ::dup(rootFd) : cur;
    return *out < 0 ? errno : 0;
}

// A leaf name that can be created in a folder.
bool IsPlainLeaf(std::string_view leaf) { return leaf.find('/') == std::string_view::npos && IsSafeRelativePath(leaf); }

}  // namespace

bool IsTempFileName(std::string_view name) {
    if (name.substr(0, kTempPrefix.size()) != kTempPrefix) return false;
    name.remove_prefix(kTempPrefix.size());
    const auto dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 10 || name.size() != dash + 9) return false;
    for (char c : name.substr(0, dash))
        if (c < '0' || c > '9') return false;
    for (char c : name.substr(dash + 1))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return false;
    return true;
}

WriteRoot::WriteRoot(std::string root, RootOptions options) : root_(std::move(root)), options_(options) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

WriteRoot::~WriteRoot() {
    for (const auto& [dev, fd] : otherDevices_) ::close(fd);
    if (cachedFd_ >= 0) ::close(cachedFd_);
    if (rootFd_ >= 0) ::close(rootFd_);
}

std::string WriteRoot::pathOf(std::string_view rel) const { return rel.empty() ? root_ : JoinPath(root_, rel); }

namespace {

// Opens an absolute path from "/" without following any link on it; the
// last component is made when missing and create is set (its parent must
// exist).
int OpenWithoutLinks(const std::string& path, bool create, int* out) {
    if (path.empty() || path[0] != '/') return EINVAL;
    const int top = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top < 0) return errno;
    std::string rel = path.substr(1);
    while (!rel.empty() && rel.back() == '/') rel.pop_back();
    int err = 0;
    if (rel.empty()) {
        *out = top;
        return 0;
    }
    if (!IsSafeRelativePath(rel)) err = EINVAL;
    if (!err) {
        err = OpenFolderBelow(top, rel, false, out);
        if (err == ENOENT && create) {
            const auto slash = rel.rfind('/');
            int parent = top;
            err = slash == std::string::npos ? 0 : OpenFolderBelow(top, rel.substr(0, slash), false, &parent);
            if (!err) {
                err = OpenChildFolder(parent, slash == std::string::npos ? rel : rel.substr(slash + 1), true, out);
                if (parent != top) ::close(parent);
            }
        }
    }
    ::close(top);
    return err;
}

}  // namespace

int WriteRoot::openRoot(bool create) {
    if (rootFd_ >= 0) return 0;
    if (root_.empty()) return ENOENT;
    if (options_.rootLinks == RootLinks::kRefuse) {
        if (int err = OpenWithoutLinks(root_, create, &rootFd_)) {
            rootFd_ = -1;
            return err;
        }
        if (struct stat st {}; ::fstat(rootFd_, &st) == 0) rootDevice_ = st.st_dev;
        sweepOnce(rootFd_);
        return 0;
    }
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    int fd = ::open(root_.c_str(), flags);
    if (fd < 0 && errno == ENOENT && create) {
        if (int err = MakeFolders(root_)) return err;
        fd = ::open(root_.c_str(), flags);
    }
    if (fd < 0) {
        const int err = errno;
        if (err == ELOOP || err == ENOTDIR) {
            struct stat st {};
            if (::lstat(root_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return ELOOP;
        }
        return err;
    }
    rootFd_ = fd;
    if (struct stat st {}; ::fstat(fd, &st) == 0) rootDevice_ = st.st_dev;
    sweepOnce(rootFd_);
    return 0;
}

void WriteRoot::sweepOnce(int fd) {
    if (options_.ownership != Ownership::kProgram) return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !swept_.insert({st.st_dev, st.st_ino}).second) return;
    RemoveStaleTempFiles(fd);
}

void WriteRoot::noteDevice(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_dev == rootDevice_) return;
    for (const auto& [dev, kept] : otherDevices_)
        if (dev == st.st_dev) return;
    const int kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (kept >= 0) otherDevices_.emplace_back(st.st_dev, kept);
}

int WriteRoot::openFolder(std::string_view rel, int* out, bool create) {
    if (!rel.empty() && !IsSafeRelativePath(rel)) return EINVAL;
    if (int err = openRoot(create)) return err;
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
    int fd = -1;
    if (int err = OpenFolderBelow(rootFd_, std::string(rel), create, &fd)) return err;
    sweepOnce(fd);
    noteDevice(fd);
    cachedFd_ = fd;
    cachedRel_ = std::string(rel);
    *out = fd;
    return 0;
}

int WriteRoot::openParent(std::string_view rel, int* dirFd, std::string* leaf, bool create) {
    if (!IsSafeRelativePath(rel)) return EINVAL;
    std::string_view folder;
    std::string_view name = rel;
    if (const auto slash = rel.rfind('/'); slash != std::string_view::npos) {
        folder = rel.substr(0, slash);
        name = rel.substr(slash + 1);
    }
    *leaf = std::string(name);
    return openFolder(folder, dirFd, create);
}

int WriteRoot::writeFile(std::string_view rel, const std::function<int(int fd)>& fill, const FileStamp& stamp,
                         bool replace) {
    int dirFd = -1;
    std::string leaf;
    if (int err = openParent(rel, &dirFd, &leaf, true)) return err;
    TempFile tmp;
    if (int err = tmp.create(dirFd)) return err;
    if (int err = fill(tmp.fd())) return err;  // the destructor removes the temporary file
    if (int err = InjectedFileFault(pathOf(rel), FileAccess::kCommit)) return err;
    return tmp.commit(leaf, stamp, replace);
}

int WriteRoot::openFile(std::string_view rel, int flags, mode_t mode, int* fd) {
    int dirFd = -1;
    std::string leaf;
    if (int err = openParent(rel, &dirFd, &leaf, (flags & O_CREAT) != 0)) return err;
    // Only a regular file is ever opened: a device or FIFO is not even
    // touched, a link is refused.
    struct stat entry {};
    if (::fstatat(dirFd, leaf.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(entry.st_mode)) return ELOOP;
        if (S_ISDIR(entry.st_mode)) return EISDIR;
        if (!S_ISREG(entry.st_mode)) return EINVAL;
    }
    const int f = ::openat(dirFd, leaf.c_str(), flags | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, mode);
    if (f < 0) return errno == ELOOP ? ELOOP : errno;
    struct stat st {};
    if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(f);
        return err;
    }
    // Reads and writes of a regular file do not block: drop O_NONBLOCK.
    ::fcntl(f, F_SETFL, ::fcntl(f, F_GETFL) & ~O_NONBLOCK);
    *fd = f;
    return 0;
}

int WriteRoot::readFile(std::string_view rel, std::string* out, std::size_t limit) {
    int fd = -1;
    if (int err = openFile(rel, O_RDONLY, 0, &fd)) return err;
    out->assign(limit, '\0');
    std::size_t got = 0;
    int err = 0;
    while (got < limit) {
        const ssize_t n = ::read(fd, out->data() + got, limit - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) err = errno;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    out->resize(got);
    return err;
}

int WriteRoot::removeFile(std::string_view rel) {
    int dirFd = -1;
    std::string leaf;
    if (int err = openParent(rel, &dirFd, &leaf, false)) return err;
    if (::unlinkat(dirFd, leaf.c_str(), 0) != 0) return errno;
    return 0;
}

int WriteRoot::removeFolder(std::string_view rel) {
    if (rel.empty()) return EINVAL;
    // A folder held open for later calls may be the one that goes.
    if (cachedFd_ >= 0 && (cachedRel_ == rel || cachedRel_.rfind(std::string(rel) + "/", 0) == 0)) {
        ::close(cachedFd_);
        cachedFd_ = -1;
        cachedRel_.clear();
    }
    int dirFd = -1;
    std::string leaf;
    if (int err = openParent(rel, &dirFd, &leaf, false)) return err;
    struct stat st {};
    if (::fstatat(dirFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    if (::unlinkat(dirFd, leaf.c_str(), AT_REMOVEDIR) != 0) return errno == EEXIST ? ENOTEMPTY : errno;
    return 0;
}

int WriteRoot::statEntry(std::string_view rel, struct stat* st) {
    int dirFd = -1;
    std::string leaf;
    if (int err = openParent(rel, &dirFd, &leaf, false)) return err;
    return ::fstatat(dirFd, leaf.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int WriteRoot::setTimes(std::string_view rel, const struct timespec& t) {
    int dirFd = -1;
    std::string leaf;
    if (int err = openParent(rel, &dirFd, &leaf, false)) return err;
    struct stat st {};
    if (::fstatat(dirFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return 0;
    const struct timespec times[2] = {t, t};
    return ::utimensat(dirFd, leaf.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int WriteRoot::sync() {
    if (rootFd_ < 0) return 0;
    // The root was opened before anything was written below it: syncfs
    // reports every write-back error the file system saw since.
    int first = ::syncfs(rootFd_) == 0 ? 0 : errno;
    for (const auto& [dev, fd] : otherDevices_)
        if (::syncfs(fd) != 0 && first == 0) first = errno;
    if (first != 0) return first;
    return InjectedFileFault(root_, FileAccess::kSync);
}

int TempFile::create(int dirFd) {
    discard();
    // An unnamed file first: nothing is left behind whatever happens to
    // the process. Giving it a name later needs /proc.
    static const bool procMounted = ::access("/proc/self/fd", X_OK) == 0;
    if (procMounted) {
        const int fd = ::openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) {
            dirFd_ = dirFd;
            fd_ = fd;
            unnamed_ = true;
            return 0;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) return errno;
    }
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string name = NewTempName();
        int fd = ::openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return errno;
        }
        // The lock tells a sweeping run that this file is in use.
        ::flock(fd, LOCK_EX);
        dirFd_ = dirFd;
        fd_ = fd;
        unnamed_ = false;
        name_ = std::move(name);
        return 0;
    }
    return EEXIST;
}

// Links the unnamed file into its folder under a fresh temporary name.
int TempFile::giveName(std::string* name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 64; ++attempt) {
        *name = NewTempName();
        if (::linkat(AT_FDCWD, self.c_str(), dirFd_, name->c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

int TempFile::commit(const std::string& target, const FileStamp& stamp, bool replace) {
    if (fd_ < 0) return EBADF;
    if (!IsPlainLeaf(target)) {
        discard();
        return EINVAL;
    }
    int err = 0;
    if (stamp.mode && ::fchmod(fd_, *stamp.mode & 0777) != 0) err = errno;
    if (!err && stamp.mtime) {
        struct timespec times[2] = {*stamp.mtime, *stamp.mtime};
        if (::futimens(fd_, times) != 0) err = errno;
    }
    if (!err && unnamed_) {
        if (!replace) {
            // Linking fails on an existing entry: the new name never
            // replaces anything.
            const std::string self = "/proc/self/fd/" + std::to_string(fd_);
            if (::linkat(AT_FDCWD, self.c_str(), dirFd_, target.c_str(), AT_SYMLINK_FOLLOW) != 0) err = errno;
            if (!err) {
                // A failed close may have lost data: the new name goes again.
                if (::close(fd_) != 0) {
                    err = errno;
                    ::unlinkat(dirFd_, target.c_str(), 0);
                }
                fd_ = -1;
                dirFd_ = -1;
                unnamed_ = false;
                return err;
            }
        } else {
            err = giveName(&name_);
        }
    }
    if (::close(fd_) != 0 && !err) err = errno;
    fd_ = -1;
    if (!err && !name_.empty() &&
        ::renameat2(dirFd_, name_.c_str(), dirFd_, target.c_str(), replace ? 0 : RENAME_NOREPLACE) != 0)
        err = errno;
    if (err && !name_.empty()) ::unlinkat(dirFd_, name_.c_str(), 0);
    name_.clear();
    dirFd_ = -1;
    unnamed_ = false;
    return err;
}

void TempFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    if (!name_.empty() && dirFd_ >= 0) ::unlinkat(dirFd_, name_.c_str(), 0);
    fd_ = -1;
    dirFd_ = -1;
    unnamed_ = false;
    name_.clear();
}

int SyncFileSystemOf(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    const int err = ::syncfs(fd) == 0 ? 0 : errno;
    ::close(fd);
    return err;
}

void ResolveByWalkForTests(bool walk) { gWalkOnly = walk; }

}  // namespace tessel
