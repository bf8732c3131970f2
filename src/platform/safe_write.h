#pragma once
// Every change the program makes below a root folder goes through here: a
// destination and its version folders, a restore target, a registered
// directory during an in-place restore, the folder an archive is extracted
// to. A path below a root is resolved by the kernel without following any
// link (openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS |
// RESOLVE_NO_MAGICLINKS; where the kernel lacks openat2, one O_NOFOLLOW open
// per component), so a link planted anywhere on the way is refused (ELOOP)
// and nothing is written through it. Paths below a root must be plain
// relative paths (IsSafeRelativePath); anything else is refused (EINVAL)
// before anything is touched.
//
// New file contents go to a temporary file in the target's folder, which
// takes the target's name only when it is complete: an unnamed O_TMPFILE
// where the file system has it (a killed run leaves nothing behind), else a
// file made with O_EXCL under the name ".tessel-tmp-<pid>-<8 of [0-9a-z]>".
// Leftovers of that second kind are removed only in folders the program
// owns (a destination and its version folders), never in a user's folder,
// and never because of the shape of a name alone.
#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessel {

// The prefix of every named temporary file the program makes.
inline constexpr std::string_view kTempPrefix = ".tessel-tmp-";

// Whether a leaf name has exactly the form of the program's named temporary
// files: the prefix, a process id, "-" and eight characters of [0-9a-z].
bool IsTempFileName(std::string_view name);

// Whose the folders below a root are. Only in the program's own folders are
// the leftovers of a killed run removed.
enum class Ownership { kUser, kProgram };

// Whether the root's own path may hold symbolic links. A folder the user
// named on the command line or registered may; a destination lives on a
// drive others can write to, and its path is resolved from "/" without
// following any link (registrations store it so).
enum class RootLinks { kFollow, kRefuse };

struct RootOptions {
    Ownership ownership = Ownership::kUser;
    RootLinks rootLinks = RootLinks::kFollow;
};

// What a written file gets besides its bytes.
struct FileStamp {
    std::optional<mode_t> mode;             // permission bits
    std::optional<struct timespec> mtime;   // last-write time (the access time gets it too)
};

// A root folder and the folders below it, opened without following links.
class WriteRoot {
public:
    // The root is reached by its path as given (its parents may be links),
    // or without any link (RootLinks::kRefuse); it is made on first use
    // when a call asks for missing folders to be made (with missing
    // parents, or under RootLinks::kRefuse only its last component).
    explicit WriteRoot(std::string root, RootOptions options = {});
    ~WriteRoot();
    WriteRoot(const WriteRoot&) = delete;
    WriteRoot& operator=(const WriteRoot&) = delete;

    const std::string& path() const { return root_; }
    // root + "/" + rel, for messages.
    std::string pathOf(std::string_view rel) const;

    // Opens the folder `rel` below the root ("" for the root itself),
    // making missing folders (the root too) when create is set. On success
    // *fd is valid until the next openFolder call or the root's end.
    // Returns 0, ELOOP when a link is on the way, ENOTDIR when a component
    // is no folder, EINVAL for a path that is not plain, else the errno of
    // the failure (ENOENT for a missing folder without create).
    int openFolder(std::string_view rel, int* fd, bool create = true);

    // Writes the file `rel`: fill(fd) writes its bytes into the temporary
    // file and returns 0 or an errno value; the file then gets the stamp
    // and takes the name, replacing whatever non-folder entry (a link too)
    // is there, or, without replace, failing with EEXIST when one is.
    int writeFile(std::string_view rel, const std::function<int(int fd)>& fill, const FileStamp& stamp,
                  bool replace = true);

    // Opens (with O_CREAT in flags: makes) the regular file `rel` itself,
    // never through a link, for a file that is changed in place (an archive
    // appended to). Returns 0 and *fd (the caller closes it), or the errno.
    int openFile(std::string_view rel, int flags, mode_t mode, int* fd);

    // Reads the regular file `rel` (never through a link), at most limit
    // bytes. Returns 0 or the errno (ENOENT when there is none).
    int readFile(std::string_view rel, std::string* out, std::size_t limit);

    // Removes the entry `rel` unless it is a folder (EISDIR then); ENOENT
    // when there is none.
    int removeFile(std::string_view rel);

    // Removes the folder `rel` when it is empty (ENOTEMPTY when it is not,
    // ENOTDIR when it is no folder; a link is never followed).
    int removeFolder(std::string_view rel);

    // The entry `rel` itself (a link is not followed).
    int statEntry(std::string_view rel, struct stat* st);

    // Sets the last-write (and access) time of the regular file `rel`;
    // anything else is left alone.
    int setTimes(std::string_view rel, const struct timespec& t);

    // Flushes to the disk every file system a folder opened below the root
    // lies on (a folder may be a mount point of its own), and returns 0 or
    // the first error that write-back reported (once, at the end of a run).
    // 0 when nothing below the root was opened.
    int sync();

private:
    int openRoot(bool create);
    int openParent(std::string_view rel, int* dirFd, std::string* leaf, bool create);
    void sweepOnce(int fd);

    std::string root_;
    RootOptions options_;
    int rootFd_ = -1;
    std::string cachedRel_;
    int cachedFd_ = -1;
    std::set<std::pair<dev_t, ino_t>> swept_;
    // One open folder of each other file system met below the root, opened
    // before anything was written there, so that sync() sees its errors.
    std::vector<std::pair<dev_t, int>> otherDevices_;
    dev_t rootDevice_ = 0;
    void noteDevice(int fd);
};

// A new file in an open folder that takes its name on commit() and is gone
// on every other path (discard, destruction).
class TempFile {
public:
    TempFile() = default;
    ~TempFile() { discard(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Makes the file in the open folder; 0 or an errno value.
    int create(int dirFd);
    int fd() const { return fd_; }
    // The temporary name; empty while the file has none (O_TMPFILE).
    const std::string& name() const { return name_; }

    // Applies the stamp, closes the file and gives it the name `target` in
    // its folder (a plain leaf name), replacing whatever non-folder entry
    // (a link too) has that name; without replace an existing entry gives
    // EEXIST. 0 or an errno value (a failed close too); on failure the
    // temporary file is gone.
    int commit(const std::string& target, const FileStamp& stamp, bool replace = true);

    void discard();

private:
    int giveName(std::string* name);

    int dirFd_ = -1;
    int fd_ = -1;
    bool unnamed_ = false;
    std::string name_;
};

// Flushes the file system that holds path; 0 or the error write-back
// reported.
int SyncFileSystemOf(const std::string& path);

// Tests only: resolve with the component-by-component walk, as on a kernel
// without openat2 (true), or with openat2 where the kernel has it (false).
void ResolveByWalkForTests(bool walk);

}  // namespace tessel
