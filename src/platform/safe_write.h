#pragma once
// Writing files below a root folder without ever going through a symbolic
// link: every folder below the root is opened with O_NOFOLLOW from the one
// above it, new data goes to a temporary file made with O_EXCL under an
// unpredictable short name in the target's folder, and that file is renamed
// over the target only when it is complete. A target that is itself a link
// is replaced, never followed. Nothing is synced per file; a run calls
// sync() (or SyncFileSystemOf) once at its end.
#include <sys/types.h>

#include <ctime>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace tessel {

// Every temporary file the program makes starts with this prefix, so that
// the scan can pass them over and a later run can remove stale ones.
inline constexpr std::string_view kTempPrefix = ".tessel-tmp-";

// Whether a leaf name is one of the program's temporary files: the prefix
// above, or the forms earlier versions used ("name.tessel-tmp-PID",
// ".tessel-lzh-XXXXXX", "bkpcmp.lzh.tmp-XXXXXX").
bool IsTempFileName(std::string_view name);

// Removes the temporary file `name` in the open folder when no running
// process holds it (its owner keeps an exclusive flock while writing).
// Returns true when it was removed.
bool RemoveStaleTempFile(int dirFd, const char* name);

// Removes every stale temporary file of the open folder; returns how many.
int RemoveStaleTempFiles(int dirFd);

// What a written file gets besides its bytes.
struct FileStamp {
    std::optional<mode_t> mode;             // permission bits
    std::optional<struct timespec> mtime;   // last-write time (the access time gets it too)
};

// A root folder and the folders below it, opened without following links.
class WriteRoot {
public:
    // The root itself is trusted: it may be reached through links (the user
    // named it). It is made, with missing parents, on first use. With
    // sweep set, every folder opened below it is cleared once of stale
    // temporary files.
    explicit WriteRoot(std::string root, bool sweep = true);
    ~WriteRoot();
    WriteRoot(const WriteRoot&) = delete;
    WriteRoot& operator=(const WriteRoot&) = delete;

    const std::string& path() const { return root_; }

    // Opens the folder `rel` below the root ("/"-separated, "" for the root
    // itself), making missing folders (the root too) when create is set. On
    // success *fd is valid until the next call or the root's end. Returns
    // 0, ELOOP when a component below the root is a symbolic link, ENOTDIR
    // when one is no folder, EINVAL for a "." or ".." component, else the
    // errno of the failure (ENOENT for a missing folder without create).
    int openFolder(std::string_view rel, int* fd, bool create = true);

    // Flushes the root's file system to the disk (once, at the end of a run).
    void sync();

private:
    int openRoot(bool create);
    void sweepOnce(int fd);

    std::string root_;
    bool sweep_;
    int rootFd_ = -1;
    std::string cachedRel_;
    int cachedFd_ = -1;
    std::set<std::pair<dev_t, ino_t>> swept_;
};

// A temporary file in a folder that becomes a named file on commit() and is
// removed on every other path (discard, destruction).
class TempFile {
public:
    TempFile() = default;
    ~TempFile() { discard(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Makes the file in the open folder; 0 or an errno value.
    int create(int dirFd);
    int fd() const { return fd_; }
    const std::string& name() const { return name_; }

    // Applies the stamp, closes the file and renames it to `target` in its
    // folder, replacing whatever entry (a link too) has that name; without
    // replace an existing entry gives EEXIST. 0 or an errno value; on
    // failure the temporary file is gone.
    int commit(const std::string& target, const FileStamp& stamp, bool replace = true);

    void discard();

private:
    int dirFd_ = -1;
    int fd_ = -1;
    std::string name_;
};

// Writes the file `rel` below the root: fill(fd) writes its bytes into the
// temporary file and returns 0 or an errno value. Returns 0 or an errno
// value as openFolder and TempFile do.
int WriteFileBelow(WriteRoot& root, std::string_view rel, const std::function<int(int fd)>& fill,
                   const FileStamp& stamp, bool replace = true);

// Flushes the file system that holds path (once, at the end of a run).
void SyncFileSystemOf(const std::string& path);

}  // namespace tessel
