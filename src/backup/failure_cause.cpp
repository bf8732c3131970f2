// Why a version could not be stored, in the system's words: the result
// carries only a number.
#include <cerrno>
#include <cstring>
#include <string>

#include "archiver/unlha.h"
#include "backup/backup_messages.h"
#include "backup/backup_run.h"
#include "platform/file_faults.h"

namespace tessel::backup {

std::string FailureCause(const std::string& sourceFile, const FileResult& result) {
    if (result.kind == FileResult::Kind::kSystem)
        return result.code > 0 ? "\n" + std::string(std::strerror(result.code)) : std::string();
    if (result.kind != FileResult::Kind::kArchiver) return {};
    const std::int32_t rc = result.code;
    // The archiver says only that it could not read the file; the file says why.
    if (rc == kUnlhaCannotReadSource)
        if (const Status readable = CheckReadableFile(sourceFile); !readable)
            return "\n" + (readable.error() == EINVAL ? kNotRegularFile : readable.reason());
    return "\n" + std::string(UnlhaResultText(rc));
}

}  // namespace tessel::backup
