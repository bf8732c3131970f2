// Why a version could not be stored, in the system's words: the result text
// carries only a number.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archiver/unlha.h"
#include "backup/backup_messages.h"
#include "backup/backup_run.h"
#include "platform/file_faults.h"

namespace tessel::backup {

std::string FailureCause(const std::string& sourceFile, const std::string& result) {
    if (result.rfind("Error:", 0) == 0) {
        const int err = std::atoi(result.c_str() + 6);
        return err > 0 ? "\n" + std::string(std::strerror(err)) : std::string();
    }
    if (result.rfind(kArchiverResult, 0) != 0) return {};
    const auto rc = static_cast<std::int32_t>(std::atol(result.c_str() + kArchiverResult.size()));
    // The archiver says only that it could not read the file; the file says why.
    if (rc == kUnlhaCannotReadSource)
        if (const Status readable = CheckReadableFile(sourceFile); !readable)
            return "\n" + (readable.error() == EINVAL ? kNotRegularFile : readable.reason());
    return "\n" + std::string(UnlhaResultText(rc));
}

}  // namespace tessel::backup
