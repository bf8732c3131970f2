#pragma once
// Whole-archive operations on top of the LZH format library: adding files
// (appending in place, replacing through a rewritten copy) and extracting
// members safely, listing and testing them. archive_request.cpp, the
// tessel-lzh tool and the engines that read archives use them.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archiver/lzh/archive.h"
#include "archiver/member_encoder.h"
#include "archiver/unlha.h"
#include "platform/safe_write.h"

namespace tessel::archive {

struct AddOptions {
    // "-lh7-" or "-lh5-"; a file that does not shrink is stored as -lh0-.
    std::string method = "-lh7-";
    // Threads that read and compress files; 1 does everything on the
    // calling thread. The archive's bytes are the same for any number.
    unsigned jobs = 1;
    // When set: one result code per file, in order, and a file that fails
    // does not stop the files after it (it is left out of the archive).
    std::vector<std::int32_t>* outcomes = nullptr;
    // When set, asked while files are read: a file not complete when it
    // says true is left out (kUnlhaStopped), and so is every file after it.
    StopAsked stopped;
};

// Adds the files to the archive `rel` below root (reached without a link,
// made when missing); a member whose path is already stored is replaced. New
// paths are appended in place: the end mark stays in force until the new
// member is complete, so a crash leaves the earlier members readable, and
// the next add overwrites what a crash left behind. When a path is replaced,
// the archive is rewritten to a temporary file beside it (members copied as
// they are) that then takes its name, so a crash keeps the old archive.
// Returns an Unlha result code.
std::int32_t AddFiles(WriteRoot& root, const std::string& rel, const std::vector<FileToAdd>& files,
                      std::string* report, const AddOptions& options = {});

// Rewrites the archive `rel` below root in one pass without the members
// whose paths are given (the others copied as they are), through a
// temporary file that takes its name when complete; nothing is done when no
// member has such a path. Returns an Unlha result code.
std::int32_t DropMembers(WriteRoot& root, const std::string& rel, const std::vector<std::string>& paths);

// Opens an archive to read: a regular file only (a FIFO or device in its
// place is refused without being opened), following links. Returns the
// descriptor, or -1 with *code kUnlhaArchiveMissing or kUnlhaNotArchive.
int OpenArchiveForReading(const std::string& path, std::int32_t* code);

// The member index of an archive (the list of its members), cached between
// calls and read again when the archive file changes (device, inode, size
// or modification time). The index stays as it is for as long as it is
// held, whatever happens to the archive or the cache meanwhile (the next
// add to the archive then copies it once). Null with *code set when the
// archive cannot be opened or read.
//
// The cache keeps the indexes of the archives used last (a bounded number,
// the least recently used dropped first), each behind a lock of its own:
// calls on different archives do not wait for each other, and no lock is
// held while members are compressed or written.
std::shared_ptr<const lzh::ArchiveIndex> LoadIndex(const std::string& archivePath, std::int32_t* code);

// Whether an archive LoadIndex answered (index, code) for may hide members
// behind damage, or is no archive at all: nothing is added to or dropped
// from it. Missing or unreadable for now is neither.
inline bool DamagedBeyondCutOff(const std::shared_ptr<const lzh::ArchiveIndex>& index, std::int32_t code) {
    return index ? lzh::DamagedBeyondCutOff(*index) : code == kUnlhaNotArchive;
}

// Which of the member paths the archive holds already, in order (none when
// it is missing or cannot be read), looked up in the cached index.
std::vector<bool> HoldsPaths(const std::string& archivePath, const std::vector<std::string>& memberPaths);

// The file member stored under exactly memberPath; a member of that name
// in another folder is never taken. Looks the path up in the cached index,
// so extracting many single members does not read the archive again each
// time.
std::int32_t FindMember(const std::string& archivePath, const std::string& memberPath, lzh::Member* out);

// Decodes the members, in the order given (by offset, the archive is read
// front to back), checking their CRC-16 and writing nothing; checked(i,
// code) is told each one's Unlha result code. Returns kUnlhaArchiveMissing
// or kUnlhaNotArchive when the archive cannot be opened, else 0.
std::int32_t TestMembers(const std::string& archivePath, const std::vector<const lzh::Member*>& members,
                         const std::function<void(std::size_t, std::int32_t)>& checked);

// Writes one member's data to the file `rel` below root through the safe
// write: into a temporary file in the target's folder (made when missing,
// never through a link: kUnlhaRefusedPath then), renamed over the target
// only when the data and CRC are good; a link at the target is replaced,
// not followed. Restores the modification time and permission bits.
// With mtime set the file gets that time instead of the member's whole
// seconds; without replace an existing target is kept (kUnlhaTargetExists).
struct ExtractOptions {
    std::optional<struct timespec> mtime;
    bool replace = true;
};
inline constexpr std::int32_t kUnlhaTargetExists = 0x810B;
std::int32_t ExtractMemberTo(const std::string& archivePath, const lzh::Member& m, WriteRoot& root,
                             const std::string& rel, const ExtractOptions& options = {});

// Where one member goes: the file rel below the folder root.
struct Placement {
    std::string root;
    std::string rel;
};

// Extracts members; `place` gives each member's place, or nullopt to skip
// it. Unsafe member paths are refused without writing, and so is a place
// whose rel is not a plain relative path. Returns the first failure's code,
// after trying every member.
std::int32_t ExtractMembers(const std::string& archivePath,
                            const std::function<std::optional<Placement>(const lzh::Member&)>& place,
                            std::string* report);

}  // namespace tessel::archive
