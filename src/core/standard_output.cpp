#include "core/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tessel {

int FinishStandardOutput(const std::string& program, int status, const std::string& cannotWrite) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    std::fprintf(stderr, "%s: %s: %s\n", program.c_str(), cannotWrite.c_str(), std::strerror(errno ? errno : EIO));
    return status == 0 ? 1 : status;
}

}  // namespace tessel
