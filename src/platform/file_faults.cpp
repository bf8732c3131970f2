#include "platform/file_faults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tessel {
namespace {
FileFaultHook& Hook() {
    static FileFaultHook hook;
    return hook;
}
}  // namespace

ScopedFileFault::ScopedFileFault(FileFaultHook hook) : previous_(std::move(Hook())) { Hook() = std::move(hook); }

ScopedFileFault::~ScopedFileFault() { Hook() = std::move(previous_); }

int InjectedFileFault(const std::string& path, FileAccess access) {
    const FileFaultHook& hook = Hook();
    return hook ? hook(path, access) : 0;
}

Status CheckReadableFile(const std::string& path) {
    const char* const operation = "ファイルを読めません";
    if (int err = InjectedFileFault(path, FileAccess::kOpenForRead)) return Status::Failure(err, operation, path);
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return Status::Failure(errno, operation, path);
    struct stat st {};
    int err = 0;
    if (fstat(fd, &st) != 0) err = errno;
    else if (!S_ISREG(st.st_mode)) err = EINVAL;
    close(fd);
    return err ? Status::Failure(err, operation, path) : Status();
}

}  // namespace tessel
