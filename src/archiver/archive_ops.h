#pragma once
// Whole-archive operations on top of the LZH format library: adding files
// (appending in place, replacing through a rewritten copy) and extracting
// members safely. Unlha and the tessel-lzh tool both use them.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archiver/lzh/archive.h"
#include "archiver/member_encoder.h"

namespace tessel::archive {

struct AddOptions {
    // "-lh7-" or "-lh5-"; a file that does not shrink is stored as -lh0-.
    std::string method = "-lh7-";
    // Threads that read and compress files; 1 does everything on the
    // calling thread. The archive's bytes are the same for any number.
    unsigned jobs = 1;
};

// Adds the files; a member whose path is already stored is replaced. New
// paths are appended in place: the end mark stays in force until the new
// member is complete, so a crash leaves the earlier members readable, and
// the next add overwrites what a crash left behind. When a path is replaced,
// the archive is rewritten to a temporary file beside it (members copied as
// they are) that then takes its name, so a crash keeps the old archive.
// Returns an Unlha result code.
std::int32_t AddFiles(const std::string& archivePath, const std::vector<FileToAdd>& files, std::string* report,
                      const AddOptions& options = {});

// The member index of an archive, cached between calls and read again when
// the archive file changes (device, inode, size or modification time).
// nullopt with *code set when the archive cannot be opened or read.
std::optional<lzh::ArchiveIndex> LoadIndex(const std::string& archivePath, std::int32_t* code);

// The member to extract as <folder>/<name>: the one stored under exactly
// that path (folder relative, without the leading "/"), else the only member
// called name anywhere. Looks the name up in the cached index, so extracting
// many single members does not read the archive again each time.
std::int32_t FindMemberForFolder(const std::string& archivePath, const std::string& folder, const std::string& name,
                                 lzh::Member* out);

// Writes one member's data to target: into a temporary file in the target's
// folder (created when missing), renamed over the target only when the data
// and CRC are good; the target's own symbolic link, if any, is replaced, not
// followed. Restores the modification time and permission bits.
std::int32_t ExtractMemberTo(const std::string& archivePath, const lzh::Member& m, const std::string& target);

// Extracts members; `place` gives each member's target path, or nullopt to
// skip it. Unsafe member paths are refused without writing. Returns the
// first failure's code, after trying every member.
std::int32_t ExtractMembers(const std::string& archivePath,
                            const std::function<std::optional<std::string>(const lzh::Member&)>& place,
                            std::string* report);

// Lexical clean-up of a path: repeated "/" and "." components dropped.
// False when it holds "..".
bool CleanPath(const std::string& in, std::string* out);

}  // namespace tessel::archive
