#include "archiver/unlha.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "archiver/add_pipeline.h"
#include "archiver/archive_ops.h"

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

// Regular files of dir (hidden ones included; links and special files
// never), sorted by name; with recurse set, those of its sub-directories too.
bool Collect(const std::string& dir, bool recurse, const struct stat& skip, std::vector<std::string>& out) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return false;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    std::vector<std::string> subdirs;
    for (const auto& n : names) {
        std::string p = dir == "/" ? "/" + n : dir + "/" + n;
        struct stat st;
        if (::lstat(p.c_str(), &st) != 0) continue;
        if (S_ISREG(st.st_mode)) {
            if (st.st_dev == skip.st_dev && st.st_ino == skip.st_ino) continue;  // the archive itself
            out.push_back(p);
        } else if (S_ISDIR(st.st_mode) && recurse) {
            subdirs.push_back(p);
        }
    }
    for (const auto& s : subdirs)
        if (!Collect(s, recurse, skip, out)) return false;
    return true;
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
        auto member = MemberPathOf(cmd.arg);
        if (!member) return kUnlhaRefusedPath;
        struct stat st;
        if (::lstat(cmd.arg.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return kUnlhaCannotReadSource;
        return archive::AddFiles(cmd.archive, {{cmd.arg, *member}}, report);
    }
    case Op::AddTree:
    case Op::AddFlat: {
        std::string dir;
        if (!AbsoluteFolderOf(cmd.arg, dir)) return kUnlhaRefusedPath;
        if (!IsDirectory(dir)) return kUnlhaCannotReadSource;
        struct stat self {};
        ::stat(cmd.archive.c_str(), &self);
        std::vector<std::string> paths;
        if (!Collect(dir, cmd.op == Op::AddTree, self, paths)) return kUnlhaCannotReadSource;
        std::vector<archive::FileToAdd> files;
        for (const auto& p : paths) files.push_back({p, p.substr(1)});
        archive::AddOptions options;
        options.jobs = archive::DefaultJobs();
        return archive::AddFiles(cmd.archive, files, report, options);
    }
    case Op::ExtractAll:
        return archive::ExtractMembers(
            cmd.archive, [](const lzh::Member& m) -> std::optional<std::string> { return "/" + m.path; }, report);
    case Op::ExtractFolder: {
        std::string dir;
        if (!AbsoluteFolderOf(cmd.arg, dir)) return kUnlhaRefusedPath;
        const std::string rel = dir == "/" ? "" : dir.substr(1) + "/";
        return archive::ExtractMembers(
            cmd.archive,
            [&](const lzh::Member& m) -> std::optional<std::string> {
                if (m.path.compare(0, rel.size(), rel) == 0) return "/" + m.path;
                auto slash = m.path.rfind('/');
                std::string base = slash == std::string::npos ? m.path : m.path.substr(slash + 1);
                return dir == "/" ? "/" + base : dir + "/" + base;
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
        rc = archive::ExtractMemberTo(cmd.archive, m, dir == "/" ? "/" + cmd.name : dir + "/" + cmd.name);
        if (report) *report = rc == kUnlhaOk ? "1 member(s) extracted" : "extraction failed";
        return rc;
    }
    }
    return kUnlhaBadCommand;
}

}  // namespace

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
