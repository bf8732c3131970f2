#include "engine/run_log.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <utility>

#include "platform/paths.h"
#include "platform/unique_fd.h"

namespace tessel {
namespace {

struct KindText {
    RunEntry kind;
    std::string label, name;
};

const std::vector<KindText>& Kinds() {
    static const std::vector<KindText> kinds = {
        {RunEntry::kStart, "開始", "start"},       {RunEntry::kMessage, "表示", "message"},
        {RunEntry::kWarning, "警告", "warning"},   {RunEntry::kFailure, "失敗", "failure"},
        {RunEntry::kSkipped, "対象外", "skipped"}, {RunEntry::kSummary, "終了", "summary"},
    };
    return kinds;
}

const KindText& KindOf(RunEntry kind) {
    for (const KindText& k : Kinds())
        if (k.kind == kind) return k;
    return Kinds()[1];
}

std::string FileName(int run) {
    char name[32];
    std::snprintf(name, sizeof name, "run-%06d.log", run);
    return name;
}

// The run number of a log file's name; nullopt for any other name.
std::optional<int> RunOfName(const std::string& name) {
    if (name.size() < 12 || name.compare(0, 4, "run-") != 0 || name.compare(name.size() - 4, 4, ".log") != 0)
        return std::nullopt;
    long long n = 0;
    for (std::size_t i = 4; i + 4 < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || n > 2147483647) return std::nullopt;
        n = n * 10 + (name[i] - '0');
    }
    if (n > 2147483647) return std::nullopt;
    return static_cast<int>(n);
}

std::string LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

struct LoggedRun {
    int run;
    struct timespec written;
};

// The logs in the log folder, open as dirFd.
std::vector<LoggedRun> LoggedRuns(int dirFd) {
    std::vector<LoggedRun> out;
    const int fd = dup(dirFd);
    if (fd < 0) return out;
    std::unique_ptr<DIR, int (*)(DIR*)> d(fdopendir(fd), closedir);
    if (!d) {
        close(fd);
        return out;
    }
    while (const dirent* e = readdir(d.get())) {
        const std::optional<int> run = RunOfName(e->d_name);
        struct stat st {};
        if (!run || fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        out.push_back({*run, st.st_mtim});
    }
    return out;
}

// The log folder of the data folder, opened (-1 with *error set when it
// cannot be); made when `make`.
int OpenLogFolder(const std::string& dataFolder, bool make, int* error) {
    const std::string folder = JoinPath(dataFolder, kRunLogFolder);
    if (make && mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        *error = errno;
        return -1;
    }
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) *error = errno;
    return fd;
}

}  // namespace

std::string RunLogPath(const std::string& dataFolder, int run) {
    return JoinPath(JoinPath(dataFolder, kRunLogFolder), FileName(run));
}

const std::string& RunEntryLabel(RunEntry kind) { return KindOf(kind).label; }
const std::string& RunEntryName(RunEntry kind) { return KindOf(kind).name; }

RunLog::RunLog(const std::string& dataFolder, int run) : path_(RunLogPath(dataFolder, run)) {
    UniqueFd folder(OpenLogFolder(dataFolder, true, &error_));
    if (folder.get() < 0) return;
    // The oldest logs go first, so that the folder never holds more than
    // kKeptRunLogs of them; a log of this number is replaced.
    std::vector<LoggedRun> logs = LoggedRuns(folder.get());
    std::sort(logs.begin(), logs.end(), [](const LoggedRun& a, const LoggedRun& b) { return a.run > b.run; });
    int kept = 1;  // this run's
    for (const LoggedRun& l : logs) {
        if (l.run == run) continue;
        if (kept < kKeptRunLogs) {
            ++kept;
            continue;
        }
        unlinkat(folder.get(), FileName(l.run).c_str(), 0);
    }
    fd_ = openat(folder.get(), FileName(run).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_NOFOLLOW | O_CLOEXEC,
                 0666);
    if (fd_ < 0) error_ = errno;
}

RunLog::~RunLog() {
    if (fd_ >= 0) close(fd_);
}

void RunLog::entry(RunEntry kind, const std::string& text, bool) {
    if (fd_ < 0) return;
    line_.assign(LocalTimeNow()).append(" ").append(RunEntryLabel(kind)).append(" ");
    for (char c : text) {
        line_.push_back(c);
        if (c == '\n') line_.push_back('\t');
    }
    line_.push_back('\n');
    // One write per entry: the lines of a killed run are in the file.
    std::size_t done = 0;
    while (done < line_.size()) {
        const ssize_t n = write(fd_, line_.data() + done, line_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (!error_) error_ = n < 0 ? errno : EIO;
            close(fd_);
            fd_ = -1;
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

std::optional<int> LastLoggedRun(const std::string& dataFolder) {
    int error = 0;
    UniqueFd folder(OpenLogFolder(dataFolder, false, &error));
    if (folder.get() < 0) return std::nullopt;
    std::vector<LoggedRun> logs = LoggedRuns(folder.get());
    const auto later = [](const LoggedRun& a, const LoggedRun& b) {
        if (a.written.tv_sec != b.written.tv_sec) return a.written.tv_sec < b.written.tv_sec;
        if (a.written.tv_nsec != b.written.tv_nsec) return a.written.tv_nsec < b.written.tv_nsec;
        return a.run < b.run;
    };
    const auto last = std::max_element(logs.begin(), logs.end(), later);
    if (last == logs.end()) return std::nullopt;
    return last->run;
}

std::optional<std::vector<RunLogEntry>> ReadRunLog(const std::string& dataFolder, int run, int* error) {
    const std::string path = RunLogPath(dataFolder, run);
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return std::nullopt;
    }
    close(fd);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = EIO;
        return std::nullopt;
    }
    std::vector<RunLogEntry> entries;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '\t') {
            if (!entries.empty()) entries.back().text.append("\n").append(line, 1, std::string::npos);
            continue;
        }
        RunLogEntry e;
        const std::size_t first = line.find(' ');
        const std::size_t second = first == std::string::npos ? std::string::npos : line.find(' ', first + 1);
        if (second == std::string::npos) {
            e.text = line;  // not written by RunLog: kept as it is
        } else {
            e.time = line.substr(0, first);
            const std::string label = line.substr(first + 1, second - first - 1);
            for (const KindText& k : Kinds())
                if (k.label == label) e.kind = k.kind;
            e.text = line.substr(second + 1);
        }
        entries.push_back(std::move(e));
    }
    if (in.bad()) {
        *error = EIO;
        return std::nullopt;
    }
    return entries;
}

}  // namespace tessel
