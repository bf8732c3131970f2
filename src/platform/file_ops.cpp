#include "platform/file_ops.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/paths.h"

namespace tessel {
namespace {

// Copies the bytes of [from, to) of in to the same place of out; returns
// 0, an errno value, or -1 when the kernel cannot copy between the two.
int CopyRange(int in, int out, off_t from, off_t to) {
    while (from < to) {
        loff_t src = from, dst = from;
        const ssize_t n = copy_file_range(in, &src, out, &dst, static_cast<std::size_t>(std::min<off_t>(to - from, 1 << 30)), 0);
        if (n > 0) {
            from += n;
            continue;
        }
        if (n == 0) return 0;  // the file got shorter meanwhile
        if (errno == EINTR) continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) return -1;
        return errno;
    }
    return 0;
}

// Copies all bytes from in to out, keeping holes: only the parts that hold
// data are copied, and the file is given its whole size. Returns 0 or an
// errno value.
int CopyBytes(int in, int out) {
    struct stat st {};
    if (fstat(in, &st) != 0) return errno;
    off_t at = 0;
    bool kernelCopies = true;
    while (at < st.st_size) {
        off_t data = lseek(in, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO) break;  // only a hole is left
        if (data < 0) {
            data = at;  // no hole information: everything is data
            if (errno != EINVAL && errno != EOPNOTSUPP) return errno;
        }
        off_t hole = lseek(in, data, SEEK_HOLE);
        if (hole < 0) hole = st.st_size;
        const int err = CopyRange(in, out, data, hole);
        if (err == -1) {
            kernelCopies = false;
            break;
        }
        if (err) return err;
        at = hole;
    }
    if (kernelCopies) {
        if (ftruncate(out, st.st_size) != 0) return errno;
        return 0;
    }
    if (lseek(in, 0, SEEK_SET) != 0 || lseek(out, 0, SEEK_SET) != 0) return errno;
    // Fallback for file systems without copy_file_range.
    std::vector<char> buf(1 << 20);
    for (;;) {
        ssize_t n = read(in, buf.data(), buf.size());
        if (n == 0) return 0;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(out, buf.data() + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            done += w;
        }
    }
}

}  // namespace

namespace {

// Opens the source of a copy: a regular file, never waiting on a FIFO put
// in its place. Returns the descriptor or -errno.
int OpenSource(const std::string& source, SourceLinks links, struct stat* st) {
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    if (links == SourceLinks::kRefuse) flags |= O_NOFOLLOW;
    int in = open(source.c_str(), flags);
    if (in < 0) return -errno;
    if (fstat(in, st) != 0 || !S_ISREG(st->st_mode)) {
        int err = S_ISREG(st->st_mode) ? errno : EINVAL;
        close(in);
        return -err;
    }
    return in;
}

Status CopyInto(const std::string& source, SourceLinks links, WriteRoot& root, std::string_view rel,
                const FileStamp& stamp, bool replace) {
    struct stat st {};
    int in = OpenSource(source, links, &st);
    if (in < 0) return Status::Failure(-in, "コピー元を読めません", source);
    FileStamp s = stamp;
    // Permission bits only: a copy is never set-user-ID, set-group-ID or sticky.
    if (!s.mode) s.mode = st.st_mode & 0777;
    if (!s.mtime) s.mtime = st.st_mtim;
    int err = root.writeFile(rel, [&](int out) { return CopyBytes(in, out); }, s, replace);
    close(in);
    return err ? Status::Failure(err, "コピー先に書き込めません", root.pathOf(rel)) : Status();
}

}  // namespace

Status CopyFile(const std::string& source, const std::string& target, SourceLinks links) {
    const auto slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const std::string leaf = slash == std::string::npos ? target : target.substr(slash + 1);
    // The target's folder must exist already: it is not made here.
    struct stat dst {};
    if (stat(folder.c_str(), &dst) != 0) return Status::Failure(errno, "コピー先のフォルダーがありません", folder);
    if (!S_ISDIR(dst.st_mode)) return Status::Failure(ENOTDIR, "コピー先のフォルダーがありません", folder);
    WriteRoot root(folder);
    return CopyInto(source, links, root, leaf, {}, true);
}

Status CopyFile(const std::string& source, WriteRoot& root, std::string_view rel, const FileStamp& stamp,
                bool replace) {
    return CopyInto(source, SourceLinks::kRefuse, root, rel, stamp, replace);
}

Status DeleteFile(const std::string& path) {
    if (unlink(path.c_str()) != 0) return Status::Failure(errno, "ファイルを削除できません", path);
    return {};
}

std::string GetLoginUserName() {
    std::vector<char> buf(4096);
    struct passwd pw {};
    struct passwd* result = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &result) == 0 && result) return result->pw_name;
    if (const char* u = std::getenv("USER")) return u;
    return std::to_string(geteuid());
}

}  // namespace tessel
