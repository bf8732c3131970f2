#pragma once
// The test for a running copy: an exclusive lock on a file in the user's
// runtime directory (XDG_RUNTIME_DIR, else the temporary folder), held for
// the life of the process.
#include <string>

namespace tessel {

class InstanceLock {
public:
    // lockPath empty: the default file for this user.
    explicit InstanceLock(std::string lockPath = {});
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock; false when another process holds it.
    bool acquire();
    // True when another process holds the lock (false once we hold it).
    bool anotherCopyRunning();
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

std::string DefaultInstanceLockPath();

}  // namespace tessel
