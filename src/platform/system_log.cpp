#include "platform/system_log.h"

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace tessel {

void WriteSystemLog(SystemLogLevel level, const std::string& text) {
    static std::once_flag opened;
    std::call_once(opened, [] { openlog(kSystemLogTag, LOG_PID, LOG_USER); });
    const int priority = level == SystemLogLevel::kError ? LOG_ERR : level == SystemLogLevel::kWarning ? LOG_WARNING : LOG_INFO;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty()) syslog(priority, "%s", line.c_str());
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

bool StandardErrorIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (!stream) return false;
    unsigned long long dev = 0, ino = 0;
    if (std::sscanf(stream, "%llu:%llu", &dev, &ino) != 2) return false;
    struct stat st {};
    if (fstat(STDERR_FILENO, &st) != 0) return false;
    return static_cast<unsigned long long>(st.st_dev) == dev && static_cast<unsigned long long>(st.st_ino) == ino;
}

}  // namespace tessel
