// tessel-lzh: l (list), t (test), x (extract into a folder), a (add files).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "archiver/add_pipeline.h"
#include "archiver/archive_ops.h"
#include "archiver/lzh/archive.h"
#include "archiver/unlha.h"
#include "platform/codepage.h"
#include "platform/safe_write.h"

namespace {

using tessel::lzh::Member;

int Usage() {
    std::fprintf(stderr,
                 "usage: tessel-lzh l <archive>            list the members\n"
                 "       tessel-lzh t <archive>            check every member's data\n"
                 "       tessel-lzh x <archive> [folder]   extract below folder (default: .)\n"
                 "       tessel-lzh a [--method lh7|lh5] [--jobs N] <archive> files...\n"
                 "                                         add files (stored under the paths given) with\n"
                 "                                         -lh7- (default) or -lh5-, on N threads (default:\n"
                 "                                         TESSEL_JOBS, else one per core)\n");
    return 2;
}

int Fail(std::int32_t rc, const char* what) {
    std::fprintf(stderr, "tessel-lzh: %s (code %X)\n", what, static_cast<unsigned>(rc));
    return 1;
}

int List(const std::string& archive) {
    std::int32_t rc = 0;
    auto index = tessel::archive::LoadIndex(archive, &rc);
    if (!index) return Fail(rc, tessel::UnlhaResultText(rc));
    std::printf("%-5s %14s %14s  %-19s  %s\n", "meth", "original", "packed", "modified (UTC)", "path");
    for (const auto& m : index->members) {
        char when[32];
        std::time_t t = static_cast<std::time_t>(m.mtime);
        std::tm tm{};
        gmtime_r(&t, &tm);
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
        std::printf("%-5s %14llu %14llu  %s  %s%s\n", m.method.c_str(), static_cast<unsigned long long>(m.originalSize),
                    static_cast<unsigned long long>(m.compressedSize), when, tessel::Printable(m.path).c_str(),
                    m.safePath ? "" : "  (unsafe path: never extracted)");
    }
    if (index->damagedTail) return Fail(tessel::kUnlhaNotArchive, "damaged data after the last member");
    return 0;
}

int Test(const std::string& archive) {
    std::int32_t rc = 0;
    auto index = tessel::archive::LoadIndex(archive, &rc);
    if (!index) return Fail(rc, tessel::UnlhaResultText(rc));
    std::vector<const Member*> members;
    for (const auto& m : index->members)
        if (!m.isDirectory()) members.push_back(&m);
    int bad = 0;
    rc = tessel::archive::TestMembers(archive, members, [&](std::size_t i, std::int32_t result) {
        std::printf("%s  %s\n", result == 0 ? "ok    " : "FAILED", tessel::Printable(members[i]->path).c_str());
        bad += result == 0 ? 0 : 1;
    });
    if (rc != 0) return Fail(tessel::kUnlhaArchiveMissing, "cannot open archive");
    if (index->damagedTail) { std::printf("FAILED  damaged data after the last member\n"); ++bad; }
    return bad ? 1 : 0;
}

int Extract(const std::string& archive, const std::string& folder) {
    std::string base = folder;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    // Every member lands below the folder, never through a link in it.
    std::string report;
    std::int32_t rc = tessel::archive::ExtractMembers(
        archive, [&](const Member& m) -> std::optional<tessel::archive::Placement> { return tessel::archive::Placement{base, m.path}; },
        &report);
    const int synced = tessel::SyncFileSystemOf(base);
    std::printf("%s\n", report.c_str());
    if (rc) return Fail(rc, tessel::UnlhaResultText(rc));
    if (synced != 0) {
        std::fprintf(stderr, "tessel-lzh: %s: %s\n", base.c_str(), std::strerror(synced));
        return 1;
    }
    return 0;
}

int Add(const std::string& archive, const std::vector<std::string>& files,
        const tessel::archive::AddOptions& options) {
    std::vector<tessel::archive::FileToAdd> list;
    // The archive itself (under any name) and files being written are never
    // members: reading them while the archive grows would store garbage.
    struct stat self {};
    const bool archiveExists = ::stat(archive.c_str(), &self) == 0;
    for (const auto& f : files) {
        std::string clean;
        if (!tessel::archive::CleanPath(f, &clean) || clean.empty() || clean == "/") return Fail(tessel::kUnlhaRefusedPath, f.c_str());
        struct stat st {};
        const bool itself = archiveExists && ::stat(f.c_str(), &st) == 0 && st.st_dev == self.st_dev && st.st_ino == self.st_ino;
        const std::string member = clean[0] == '/' ? clean.substr(1) : clean;
        if (itself) return Fail(tessel::kUnlhaRefusedPath, (f + ": the archive itself").c_str());
        if (!tessel::lzh::IsSafeMemberPath(member))
            return Fail(tessel::kUnlhaRefusedPath, (tessel::Printable(f) + ": a name an archive cannot hold").c_str());
        list.push_back({f, member});
    }
    std::string report;
    const auto slash = archive.rfind('/');
    tessel::WriteRoot root(slash == std::string::npos ? "." : slash == 0 ? "/" : archive.substr(0, slash));
    std::int32_t rc = tessel::archive::AddFiles(root, slash == std::string::npos ? archive : archive.substr(slash + 1),
                                                list, &report, options);
    std::printf("%s\n", report.c_str());
    return rc ? Fail(rc, tessel::UnlhaResultText(rc)) : 0;
}

// The options of "a": --method and --jobs, before the archive.
bool AddOptionsFrom(std::vector<std::string>& args, tessel::archive::AddOptions& options) {
    options.jobs = tessel::archive::DefaultJobs();
    while (!args.empty() && args[0].compare(0, 2, "--") == 0) {
        if (args.size() < 2) return false;
        const std::string value = args[1];
        if (args[0] == "--method" && (value == "lh5" || value == "lh7")) {
            options.method = "-" + value + "-";
        } else if (args[0] == "--jobs") {
            char* end = nullptr;
            long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 1 || n > 256) return false;
            options.jobs = static_cast<unsigned>(n);
        } else {
            return false;
        }
        args.erase(args.begin(), args.begin() + 2);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string cmd = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (cmd == "a") {
        tessel::archive::AddOptions options;
        if (!AddOptionsFrom(args, options) || args.size() < 2) return Usage();
        return Add(args[0], std::vector<std::string>(args.begin() + 1, args.end()), options);
    }
    const std::string archive = args[0];
    if (cmd == "l" && args.size() == 1) return List(archive);
    if (cmd == "t" && args.size() == 1) return Test(archive);
    if (cmd == "x" && args.size() <= 2) return Extract(archive, args.size() == 2 ? args[1] : ".");
    return Usage();
}
