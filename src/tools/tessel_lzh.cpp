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
#include "platform/paths.h"
#include "archiver/lzh/archive.h"
#include "archiver/unlha.h"
#include "core/command_line.h"
#include "core/standard_output.h"
#include "platform/codepage.h"
#include "platform/safe_write.h"

namespace {

using tessel::lzh::Member;

const char* const kName = "tessel-lzh";
const char* const kCannotWrite = "cannot write the output";

const tessel::ProgramDef& Program() {
    static const tessel::ProgramDef program{
        kName,
        "Lists, checks, extracts and adds to LZH archives: the backups' bkpcmp.lzh and\n"
        "other LHA archives (header levels 0 to 2; methods -lh0-, -lh5-, -lh6-, -lh7-).\n",
        {{"quiet", 'q', nullptr, "print only what failed (no member lines or counts)"},
         {"help", 'h', nullptr, "show this help (COMMAND --help: the command's)"},
         {"version", 0, nullptr, "show the version"}},
        {{"l", "ARCHIVE", "list the members", {}, 1, 1},
         {"t", "ARCHIVE", "check every member's data", {}, 1, 1},
         {"x", "ARCHIVE [FOLDER]", "extract below FOLDER (default: the current directory)", {}, 1, 2},
         {"a",
          "[--method lh7|lh5] [--jobs N] ARCHIVE FILE...",
          "add files, stored under the paths given",
          {{"method", 0, "METHOD", "lh7 (default, 64 KB window) or lh5 (8 KB)"},
           {"jobs", 0, "N", "threads that compress, 1 to 256 (default: TESSEL_JOBS, else one per core)"}},
          2,
          static_cast<std::size_t>(-1)}},
        "exit status:\n"
        "  0  success\n"
        "  1  something failed (said on standard error)\n"
        "  2  wrong command line\n",
        tessel::kEnglishTexts};
    return program;
}

bool quiet = false;

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
        if (!quiet || result != 0)
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
    if (!quiet) std::printf("%s\n", report.c_str());
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
        if (!tessel::CleanPath(f, &clean) || clean.empty() || clean == "/") return Fail(tessel::kUnlhaRefusedPath, f.c_str());
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
    if (!quiet) std::printf("%s\n", report.c_str());
    return rc ? Fail(rc, tessel::UnlhaResultText(rc)) : 0;
}

// The archive the user names for reading, a link to it followed: the tool
// reads what the user points at (the program itself never reads an archive
// through a link at its name).
std::string Named(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string resolved(real);
    std::free(real);
    return resolved;
}

}  // namespace

int main(int argc, char** argv) {
    const tessel::ProgramDef& program = Program();
    tessel::Invocation inv;
    tessel::archive::AddOptions options;
    try {
        inv = tessel::ParseCommandLine(argc, argv, program);
        if (inv.request == tessel::Request::kHelp) {
            std::fputs((inv.command ? tessel::CommandHelp(program, *inv.command) : tessel::ProgramHelp(program)).c_str(), stdout);
            return tessel::FinishStandardOutput(kName, 0, kCannotWrite);
        }
        if (inv.request == tessel::Request::kVersion) {
            std::printf("%s (Tesselバックアップ管理) %s\n", kName, TESSEL_VERSION);
            return tessel::FinishStandardOutput(kName, 0, kCannotWrite);
        }
        quiet = inv.global.has("quiet");
        options.jobs = tessel::archive::DefaultJobs();
        if (auto method = inv.args.value("method")) {
            if (*method != "lh5" && *method != "lh7") throw tessel::UsageError("--method is lh7 or lh5: " + *method, "a");
            options.method = "-" + *method + "-";
        }
        if (auto jobs = inv.args.value("jobs")) {
            std::optional<long long> n = tessel::StrictCount(*jobs, 1, 256);
            if (!n) throw tessel::UsageError("--jobs is a number from 1 to 256: " + *jobs, "a");
            options.jobs = static_cast<unsigned>(*n);
        }
    } catch (const tessel::UsageError& e) {
        std::fputs(tessel::UsageErrorLine(program, e).c_str(), stderr);
        return 2;
    }
    const std::string cmd = inv.command->name;
    const std::vector<std::string>& words = inv.args.words;
    int status = 0;
    if (cmd == "a")
        status = Add(words[0], std::vector<std::string>(words.begin() + 1, words.end()), options);
    else if (cmd == "l")
        status = List(Named(words[0]));
    else if (cmd == "t")
        status = Test(Named(words[0]));
    else
        status = Extract(Named(words[0]), words.size() == 2 ? words[1] : ".");
    return tessel::FinishStandardOutput(kName, status, kCannotWrite);
}
