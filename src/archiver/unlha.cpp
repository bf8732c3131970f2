#include "archiver/unlha.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "archiver/add_pipeline.h"
#include "archiver/archive_ops.h"
#include "platform/program_files.h"
#include "platform/safe_write.h"

namespace tessel {
namespace {

enum class Op { AddOne, AddTree, AddFlat, ExtractAll, ExtractFolder, ExtractOne };

struct Command {
    Op op;
    std::string archive;
    std::string arg;     // file to add, folder of a bulk add, folder to extract into
    std::string name;    // member name of a single extraction
};

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool IsRegularFile(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
bool IsDirectory(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The archive path is not quoted and may hold blanks; it ends in ".lzh"
// followed by `follow`. Of the places where that occurs, the one naming an
// existing archive wins, then one whose folder exists, then the first.
std::optional<std::size_t> ArchiveEnd(const std::string& rest, const std::string& follow) {
    std::vector<std::size_t> candidates;
    for (std::size_t i = 0; i + 4 + follow.size() <= rest.size(); ++i) {
        if (rest[i] != '.') continue;
        std::string ext = rest.substr(i + 1, 3);
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (ext == "lzh" && rest.compare(i + 4, follow.size(), follow) == 0 && i > 0) candidates.push_back(i + 4);
    }
    if (candidates.empty()) return std::nullopt;
    for (auto c : candidates)
        if (IsRegularFile(rest.substr(0, c))) return c;
    for (auto c : candidates) {
        std::string a = rest.substr(0, c);
        auto slash = a.rfind('/');
        if (IsDirectory(slash == std::string::npos ? "." : slash == 0 ? "/" : a.substr(0, slash))) return c;
    }
    return candidates.front();
}

std::optional<Command> Parse(const std::string& line) {
    struct Form { const char* prefix; Op op; };
    static const Form forms[] = {
        {"u -nd1 ", Op::AddOne},          {"u -d1n ", Op::AddTree},      {"u -n ", Op::AddFlat},
        {"e -r2x1a2ncy ", Op::ExtractAll}, {"e -na1cy ", Op::ExtractFolder}, {"e -a1cynx1 ", Op::ExtractOne},
    };
    for (const auto& f : forms) {
        const std::string prefix = f.prefix;
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string rest = line.substr(prefix.size());
        Command cmd{f.op, {}, {}, {}};
        switch (f.op) {
        case Op::AddOne:
        case Op::AddTree:
        case Op::AddFlat: {
            // <archive> "<argument>" - the argument runs to the last character.
            if (rest.size() < 2 || rest.back() != '"') return std::nullopt;
            auto end = ArchiveEnd(rest, " \"");
            if (!end) return std::nullopt;
            cmd.archive = rest.substr(0, *end);
            cmd.arg = rest.substr(*end + 2, rest.size() - *end - 3);
            if (cmd.arg.empty()) return std::nullopt;
            if (f.op != Op::AddOne) {
                if (!EndsWith(cmd.arg, "*.*")) return std::nullopt;
                cmd.arg.resize(cmd.arg.size() - 3);
                if (cmd.arg.empty() || cmd.arg.back() != '/') return std::nullopt;
            }
            return cmd;
        }
        case Op::ExtractAll:
            if (!EndsWith(rest, " *.*") || rest.size() <= 4) return std::nullopt;
            cmd.archive = rest.substr(0, rest.size() - 4);
            if (!EndsWith(cmd.archive, ".lzh") && !EndsWith(cmd.archive, ".LZH")) return std::nullopt;
            return cmd;
        case Op::ExtractFolder: {
            // <archive> "<dir>/" *.*
            if (!EndsWith(rest, "/\" *.*")) return std::nullopt;
            const std::string head = rest.substr(0, rest.size() - 4);  // ...<dir>/"
            auto end = ArchiveEnd(head, " \"");
            if (!end) return std::nullopt;
            cmd.archive = head.substr(0, *end);
            cmd.arg = head.substr(*end + 2, head.size() - *end - 3);
            if (cmd.arg.empty()) return std::nullopt;
            return cmd;
        }
        case Op::ExtractOne: {
            // <archive> <dir>/ "<name>" - the name holds no "/".
            if (rest.size() < 2 || rest.back() != '"') return std::nullopt;
            auto split = rest.rfind("/ \"");
            if (split == std::string::npos || split + 3 > rest.size() - 1) return std::nullopt;
            cmd.name = rest.substr(split + 3, rest.size() - split - 4);
            const std::string head = rest.substr(0, split + 1);  // <archive> <dir>/
            auto end = ArchiveEnd(head, " ");
            if (!end) return std::nullopt;
            cmd.archive = head.substr(0, *end);
            cmd.arg = head.substr(*end + 1);
            if (cmd.arg.empty() || cmd.arg[0] == ' ') return std::nullopt;
            return cmd;
        }
        }
    }
    return std::nullopt;
}

// The path of a file as stored: absolute, cleaned, without the leading "/".
std::optional<std::string> MemberPathOf(const std::string& file) {
    std::string abs = file;
    if (abs.empty()) return std::nullopt;
    if (abs[0] != '/') {
        char cwd[4096];
        if (!::getcwd(cwd, sizeof cwd)) return std::nullopt;
        abs = std::string(cwd) + "/" + abs;
    }
    std::string clean;
    if (!archive::CleanPath(abs, &clean) || clean == "/") return std::nullopt;
    return clean.substr(1);
}

std::string LeafOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Why a file must not become a member of the archive whose identity is
// `self`: it is the archive itself (any name of it), or a temporary file of
// a write in progress. Empty when it may.
std::string NotAMember(const std::string& path, const struct stat& st, const struct stat* self) {
    if (self && st.st_dev == self->st_dev && st.st_ino == self->st_ino) return "the archive itself";
    if (IsTempFileName(LeafOf(path))) return "a file being written";
    return {};
}

// Whether one named file may be added on its own ("u -nd1"): its member
// path in *member and 0, or the result code (with the reason in *why when
// it must not be a member of this archive).
std::int32_t CheckOne(const std::string& file, const struct stat* self, std::string* member, std::string* why) {
    auto path = MemberPathOf(file);
    if (!path) return kUnlhaRefusedPath;
    struct stat st;
    if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return kUnlhaCannotReadSource;
    if (std::string reason = NotAMember(file, st, self); !reason.empty()) {
        *why = reason;
        return kUnlhaRefusedPath;
    }
    *member = *path;
    return kUnlhaOk;
}

// 0 when a regular file can be opened for reading; else the errno value.
int Unreadable(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
}

// Regular files of dir (hidden ones included; links and special files
// never), sorted by name; with recurse set, those of its sub-directories
// too. What cannot be read is left out with a line in `skipped`, what must
// not be a member with a line in `leftOut`; the rest is still collected.
void Collect(const std::string& dir, bool recurse, const struct stat* self, std::vector<std::string>& out,
             std::vector<std::string>& skipped, std::vector<std::string>& leftOut) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) {
        skipped.push_back("skipped folder " + dir + ": " + std::strerror(errno));
        return;
    }
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        dirent* e = ::readdir(d);
        if (!e) {
            if (errno != 0) skipped.push_back("skipped rest of folder " + dir + ": " + std::strerror(errno));
            break;
        }
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    std::vector<std::string> subdirs;
    for (const auto& n : names) {
        std::string p = dir == "/" ? "/" + n : dir + "/" + n;
        struct stat st;
        if (::lstat(p.c_str(), &st) != 0) {
            if (errno != ENOENT) skipped.push_back("skipped " + p + ": " + std::strerror(errno));
            continue;
        }
        if (S_ISREG(st.st_mode)) {
            if (std::string why = NotAMember(p, st, self); !why.empty()) {
                leftOut.push_back("skipped " + p + ": " + why);
                continue;
            }
            if (int err = Unreadable(p)) {
                skipped.push_back("skipped " + p + ": " + std::strerror(err));
                continue;
            }
            out.push_back(p);
        } else if (S_ISDIR(st.st_mode) && recurse) {
            // A version folder holds copies, not data to back up.
            if (IsVersionFolderName(n) && ::lstat((p + "/" + std::string(kArchiveName)).c_str(), &st) == 0)
                leftOut.push_back("skipped folder " + p + ": a version folder");
            else
                subdirs.push_back(p);
        }
    }
    for (const auto& s : subdirs) Collect(s, recurse, self, out, skipped, leftOut);
}

// The report of an add: its own, then every skipped file, one a line.
void AddSkipped(std::string* report, const std::vector<std::string>& skipped) {
    if (!report) return;
    for (const auto& line : skipped) *report += "\n" + line;
}

// The folder a command names, cleaned and made absolute; false when it is
// empty or holds a refused component.
bool AbsoluteFolderOf(const std::string& arg, std::string& dir) {
    if (!archive::CleanPath(arg, &dir) || dir.empty()) return false;
    if (dir[0] != '/') {
        auto abs = MemberPathOf(dir);
        if (!abs) return false;
        dir = "/" + *abs;
    }
    return true;
}

std::int32_t Run(const Command& cmd, std::string* report) {
    switch (cmd.op) {
    case Op::AddOne: {
        struct stat self {};
        const bool archiveExists = ::stat(cmd.archive.c_str(), &self) == 0;
        std::string member, why;
        std::int32_t rc = CheckOne(cmd.arg, archiveExists ? &self : nullptr, &member, &why);
        if (!why.empty() && report) *report = "0 member(s) added\nskipped " + cmd.arg + ": " + why;
        if (rc != kUnlhaOk) return rc;
        return archive::AddFiles(cmd.archive, {{cmd.arg, member}}, report);
    }
    case Op::AddTree:
    case Op::AddFlat: {
        std::string dir;
        if (!AbsoluteFolderOf(cmd.arg, dir)) return kUnlhaRefusedPath;
        if (!IsDirectory(dir)) return kUnlhaCannotReadSource;
        struct stat self {};
        const bool archiveExists = ::stat(cmd.archive.c_str(), &self) == 0;
        std::vector<std::string> paths, skipped, leftOut;
        Collect(dir, cmd.op == Op::AddTree, archiveExists ? &self : nullptr, paths, skipped, leftOut);
        std::vector<archive::FileToAdd> files;
        for (const auto& p : paths) files.push_back({p, p.substr(1)});
        // Every readable file goes in; what could not be read makes the add
        // fail after the others were written. The archive itself and files
        // being written are never members, and leaving them out is no failure.
        archive::AddOptions options;
        options.jobs = archive::DefaultJobs();
        std::int32_t rc = archive::AddFiles(cmd.archive, files, report, options);
        AddSkipped(report, leftOut);
        AddSkipped(report, skipped);
        return rc == kUnlhaOk && !skipped.empty() ? kUnlhaCannotReadSource : rc;
    }
    case Op::ExtractAll:
        // Each member goes back to the folder it came from, taken as it is
        // (the caller has checked it); nothing below that folder is
        // followed.
        return archive::ExtractMembers(
            cmd.archive,
            [](const lzh::Member& m) -> std::optional<archive::Placement> {
                const auto slash = m.path.rfind('/');
                if (slash == std::string::npos) return archive::Placement{"/", m.path};
                return archive::Placement{"/" + m.path.substr(0, slash), m.path.substr(slash + 1)};
            },
            report);
    case Op::ExtractFolder: {
        std::string dir;
        if (!AbsoluteFolderOf(cmd.arg, dir)) return kUnlhaRefusedPath;
        const std::string rel = dir == "/" ? "" : dir.substr(1) + "/";
        return archive::ExtractMembers(
            cmd.archive,
            [&](const lzh::Member& m) -> std::optional<archive::Placement> {
                if (m.path.compare(0, rel.size(), rel) == 0) return archive::Placement{dir, m.path.substr(rel.size())};
                auto slash = m.path.rfind('/');
                return archive::Placement{dir, slash == std::string::npos ? m.path : m.path.substr(slash + 1)};
            },
            report);
    }
    case Op::ExtractOne: {
        if (cmd.name.empty() || cmd.name == "." || cmd.name == ".." || cmd.name.find('/') != std::string::npos)
            return kUnlhaRefusedPath;
        std::string dir;
        if (!AbsoluteFolderOf(cmd.arg, dir)) return kUnlhaRefusedPath;
        lzh::Member m;
        std::int32_t rc = archive::FindMemberForFolder(cmd.archive, dir == "/" ? "" : dir.substr(1), cmd.name, &m);
        if (rc != kUnlhaOk) return rc;
        // One member per call: the caller sweeps the folder once per run.
        WriteRoot root(dir, false);
        rc = archive::ExtractMemberTo(cmd.archive, m, root, cmd.name);
        if (report) *report = rc == kUnlhaOk ? "1 member(s) extracted" : "extraction failed";
        return rc;
    }
    }
    return kUnlhaBadCommand;
}

}  // namespace

std::vector<std::int32_t> UnlhaAddEach(const std::string& archivePath, const std::vector<std::string>& files) {
    std::vector<std::int32_t> results(files.size(), kUnlhaOk);
    struct stat self {};
    const bool archiveExists = ::stat(archivePath.c_str(), &self) == 0;
    std::unordered_set<std::string> stored;
    std::int32_t code = 0;
    if (archiveExists)
        if (auto index = archive::LoadIndex(archivePath, &code))
            for (const auto& m : index->members) stored.insert(m.path);
    // Files that are new to the archive are appended together, compressed
    // on worker threads; a file whose path is stored already replaces it on
    // its own, after the files before it, so the archive ends up as it
    // would after one add per file.
    std::vector<archive::FileToAdd> group;
    std::vector<std::size_t> groupIndex;
    auto flush = [&] {
        if (group.empty()) return;
        archive::AddOptions options;
        options.jobs = archive::DefaultJobs();
        std::vector<std::int32_t> outcomes;
        options.outcomes = &outcomes;
        archive::AddFiles(archivePath, group, nullptr, options);
        for (std::size_t k = 0; k < group.size(); ++k) results[groupIndex[k]] = outcomes[k];
        group.clear();
        groupIndex.clear();
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string member, why;
        results[i] = CheckOne(files[i], archiveExists ? &self : nullptr, &member, &why);
        if (results[i] != kUnlhaOk) continue;
        if (!stored.insert(member).second) {
            flush();
            results[i] = archive::AddFiles(archivePath, {{files[i], member}}, nullptr);
            continue;
        }
        group.push_back({files[i], member});
        groupIndex.push_back(i);
    }
    flush();
    return results;
}

std::int32_t Unlha(const void* /*owner*/, const char* commandLine, char* output, std::size_t outputSize) {
    std::string report;
    std::int32_t rc;
    auto cmd = commandLine ? Parse(commandLine) : std::nullopt;
    if (!cmd) {
        rc = kUnlhaBadCommand;
        report = "command line not understood";
    } else {
        rc = Run(*cmd, &report);
    }
    if (output && outputSize > 0) {
        char code[32];
        std::snprintf(code, sizeof code, "rc=%X ", static_cast<unsigned>(rc));
        std::string text = code + report;
        std::size_t n = std::min(text.size(), outputSize - 1);
        std::memcpy(output, text.data(), n);
        output[n] = '\0';
    }
    return rc;
}

}  // namespace tessel
