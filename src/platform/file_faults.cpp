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

int CheckReadableFile(const std::string& path) {
    if (int err = InjectedFileFault(path, FileAccess::kOpenForRead)) return err;
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno;
    struct stat st {};
    int err = 0;
    if (fstat(fd, &st) != 0) err = errno;
    else if (!S_ISREG(st.st_mode)) err = EINVAL;
    close(fd);
    return err;
}

}  // namespace tessel
