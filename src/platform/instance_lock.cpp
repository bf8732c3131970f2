#include "platform/instance_lock.h"

#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace tessel {

std::string DefaultInstanceLockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/tessel-backup.lock";
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/tessel-backup-" + std::to_string(getuid()) + ".lock";
}

std::string InstanceLockPathFor(const std::string& dataFolder) {
    std::string path = DefaultInstanceLockPath();
    struct stat st {};
    if (::stat(dataFolder.c_str(), &st) != 0) return path;
    char key[64];
    std::snprintf(key, sizeof key, "-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return path.insert(path.size() - std::string(".lock").size(), key);
}

InstanceLock::InstanceLock(std::string lockPath) : path_(lockPath.empty() ? DefaultInstanceLockPath() : std::move(lockPath)) {}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) close(fd_);
}

bool InstanceLock::acquire() {
    if (fd_ >= 0) return true;
    // A lock file that cannot be made at all cannot tell of another copy.
    return TryLockFile(path_, 0600, fd_) != FileLockResult::Busy;
}

bool InstanceLock::anotherCopyRunning() {
    if (fd_ >= 0) return false;
    int fd = open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    bool held = flock(fd, LOCK_SH | LOCK_NB) != 0;
    close(fd);
    return held;
}

}  // namespace tessel
