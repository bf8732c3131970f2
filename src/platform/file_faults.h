#pragma once
// A seam for tests: lets a test make reading a file's directory entry,
// opening it for reading, finishing a written file or flushing a folder's
// file system fail, which a process running as root on a sound disk cannot
// otherwise be made to see. Production code never installs a hook.
#include <functional>
#include <string>

#include "platform/status.h"

namespace tessel {

enum class FileAccess {
    kReadEntry,    // reading times and size (ReadFileTimes)
    kOpenForRead,  // opening the contents (CheckReadableFile, an archive to read)
    kCommit,       // closing a written file and giving it its name (WriteRoot::writeFile)
    kSync,         // write-back of a root's file system (WriteRoot::sync)
};

// Returns an errno value to fail the access with, or 0 to let it proceed.
using FileFaultHook = std::function<int(const std::string& path, FileAccess access)>;

// Installs a hook for the life of the object and removes it afterwards.
class ScopedFileFault {
public:
    explicit ScopedFileFault(FileFaultHook hook);
    ~ScopedFileFault();
    ScopedFileFault(const ScopedFileFault&) = delete;
    ScopedFileFault& operator=(const ScopedFileFault&) = delete;

private:
    FileFaultHook previous_;
};

// The errno value the installed hook asks for; 0 when there is none.
int InjectedFileFault(const std::string& path, FileAccess access);

// Success when path is a regular file that can be opened for reading, else
// the errno value (EINVAL for anything that is not a regular file). Never
// follows a symbolic link and never blocks on a FIFO.
Status CheckReadableFile(const std::string& path);

}  // namespace tessel
