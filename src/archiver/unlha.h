#pragma once
// The archiver entry point: runs one command line on an LZH archive.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessel {

// Result codes of Unlha (0 is success).
enum UnlhaResult : std::int32_t {
    kUnlhaOk = 0,
    kUnlhaArchiveMissing = 0x8101,   // the archive to read does not exist
    kUnlhaNotArchive = 0x8102,       // not an LZH archive, or a damaged header
    kUnlhaCrcMismatch = 0x8103,      // member data damaged (CRC-16 or coding)
    kUnlhaCannotWrite = 0x8104,      // archive or extracted file cannot be written
    kUnlhaBadCommand = 0x8105,       // command line not understood
    kUnlhaRefusedPath = 0x8106,      // member path empty or with "." / ".."
    kUnlhaCannotReadSource = 0x8107, // file to add missing, unreadable or not a regular file
    kUnlhaNoSuchMember = 0x8108,     // no member matches the name asked for
    kUnlhaAmbiguousMember = 0x8109,  // several members match and none is in the named folder
    kUnlhaUnsupportedMethod = 0x810A,// member compressed with a method we cannot read
};

// Runs commandLine (NUL-terminated, path names in their native bytes) and
// writes a short report, NUL-terminated and cut to outputSize, to output.
// The owner only names the caller; nothing is shown.
//
// Command lines understood:
//   u -nd1 <archive> "<file>"        add or replace one file, stored under its full path
//   u -d1n <archive> "<dir>/*.*"     add every regular file below dir, sub-directories included
//   u -n <archive> "<dir>/*.*"       add the regular files directly in dir
//   e -r2x1a2ncy <archive> *.*       extract every member back to "/" + its stored path
//                                    (its folder taken as it is, made when missing)
//   e -na1cy <archive> "<dir>/" *.*  extract into dir: members stored below dir go to their
//                                    place below it, any other member into dir by its name
//   e -a1cynx1 <archive> <dir>/ "<name>"  extract dir/name from the member stored as
//                                    dir/name and from no other
// The archive path is not quoted and ends in ".lzh". New members are written
// with -lh7- (-lh0- for what does not shrink); the files of a bulk add are
// compressed on as many threads as DefaultJobs() says (TESSEL_JOBS, else one
// per core), with the same archive bytes as on one.
std::int32_t Unlha(const void* owner, const char* commandLine, char* output, std::size_t outputSize);

// Adds each file as "u -nd1 <archive> "<file>"" would, one after the other,
// but in one pass: the files new to the archive are compressed on
// DefaultJobs() threads and appended in order, and a file that fails does
// not stop the others. The archive's bytes are those of one add per file.
// Returns each file's result code, in order.
std::vector<std::int32_t> UnlhaAddEach(const std::string& archivePath, const std::vector<std::string>& files);

// Forgets every cached member index (tests use it to force a fresh read).
void UnlhaDropIndexCache();

}  // namespace tessel
