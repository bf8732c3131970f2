#include "platform/engine_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/file_lock.h"
#include "platform/paths.h"

namespace tessel {

EngineLock::EngineLock(const std::string& dataFolder) : path_(JoinPath(dataFolder, ".tessel-engine.lock")) {}

EngineLock::~EngineLock() { unlock(); }

bool EngineLock::tryLock() {
    if (fd_ >= 0) return true;
    // A data folder where no lock file can be made is read-only; whatever
    // runs there fails on its own writes with its own message.
    return TryLockFile(path_, 0644, fd_) != FileLockResult::Busy;
}

bool EngineLock::lockWithin(double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (tryLock()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void EngineLock::unlock() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

bool EngineBusy(const std::string& dataFolder) {
    EngineLock probe(dataFolder);
    return !probe.tryLock();
}

}  // namespace tessel
