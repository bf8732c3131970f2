#include "archiver/archive_request.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "archiver/add_pipeline.h"
#include "archiver/archive_ops.h"
#include "archiver/unlha.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/safe_write.h"

namespace tessel::archive {
namespace {

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

// The command forms, each with the action it stands for.
struct Form {
    const char* prefix;
    Action action;
};
constexpr Form kForms[] = {
    {"u -nd1 ", Action::kAddFile},          {"u -d1n ", Action::kAddTree},       {"u -n ", Action::kAddFolder},
    {"e -r2x1a2ncy ", Action::kExtractAll}, {"e -na1cy ", Action::kExtractInto}, {"e -a1cynx1 ", Action::kExtractOne},
};

// The path of a file as stored: absolute, cleaned, without the leading "/".
std::optional<std::string> MemberPathOfFile(const std::string& file) {
    std::string abs = file;
    if (abs.empty()) return std::nullopt;
    if (abs[0] != '/') {
        char cwd[4096];
        if (!::getcwd(cwd, sizeof cwd)) return std::nullopt;
        abs = std::string(cwd) + "/" + abs;
    }
    std::string clean;
    if (!CleanPath(abs, &clean) || clean == "/") return std::nullopt;
    return lzh::MemberPathOfSource(clean);
}

// Why a file must not become a member of the archive whose identity is
// `self`: it is the archive itself (any name of it), or its path is one no
// reader would take.
enum class NotMember { kNo, kTheArchiveItself, kUnsafePath, kTooLarge };
NotMember WhyNotAMember(const std::string& member, const struct stat& st, const struct stat* self,
                        bool byCatalogOnly = false) {
    if (self && st.st_dev == self->st_dev && st.st_ino == self->st_ino) return NotMember::kTheArchiveItself;
    // Other LHA tools read 32-bit sizes only: a bulk archive never takes a
    // file of 4 GiB or more (the backup keeps it as a plain copy).
    if (!byCatalogOnly && st.st_size >= 0xFFFFFFFFll) return NotMember::kTooLarge;
    if (!(byCatalogOnly ? IsSafeRelativePath(member) : lzh::IsSafeMemberPath(member))) return NotMember::kUnsafePath;
    return NotMember::kNo;
}
const char* ReasonText(NotMember why) {
    switch (why) {
    case NotMember::kTheArchiveItself: return "the archive itself";
    case NotMember::kTooLarge: return "4 GiB or more, which other LHA tools cannot read from an archive";
    default: return "a name an archive cannot hold";
    }
}

// An archive as a file below the folder it must be reached from: the
// request's root, else its own folder. False when the archive does not lie
// below the root named.
bool ArchiveBelowRoot(const ArchiveRequest& req, std::string* root, std::string* rel, RootLinks* links) {
    if (req.root.empty()) {
        const auto slash = req.archive.rfind('/');
        *root = slash == std::string::npos ? "." : slash == 0 ? "/" : req.archive.substr(0, slash);
        *rel = slash == std::string::npos ? req.archive : req.archive.substr(slash + 1);
        *links = RootLinks::kFollow;
    } else {
        *root = req.root;
        while (root->size() > 1 && root->back() == '/') root->pop_back();
        const std::string prefix = *root == "/" ? "/" : *root + "/";
        if (req.archive.compare(0, prefix.size(), prefix) != 0) return false;
        *rel = req.archive.substr(prefix.size());
        // A destination lives on a drive that others may write to.
        *links = RootLinks::kRefuse;
    }
    return IsSafeRelativePath(*rel);
}

// Whether one named file may be added on its own ("u -nd1"): its member
// path in *member and 0, or the result code (with the reason in *why when
// it must not be a member of this archive).
std::int32_t CheckOne(const std::string& file, const struct stat* self, std::string* member, std::string* why,
                      bool byCatalogOnly = false) {
    auto path = MemberPathOfFile(file);
    if (!path) return kUnlhaRefusedPath;
    struct stat st;
    if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return kUnlhaCannotReadSource;
    if (const NotMember reason = WhyNotAMember(*path, st, self, byCatalogOnly); reason != NotMember::kNo) {
        *why = ReasonText(reason);
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

// What a folder add left out, one report line each: files that could not
// be read, files whose path cannot be a member, and the archive itself.
struct LeftOut {
    std::vector<std::string> unreadable, refused, itself;
};

// Regular files of dir (hidden ones included; links and special files
// never), sorted by name; with recurse set, those of its sub-directories
// too. What is left out gets a line in `left`; the rest is still collected.
void Collect(const std::string& dir, bool recurse, const struct stat* self, std::vector<std::string>& out,
             LeftOut& left) {
    std::vector<std::string>& skipped = left.unreadable;
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
            // The archive itself is never a member, and leaving it out is no
            // failure; a path no reader would take is.
            if (const NotMember why = WhyNotAMember(p.substr(1), st, self); why != NotMember::kNo) {
                (why == NotMember::kTheArchiveItself ? left.itself : left.refused)
                    .push_back("skipped " + Printable(p) + ": " + ReasonText(why));
                continue;
            }
            if (int err = Unreadable(p)) {
                skipped.push_back("skipped " + p + ": " + std::strerror(err));
                continue;
            }
            out.push_back(p);
        } else if (S_ISDIR(st.st_mode) && recurse) {
            subdirs.push_back(p);
        }
    }
    for (const auto& s : subdirs) Collect(s, recurse, self, out, left);
}

// The report of an add: its own, then every skipped file, one a line.
void AddSkipped(std::string* report, const std::vector<std::string>& skipped) {
    if (!report) return;
    for (const auto& line : skipped) *report += "\n" + line;
}

// The folder a command names, cleaned and made absolute; false when it is
// empty or holds a refused component.
bool AbsoluteFolderOf(const std::string& arg, std::string& dir) {
    if (!CleanPath(arg, &dir) || dir.empty()) return false;
    if (dir[0] != '/') {
        auto abs = MemberPathOfFile(dir);
        if (!abs) return false;
        dir = "/" + *abs;
    }
    return true;
}

}  // namespace

std::int32_t Perform(const ArchiveRequest& req, std::string* report) {
    switch (req.action) {
    case Action::kAddFile: {
        std::string rootPath, rel;
        RootLinks links;
        if (!ArchiveBelowRoot(req, &rootPath, &rel, &links)) return kUnlhaRefusedPath;
        struct stat self {};
        const bool archiveExists = ::stat(req.archive.c_str(), &self) == 0;
        std::string member, why;
        std::int32_t rc = CheckOne(req.path, archiveExists ? &self : nullptr, &member, &why, req.byCatalogOnly);
        if (!why.empty() && report) *report = "0 member(s) added\nskipped " + Printable(req.path) + ": " + why;
        if (rc != kUnlhaOk) return rc;
        AddOptions options;
        options.method = req.method;
        WriteRoot root(rootPath, {Ownership::kUser, links});
        return AddFiles(root, rel, {{req.path, member, req.byCatalogOnly}}, report, options);
    }
    case Action::kAddTree:
    case Action::kAddFolder: {
        std::string dir, rootPath, rel;
        RootLinks links;
        if (!AbsoluteFolderOf(req.path, dir) || !ArchiveBelowRoot(req, &rootPath, &rel, &links))
            return kUnlhaRefusedPath;
        if (!IsDirectory(dir)) return kUnlhaCannotReadSource;
        struct stat self {};
        const bool archiveExists = ::stat(req.archive.c_str(), &self) == 0;
        std::vector<std::string> paths;
        LeftOut left;
        Collect(dir, req.action == Action::kAddTree, archiveExists ? &self : nullptr, paths, left);
        std::vector<FileToAdd> files;
        for (const auto& p : paths) files.push_back({p, p.substr(1)});
        // Every readable file goes in; what could not be read, or has a
        // path no reader would take, makes the add fail after the others
        // were written. The archive itself is never a member, and leaving
        // it out is no failure.
        // A file that fails does not stop the others; one that changed
        // while it was read is added once more, with the others like it.
        AddOptions options;
        options.method = req.method;
        options.jobs = req.jobs ? req.jobs : DefaultJobs();
        std::vector<std::int32_t> outcomes;
        options.outcomes = &outcomes;
        WriteRoot root(rootPath, {Ownership::kUser, links});
        std::int32_t rc = AddFiles(root, rel, files, report, options);
        std::vector<FileToAdd> again;
        std::vector<std::size_t> againIndex;
        for (std::size_t i = 0; i < files.size(); ++i)
            if (outcomes[i] == kUnlhaSourceChanged) {
                again.push_back(files[i]);
                againIndex.push_back(i);
            }
        if (!again.empty()) {
            std::vector<std::int32_t> second;
            options.outcomes = &second;
            AddFiles(root, rel, again, nullptr, options);
            for (std::size_t k = 0; k < again.size(); ++k) outcomes[againIndex[k]] = second[k];
        }
        rc = kUnlhaOk;
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (outcomes[i] == kUnlhaOk) continue;
            left.unreadable.push_back("skipped " + Printable(files[i].source) + ": " + UnlhaResultText(outcomes[i]));
            if (rc == kUnlhaOk) rc = outcomes[i];
        }
        AddSkipped(report, left.itself);
        AddSkipped(report, left.refused);
        AddSkipped(report, left.unreadable);
        if (rc != kUnlhaOk) return rc;
        if (!left.unreadable.empty()) return kUnlhaCannotReadSource;
        return left.refused.empty() ? kUnlhaOk : kUnlhaRefusedPath;
    }
    case Action::kExtractAll: {
        // Each member goes back to the place it came from, below the root;
        // members stored elsewhere are passed over.
        std::string root = "/";
        if (!req.root.empty() && !AbsoluteFolderOf(req.root, root)) return kUnlhaRefusedPath;
        const std::string prefix = root == "/" ? "" : root.substr(1) + "/";
        return ExtractMembers(
            req.archive,
            [&](const lzh::Member& m) -> std::optional<Placement> {
                if (m.path.compare(0, prefix.size(), prefix) != 0 || m.path.size() == prefix.size())
                    return std::nullopt;
                return Placement{root, m.path.substr(prefix.size())};
            },
            report);
    }
    case Action::kExtractInto: {
        std::string dir;
        if (!AbsoluteFolderOf(req.path, dir)) return kUnlhaRefusedPath;
        if (!req.root.empty()) {
            // The folder must lie below the root, which the extraction then
            // starts from.
            std::string root;
            if (!AbsoluteFolderOf(req.root, root)) return kUnlhaRefusedPath;
            if (dir != root && dir.compare(0, root.size() + 1, root == "/" ? "/" : root + "/") != 0)
                return kUnlhaRefusedPath;
        }
        const std::string rel = dir == "/" ? "" : dir.substr(1) + "/";
        return ExtractMembers(
            req.archive,
            [&](const lzh::Member& m) -> std::optional<Placement> {
                if (m.path.compare(0, rel.size(), rel) == 0) return Placement{dir, m.path.substr(rel.size())};
                auto slash = m.path.rfind('/');
                return Placement{dir, slash == std::string::npos ? m.path : m.path.substr(slash + 1)};
            },
            report);
    }
    case Action::kExtractOne: {
        if (req.name.empty() || req.name == "." || req.name == ".." || req.name.find('/') != std::string::npos)
            return kUnlhaRefusedPath;
        std::string dir, rootPath;
        if (!AbsoluteFolderOf(req.path, dir)) return kUnlhaRefusedPath;
        if (req.root.empty()) rootPath = dir;
        else if (!AbsoluteFolderOf(req.root, rootPath)) return kUnlhaRefusedPath;
        const std::string rootPrefix = rootPath == "/" ? "/" : rootPath + "/";
        if (dir != rootPath && dir.compare(0, rootPrefix.size(), rootPrefix) != 0) return kUnlhaRefusedPath;
        const std::string rel = dir == rootPath ? req.name : dir.substr(rootPrefix.size()) + "/" + req.name;
        lzh::Member m;
        std::int32_t rc = FindMember(req.archive, lzh::MemberPathOfSource(JoinPath(dir, req.name)), &m);
        if (rc != kUnlhaOk) return rc;
        WriteRoot root(rootPath);
        rc = ExtractMemberTo(req.archive, m, root, rel);
        if (report) *report = rc == kUnlhaOk ? "1 member(s) extracted" : "extraction failed";
        return rc;
    }
    }
    return kUnlhaBadCommand;
}

ArchiveRequest AddFileRequest(const std::string& archive, const std::string& file) {
    ArchiveRequest r;
    r.action = Action::kAddFile;
    r.archive = archive;
    r.path = file;
    return r;
}

ArchiveRequest AddFolderRequest(const std::string& archive, const std::string& folder, bool withSubfolders) {
    ArchiveRequest r;
    r.action = withSubfolders ? Action::kAddTree : Action::kAddFolder;
    r.archive = archive;
    r.path = WithSlash(folder);
    return r;
}

ArchiveRequest ExtractAllRequest(const std::string& archive) {
    ArchiveRequest r;
    r.action = Action::kExtractAll;
    r.archive = archive;
    return r;
}

ArchiveRequest ExtractIntoRequest(const std::string& archive, const std::string& folder) {
    ArchiveRequest r;
    r.action = Action::kExtractInto;
    r.archive = archive;
    r.path = WithSlash(folder);
    return r;
}

ArchiveRequest ExtractOneRequest(const std::string& archive, const std::string& folder, const std::string& name) {
    ArchiveRequest r;
    r.action = Action::kExtractOne;
    r.archive = archive;
    r.path = WithSlash(folder);
    r.name = name;
    return r;
}

std::vector<std::int32_t> AddEach(const std::string& rootPath, const std::string& archivePath,
                                  const std::vector<std::string>& files, unsigned jobs, const StopAsked& stopped) {
    std::vector<std::int32_t> results(files.size(), kUnlhaOk);
    ArchiveRequest where;
    where.archive = archivePath;
    where.root = rootPath;
    std::string rootFolder, rel;
    RootLinks links;
    if (!ArchiveBelowRoot(where, &rootFolder, &rel, &links)) {
        results.assign(files.size(), kUnlhaRefusedPath);
        return results;
    }
    WriteRoot root(rootFolder, {Ownership::kUser, links});
    struct stat self {};
    const bool archiveExists = ::stat(archivePath.c_str(), &self) == 0;
    std::vector<std::string> members(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string why;
        results[i] = CheckOne(files[i], archiveExists ? &self : nullptr, &members[i], &why);
    }
    // The paths stored already, and those this call adds.
    std::unordered_set<std::string> stored;
    if (archiveExists) {
        const std::vector<bool> held = HoldsPaths(archivePath, members);
        for (std::size_t i = 0; i < files.size(); ++i)
            if (held[i]) stored.insert(members[i]);
    }
    // Files that are new to the archive are appended together, compressed
    // on worker threads; a file whose path is stored already replaces it on
    // its own, after the files before it, so the archive ends up as it
    // would after one add per file.
    std::vector<FileToAdd> group;
    std::vector<std::size_t> groupIndex;
    auto flush = [&] {
        if (group.empty()) return;
        AddOptions options;
        options.jobs = jobs ? jobs : DefaultJobs();
        options.stopped = stopped;
        std::vector<std::int32_t> outcomes;
        options.outcomes = &outcomes;
        AddFiles(root, rel, group, nullptr, options);
        for (std::size_t k = 0; k < group.size(); ++k) results[groupIndex[k]] = outcomes[k];
        group.clear();
        groupIndex.clear();
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (results[i] != kUnlhaOk) continue;
        if (!stored.insert(members[i]).second) {
            flush();
            // A replacement rewrites the archive: none is begun after a stop.
            AddOptions one;
            one.stopped = stopped;
            results[i] = stopped && stopped() ? kUnlhaStopped : AddFiles(root, rel, {{files[i], members[i]}}, nullptr, one);
            continue;
        }
        group.push_back({files[i], members[i]});
        groupIndex.push_back(i);
    }
    flush();
    return results;
}

std::string CommandLineOf(const ArchiveRequest& request) {
    std::string prefix;
    for (const auto& f : kForms)
        if (f.action == request.action) prefix = f.prefix;
    const std::string& a = request.archive;
    switch (request.action) {
    case Action::kAddFile: return prefix + a + " \"" + request.path + "\"";
    case Action::kAddTree:
    case Action::kAddFolder: return prefix + a + " \"" + WithSlash(request.path) + "*.*\"";
    case Action::kExtractAll: return prefix + a + " *.*";
    case Action::kExtractInto: return prefix + a + " \"" + WithSlash(request.path) + "\" *.*";
    case Action::kExtractOne: return prefix + a + " " + WithSlash(request.path) + " \"" + request.name + "\"";
    }
    return {};
}

std::optional<ArchiveRequest> ParseCommandLine(const std::string& line) {
    for (const auto& f : kForms) {
        const std::string prefix = f.prefix;
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string rest = line.substr(prefix.size());
        ArchiveRequest req;
        req.action = f.action;
        switch (f.action) {
        case Action::kAddFile:
        case Action::kAddTree:
        case Action::kAddFolder: {
            // <archive> "<argument>" - the argument runs to the last character.
            if (rest.size() < 2 || rest.back() != '"') return std::nullopt;
            auto end = ArchiveEnd(rest, " \"");
            if (!end) return std::nullopt;
            req.archive = rest.substr(0, *end);
            req.path = rest.substr(*end + 2, rest.size() - *end - 3);
            if (req.path.empty()) return std::nullopt;
            if (f.action != Action::kAddFile) {
                if (!EndsWith(req.path, "*.*")) return std::nullopt;
                req.path.resize(req.path.size() - 3);
                if (req.path.empty() || req.path.back() != '/') return std::nullopt;
            }
            return req;
        }
        case Action::kExtractAll:
            if (!EndsWith(rest, " *.*") || rest.size() <= 4) return std::nullopt;
            req.archive = rest.substr(0, rest.size() - 4);
            if (!EndsWith(req.archive, ".lzh") && !EndsWith(req.archive, ".LZH")) return std::nullopt;
            return req;
        case Action::kExtractInto: {
            // <archive> "<dir>/" *.*
            if (!EndsWith(rest, "/\" *.*")) return std::nullopt;
            const std::string head = rest.substr(0, rest.size() - 4);  // ...<dir>/"
            auto end = ArchiveEnd(head, " \"");
            if (!end) return std::nullopt;
            req.archive = head.substr(0, *end);
            req.path = head.substr(*end + 2, head.size() - *end - 3);
            if (req.path.empty()) return std::nullopt;
            return req;
        }
        case Action::kExtractOne: {
            // <archive> <dir>/ "<name>" - the name holds no "/".
            if (rest.size() < 2 || rest.back() != '"') return std::nullopt;
            auto split = rest.rfind("/ \"");
            if (split == std::string::npos || split + 3 > rest.size() - 1) return std::nullopt;
            req.name = rest.substr(split + 3, rest.size() - split - 4);
            const std::string head = rest.substr(0, split + 1);  // <archive> <dir>/
            auto end = ArchiveEnd(head, " ");
            if (!end) return std::nullopt;
            req.archive = head.substr(0, *end);
            req.path = head.substr(*end + 1);
            if (req.path.empty() || req.path[0] == ' ') return std::nullopt;
            return req;
        }
        }
    }
    return std::nullopt;
}

}  // namespace tessel::archive
