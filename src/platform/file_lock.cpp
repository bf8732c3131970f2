#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tessel {

FileLockResult TryLockFile(const std::string& path, int mode, int& fd) {
    int f = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
    if (f < 0) return FileLockResult::CannotOpen;
    if (flock(f, LOCK_EX | LOCK_NB) != 0) {
        close(f);
        return FileLockResult::Busy;
    }
    fd = f;
    return FileLockResult::Taken;
}

}  // namespace tessel
