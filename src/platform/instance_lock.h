#pragma once
// The test for a running copy: an exclusive lock on a file in the user's
// runtime directory (XDG_RUNTIME_DIR, else the temporary folder), held for
// the life of the process; one per data folder.
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

// The lock file of the copy of the program that works on dataFolder, beside
// the default one: one per data folder, named by the folder's device and
// inode so that every path to the folder names the same lock. A second
// data folder (a batch job's) runs beside the desktop program.
std::string InstanceLockPathFor(const std::string& dataFolder);

}  // namespace tessel
