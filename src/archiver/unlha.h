#pragma once
// The archiver entry point: runs one command line on an LZH archive.
#include <cstddef>
#include <cstdint>

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
    kUnlhaSourceChanged = 0x810C,    // the file to add changed while it was read
    kUnlhaStopped = 0x810D,          // a stop was asked for before the file was added
    kUnlhaCannotReadArchive = 0x810E,// the archive is there but cannot be opened or read (EIO, EACCES)
};

// Runs commandLine (NUL-terminated, path names in their native bytes) and
// writes a short report, NUL-terminated and cut to outputSize, to output.
// The owner only names the caller; nothing is shown. The command lines are
// the requests of archive_request.h written out:
//   u -nd1 <archive> "<file>"        kAddFile
//   u -d1n <archive> "<dir>/*.*"     kAddTree
//   u -n <archive> "<dir>/*.*"       kAddFolder
//   e -r2x1a2ncy <archive> *.*       kExtractAll
//   e -na1cy <archive> "<dir>/" *.*  kExtractInto
//   e -a1cynx1 <archive> <dir>/ "<name>"  kExtractOne
// The archive path is not quoted and ends in ".lzh". New members are written
// with -lh7- (-lh0- for what does not shrink); the files of a bulk add are
// compressed on as many threads as DefaultJobs() says (TESSEL_JOBS, else one
// per core), with the same archive bytes as on one.
std::int32_t Unlha(const void* owner, const char* commandLine, char* output, std::size_t outputSize);

// What a result code means, in a few words.
const char* UnlhaResultText(std::int32_t rc);

// Forgets every cached member index (tests use it to force a fresh read).
void UnlhaDropIndexCache();

}  // namespace tessel
