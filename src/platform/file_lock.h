#pragma once
// An exclusive advisory lock on a file, held as long as its descriptor is open.
#include <string>

namespace tessel {

enum class FileLockResult { Taken, Busy, CannotOpen };

// Opens (creating it with mode) and locks the file without waiting. On
// Taken, fd is the open descriptor that holds the lock.
FileLockResult TryLockFile(const std::string& path, int mode, int& fd);

}  // namespace tessel
