#include "platform/file_ops.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace tessel {
namespace {

std::string ErrorText(int err) { return "Error:" + std::to_string(err); }

// Copies all bytes from in to out; returns 0 or an errno value.
int CopyBytes(int in, int out) {
    for (;;) {
        ssize_t n = copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n == 0) return 0;
        if (n > 0) continue;
        if (errno == EINTR) continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) break;
        return errno;
    }
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

std::string CopyFileReport(const std::string& source, const std::string& target) {
    // Non-blocking open: a FIFO put in the file's place must not hang the copy;
    // it is refused below as not a regular file.
    int in = open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (in < 0) return ErrorText(errno);
    struct stat st {};
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        int err = S_ISREG(st.st_mode) ? errno : EINVAL;
        close(in);
        return ErrorText(err);
    }
    std::string tmp = target + ".tessel-tmp-" + std::to_string(getpid());
    int out = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) {
        int err = errno;
        close(in);
        return ErrorText(err);
    }
    int err = CopyBytes(in, out);
    close(in);
    if (err == 0 && fchmod(out, st.st_mode & 07777) != 0) err = errno;
    if (err == 0) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (futimens(out, times) != 0) err = errno;
    }
    if (err == 0 && fdatasync(out) != 0) err = errno;
    if (close(out) != 0 && err == 0) err = errno;
    if (err == 0 && rename(tmp.c_str(), target.c_str()) != 0) err = errno;
    if (err != 0) {
        unlink(tmp.c_str());
        return ErrorText(err);
    }
    return kSuccess;
}

std::string DeleteFileReport(const std::string& path) {
    if (unlink(path.c_str()) != 0) return ErrorText(errno);
    return kSuccess;
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
