// Why a version could not be stored, in the system's words: the result
// carries only a number.
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "archiver/unlha.h"
#include "backup/backup_messages.h"
#include "backup/backup_run.h"
#include "platform/file_faults.h"

namespace tessel::backup {

std::string FailureCause(const std::string& sourceFile, const std::string& destination, const FileResult& result) {
    if (result.kind == FileResult::Kind::kSystem)
        return result.code > 0 ? "\n" + std::string(std::strerror(result.code)) : std::string();
    if (result.kind != FileResult::Kind::kArchiver) return {};
    const std::int32_t rc = result.code;
    // The archiver says only that it could not write; a destination with
    // less room than the file (what a failed add wrote is given back) is
    // the usual reason, and is named as such.
    if (rc == kUnlhaCannotWrite) {
        struct statvfs fs {};
        struct stat st {};
        if (::statvfs(destination.c_str(), &fs) == 0 && ::stat(sourceFile.c_str(), &st) == 0 &&
            static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize <
                std::max<std::uint64_t>(std::uint64_t{1} << 20, static_cast<std::uint64_t>(st.st_size)))
            return "\n" + std::string(std::strerror(ENOSPC)) + " (" + destination + ")";
    }
    // The archiver says only that it could not read the file; the file says why.
    if (rc == kUnlhaCannotReadSource)
        if (const Status readable = CheckReadableFile(sourceFile); !readable)
            return "\n" + (readable.error() == EINVAL ? kNotRegularFile : readable.reason());
    return "\n" + std::string(UnlhaResultText(rc));
}

}  // namespace tessel::backup
