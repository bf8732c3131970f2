// Files as the engines see, record and write them: code page 932 text; a
// file's times as local ticks at the zone offset of the moment, its size and
// the version resource of a PE image; copies and deletes, and the safe write
// that never follows a link below its root and removes only the program's own
// leftovers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <tuple>

#include "platform/codepage.h"
#include "platform/dir_listing.h"
#include "platform/file_ops.h"
#include "platform/file_times.h"
#include "platform/file_version.h"
#include "platform/safe_write.h"
#include "platform/unique_fd.h"
#include "support/pe_image.h"
#include "support/temp_dir.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using test::BuildPe;
using test::NamesIn;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string Err(int e) { return "Error:" + std::to_string(e); }

// A file's permission bits and last-write time.
std::tuple<unsigned, time_t, long> Stamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {0, -1, -1};
    return {st.st_mode & 07777, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

TEST(Codepage, EveryLeadByteRangeConvertsBothWaysAndWhatItCannotHoldFailsOrIsMarked) {
    // Both lead-byte ranges' ends, trail bytes "\\" and lead-like, NEC and IBM extensions.
    const std::pair<std::string, std::string> chars[] = {
        {"　", "\x81\x40"}, {"ソ", "\x83\x5c"}, {"檗", "\x9f\x40"}, {"滌", "\x9f\xfc"}, {"漾", "\xe0\x40"},
        {"熙", "\xea\xa4"}, {"纊", "\xfa\x5c"}, {"ⅰ", "\xfa\x40"}, {"黑", "\xfc\x4b"}, {"ｱ", "\xb1"}};
    for (const auto& [utf8, cp932] : chars) {
        EXPECT_EQ(Utf8ToCp932("a" + utf8 + "z"), "a" + cp932 + "z") << utf8;
        EXPECT_EQ(Cp932ToUtf8("a" + cp932 + "z"), "a" + utf8 + "z") << utf8;
        if (cp932.size() == 2) {
            EXPECT_EQ(Cp932ToUtf8("a" + cp932.substr(0, 1)), std::nullopt) << utf8;
        }
    }
    EXPECT_EQ(Cp932ToUtf8("\xed\x40"), "纊");  // the NEC-selected duplicate reads as the same character
    EXPECT_EQ(Cp932ToUtf8("\x85\x40"), std::nullopt);  // an unassigned lead byte
    EXPECT_FALSE(Utf8ToCp932("Ελληνικά 😀"));
    EXPECT_FALSE(Utf8ToCp932("bad \xff byte"));
    EXPECT_EQ(Utf8ToCp932Lossy("a😀b\xff" "c"), "a?b?c");
    // A cut character, a surrogate, an overlong "/".
    for (const char* bad : {"\xc3", "\xed\xa0\x80", "\xc0\xaf"}) EXPECT_FALSE(IsValidUtf8(bad));
    EXPECT_TRUE(IsValidUtf8("日本語😀"));
}

// The copy writes by the safe write, whose test plants links at the target.
TEST(CopyFile, ReplacesTheTargetKeepingTimeAndModeAndFailuresGiveTheErrorNumber) {
    TempDir d;
    WriteFile(d / "src", "new contents");
    WriteFile(d / "dst", "old contents that are longer");
    test::SetMtime(d / "src", 1234567890, 500);
    ASSERT_EQ(chmod((d / "src").c_str(), 0640), 0);
    EXPECT_EQ(CopyFile(d / "src", d / "dst").resultText(), "成功");
    EXPECT_EQ(ReadFile(d / "dst"), "new contents");
    EXPECT_EQ(Stamp(d / "dst"), std::make_tuple(0640u, time_t{1234567890}, 500L));
    EXPECT_EQ(NamesIn(d.path()), (std::set<std::string>{"dst", "src"})) << "no temporary file left";

    EXPECT_EQ(CopyFile(d / "missing", d / "x").message(), "コピー元を読めません (" + (d / "missing") + "): " + std::strerror(ENOENT));
    // A FIFO is refused at once instead of blocking the copy.
    ASSERT_EQ(mkfifo((d / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(CopyFile(d / "fifo", d / "z").resultText(), Err(EINVAL));
    EXPECT_FALSE(fs::exists(d / "z"));
    EXPECT_EQ(DeleteFile(d / "dst").resultText(), "成功");
    EXPECT_EQ(DeleteFile(d / "dst").resultText(), Err(ENOENT));

    // A source link: refused for backup copies, followed for installation files.
    ASSERT_EQ(::symlink((d / "src").c_str(), (d / "template").c_str()), 0);
    EXPECT_EQ(CopyFile(d / "template", d / "a").resultText(), Err(ELOOP));
    EXPECT_EQ(CopyFile(d / "template", d / "b", SourceLinks::kFollow).resultText(), "成功");
    EXPECT_EQ(ReadFile(d / "b"), "new contents");
    EXPECT_EQ(test::Shell("test \"$(id -un)\" = " + test::ShellQuote(GetLoginUserName())), 0) << GetLoginUserName();
}

int Write(WriteRoot& root, const std::string& rel, const std::string& bytes, FileStamp stamp = {}) {
    return root.writeFile(rel,
                          [&](int fd) { return ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()) ? 0 : EIO; },
                          stamp);
}

// Every operation below a root, on the kernel's openat2 and on the
// component walk alike: written below the root, never through a link at any
// component, never for a path that is not plain.
TEST(SafeWrite, EveryOperationBelowTheRootRefusesLinksAndPathsThatAreNotPlainOnBothResolvers) {
    for (const bool walk : {false, true}) {
        ResolveByWalkForTests(walk);
        TempDir d, outside;
        WriteRoot root(d / "root/made");  // the root and its parents are made
        FileStamp stamp;
        stamp.mode = 0640;
        stamp.mtime = timespec{1234567890, 123456700};
        const std::string deep = "a/b/" + std::string(255, 'n');
        EXPECT_EQ(Write(root, deep, "deep", stamp), 0);
        EXPECT_EQ(ReadFile(d / ("root/made/" + deep)), "deep");
        EXPECT_EQ(Stamp(d / ("root/made/" + deep)), std::make_tuple(0640u, time_t{1234567890}, 123456700L));

        // A link at the target is replaced or removed, never followed.
        WriteFile(outside / "victim", "keep");
        ASSERT_EQ(::chmod((outside / "victim").c_str(), 0444), 0);
        ASSERT_EQ(::symlink((outside / "victim").c_str(), (d / "root/made/a/t").c_str()), 0);
        ASSERT_EQ(::symlink((outside / "victim").c_str(), (d / "root/made/a/u").c_str()), 0);
        EXPECT_EQ(root.setTimes("a/u", timespec{1, 0}), 0);
        EXPECT_EQ(Write(root, "a/t", "new"), 0);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(d / "root/made/a/t")));
        EXPECT_EQ(root.removeFile("a/u"), 0);
        EXPECT_EQ(ReadFile(outside / "victim"), "keep");
        EXPECT_EQ(std::get<0>(Stamp(outside / "victim")), 0444u);
        EXPECT_NE(std::get<1>(Stamp(outside / "victim")), 1);

        // A link on the way (to a folder, dangling, or the root's own
        // place as seen from below), a file in the way, and paths that are
        // not plain: every operation is refused and nothing is written.
        ASSERT_EQ(::symlink(outside.path().c_str(), (d / "root/made/L").c_str()), 0);
        ASSERT_EQ(::symlink((outside / "gone").c_str(), (d / "root/made/D").c_str()), 0);
        ASSERT_EQ(::symlink(".", (d / "root/made/a/self").c_str()), 0);
        WriteFile(d / "root/made/file", "");
        WriteRoot fresh(d / "root/made");
        struct stat st {};
        const std::pair<std::string, int> refused[] = {
            {"L/victim", ELOOP}, {"L/new/x", ELOOP}, {"D/x", ELOOP}, {"a/self/x", ELOOP}, {"file/x", ENOTDIR},
            {"a/../x", EINVAL},  {"./x", EINVAL},    {"/x", EINVAL},  {"a//x", EINVAL},    {"x/", EINVAL},
            {std::string("..\0a/x", 6), EINVAL},     {std::string("a\0/x", 4), EINVAL},    {"", EINVAL}};
        for (const auto& [rel, error] : refused) {
            const std::string shown = Printable(rel);
            int fd = -1;
            EXPECT_EQ(Write(fresh, rel, "bad"), error) << shown << walk;
            EXPECT_EQ(fresh.openFile(rel, O_RDWR | O_CREAT, 0644, &fd), error) << shown;
            EXPECT_EQ(fresh.removeFile(rel), error) << shown;
            EXPECT_EQ(fresh.setTimes(rel, timespec{1, 0}), error) << shown;
            EXPECT_EQ(fresh.statEntry(rel, &st), error) << shown;
            if (!rel.empty()) {
                EXPECT_EQ(fresh.openFolder(rel, &fd), error) << shown;
            }
        }
        EXPECT_EQ(NamesIn(outside.path()), std::set<std::string>{"victim"});
        EXPECT_EQ(ReadFile(outside / "victim"), "keep");

        // A failing writer leaves neither a target nor a temporary file.
        EXPECT_EQ(fresh.writeFile("a/failed", [](int) { return ENOSPC; }, {}), ENOSPC);
        EXPECT_EQ(NamesIn(d / "root/made/a"), (std::set<std::string>{"b", "self", "t"}));
        // Without replace an existing entry stays.
        EXPECT_EQ(fresh.writeFile("a/t", [](int) { return 0; }, {}, false), EEXIST);
        EXPECT_EQ(ReadFile(d / "root/made/a/t"), "new");

        // The root may be reached through a link where the user named it,
        // and not where it must not be one (a destination).
        ASSERT_EQ(::symlink((d / "root/made").c_str(), (d / "alias").c_str()), 0);
        WriteRoot alias(d / "alias");
        EXPECT_EQ(Write(alias, "a/via", "ok"), 0);
        EXPECT_EQ(ReadFile(d / "root/made/a/via"), "ok");
        WriteRoot strict(d / "alias", {Ownership::kProgram, RootLinks::kRefuse});
        EXPECT_EQ(Write(strict, "a/no", "no"), ELOOP);
        EXPECT_EQ(strict.sync(), 0);
        EXPECT_EQ(fresh.sync(), 0);
    }
    ResolveByWalkForTests(false);
}

// Temporary files have one exact form; a killed writer leaves nothing
// where the file system makes unnamed files, and named leftovers are
// removed only from the program's own folders, only when their maker is
// gone, and never for a name that merely looks like one.
TEST(SafeWrite, TemporaryFilesLeaveNothingBehindAndOnlyTheProgramsOwnLeftoversAreRemoved) {
    TempDir d;
    pid_t dead = fork();
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    const std::string leftover = std::string(kTempPrefix) + std::to_string(dead) + "-abcd1234";
    const std::string live = std::string(kTempPrefix) + std::to_string(getpid()) + "-abcd1234";
    const std::vector<std::string> lookAlikes = {
        "notes.tessel-tmp-2024", ".tessel-tmp-mydraft", "bkpcmp.lzh.tmp-abcdef", ".tessel-lzh-abcdef",
        std::string(kTempPrefix) + "12-ABCD1234", std::string(kTempPrefix) + "12-abcd123", std::string(kTempPrefix) + "-abcd1234"};
    EXPECT_TRUE(IsTempFileName(leftover));
    EXPECT_TRUE(IsTempFileName(live));
    for (const auto& name : lookAlikes) EXPECT_FALSE(IsTempFileName(name)) << name;

    // A writer killed mid-way.
    fs::create_directories(d / "owned/sub");
    fs::create_directories(d / "user");
    int dirFd = ::open((d / "owned/sub").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dirFd, 0);
    pid_t child = fork();
    if (child == 0) {
        TempFile t;
        if (t.create(dirFd) != 0) _exit(1);
        (void)!::write(t.fd(), "half", 4);
        raise(SIGKILL);
    }
    waitpid(child, nullptr, 0);
    ::close(dirFd);
    EXPECT_TRUE(NamesIn(d / "owned/sub").empty()) << "an unnamed temporary file vanishes with its writer";

    std::set<std::string> names(lookAlikes.begin(), lookAlikes.end());
    names.insert({leftover, live});
    for (const std::string folder : {"user", "owned", "owned/sub"})
        for (const auto& n : names) WriteFile(d / (folder + "/" + n), "x");
    std::set<std::string> kept = names;
    kept.erase(leftover);

    // A listing shows every name; a user's folder keeps everything.
    EXPECT_EQ(ListDirectory(d / "user", kListFiles).size(), names.size());
    WriteRoot user(d / "user");
    EXPECT_EQ(Write(user, "out.txt", "x"), 0);
    names.insert("out.txt");
    EXPECT_EQ(NamesIn(d / "user"), names);
    // The program's own folders lose exactly the dead maker's leftover.
    WriteRoot owned(d / "owned", {Ownership::kProgram, RootLinks::kRefuse});
    int fd = -1;
    EXPECT_EQ(owned.openFolder("sub", &fd), 0);
    EXPECT_EQ(NamesIn(d / "owned/sub"), kept);
    kept.insert("sub");
    EXPECT_EQ(NamesIn(d / "owned"), kept);
}

// One read gives both listings of a folder; a kept listing holds only
// while the folder is the same one with no change since (its change time
// tells even when its last-write time is put back), and was settled (not
// changed just before) when it was read.
TEST(ListDirectory, BothWaysFromOneReadAndAKeptListingHoldsOnlyWhileTheFolderIsUnchanged) {
    TempDir t;
    const std::string d = t / "d";
    fs::create_directories(d + "/sub");
    WriteFile(d + "/b.txt", "b");
    WriteFile(d + "/.hidden", "h");
    ASSERT_EQ(::symlink("b.txt", (d + "/link").c_str()), 0);
    std::vector<DirectoryEntry> both, files;
    DirectoryStamp stamp;
    ASSERT_EQ(ListDirectoryBothWays(d, both, files, stamp), 0);
    auto names = [](const std::vector<DirectoryEntry>& v) {
        std::vector<std::string> out;
        for (const auto& e : v) out.push_back(e.name + (e.directory ? "/" : ""));
        return out;
    };
    EXPECT_EQ(names(both), (std::vector<std::string>{"b.txt", "sub/"}));
    EXPECT_EQ(names(files), (std::vector<std::string>{".hidden", "b.txt"}));
    EXPECT_EQ(names(ListDirectory(d, kListDirectoriesAndFiles)), names(both));
    EXPECT_EQ(names(ListDirectory(d, kListFiles)), names(files));

    auto unchanged = [&] {
        UniqueFd fd(::open(d.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        return UnchangedSinceListed(fd.get(), stamp);
    };
    EXPECT_FALSE(unchanged()) << "changed just before it was read";
    stamp.taken.tv_sec += 10;  // as if read well after its last change
    EXPECT_TRUE(unchanged());
    WriteFile(d + "/c.txt", "c");
    EXPECT_FALSE(unchanged());
    // Its last-write time put back: the change time still tells.
    const struct timespec back[2] = {stamp.mtime, stamp.mtime};
    ASSERT_EQ(::utimensat(AT_FDCWD, d.c_str(), back, 0), 0);
    EXPECT_FALSE(unchanged());
    // Another folder in its place.
    ASSERT_EQ(ListDirectoryBothWays(d, both, files, stamp), 0);
    stamp.taken.tv_sec += 10;
    fs::rename(d, t / "old");
    fs::create_directories(d);
    ASSERT_EQ(::utimensat(AT_FDCWD, d.c_str(), back, 0), 0);
    EXPECT_FALSE(unchanged());
}

constexpr std::int64_t kTicks1970 = 116444736000000000;

// Last-write times are local ticks at the zone offset in force at the file's
// own time, split into signed halves; the size keeps its low 32 bits.
TEST(ReadFileTimes, LocalTicksAtTheOffsetOfTheFilesOwnTimeLow32BitSizesAndCalendarEdges) {
    const struct {
        const char* zone;
        std::int64_t unixSeconds;
        long nanoseconds;
        int offset;
        const char *date, *time;
    } cases[] = {
        {"Asia/Tokyo", 1049515509, 123456789, 9 * 3600, "2003年4月5日(土)", "13時5分9秒"},  // low half has its top bit set
        {"Europe/Berlin", 1705320000, 0, 3600, "2024年1月15日(月)", "13時0分0秒"},         // CET
        {"Europe/Berlin", 1721044800, 0, 7200, "2024年7月15日(月)", "14時0分0秒"},         // CEST
    };
    const char* oldZone = std::getenv("TZ");
    const std::string saved = oldZone ? oldZone : "";
    TempDir dir;
    WriteFile(dir / "f", "hello");
    for (const auto& c : cases) {
        setenv("TZ", c.zone, 1);
        tzset();
        test::SetMtime(dir / "f", c.unixSeconds, c.nanoseconds);
        const FileTimes t = ReadFileTimes(dir / "f");
        ASSERT_EQ(t.status, 0);
        const std::int64_t expect = kTicks1970 + (c.unixSeconds + c.offset) * 10000000 + c.nanoseconds / 100;
        EXPECT_EQ(t.lastWrite.high, static_cast<std::int32_t>(expect >> 32)) << c.date;
        EXPECT_EQ(t.lastWrite.low, static_cast<std::int32_t>(static_cast<std::uint32_t>(expect))) << c.date;
        EXPECT_EQ(t.size, 5);
        EXPECT_EQ(FormatFileTime(t.lastWrite).date, c.date);
        EXPECT_EQ(FormatFileTime(t.lastWrite).time, c.time);
    }
    oldZone ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
    for (const off_t size : {(1LL << 32) + 7, 0xC0000000LL}) {
        ASSERT_EQ(truncate((dir / "f").c_str(), size), 0);
        const FileTimes t = ReadFileTimes(dir / "f");
        EXPECT_EQ(t.size, static_cast<std::int32_t>(static_cast<std::uint32_t>(size)));
        EXPECT_LE(t.creation.ticks(), t.lastWrite.ticks());  // the birth time where kept
    }
    EXPECT_EQ(ReadFileTimes(dir / "missing").status, 9);
    const FileTimeTexts before1970 = FormatFileTime(FileTime::FromTicks(kTicks1970 - 10000000));
    EXPECT_EQ(before1970.date + before1970.time, "1969年12月31日(水)23時59分59秒");
}

// All six fields on one line; a file without a version gives kNone.
std::string Fields(const FileVersion& v) {
    return v.fileText + " " + std::to_string(v.fileHigh) + " " + std::to_string(v.fileLow) + " / " + v.productText + " " +
           std::to_string(v.productHigh) + " " + std::to_string(v.productLow);
}
const std::string kNone = "  0 0 /   0 0";
const std::string kTruth = "1.2.3.4 65538 196612 / 65535.0.40000.7 -65536 -1673527289";

// A truncated image gives the true version or none, never other numbers
// (corrupted and arbitrary bytes are the file version fuzz target's).
TEST(ReadFileVersion, TheFourNumbersAndTextsOfTheResourceEverythingElseNoneAndDamageNeverOtherNumbers) {
    if (!test::HaveMingw()) GTEST_SKIP() << "mingw-w64 binutils are not installed";
    TempDir dir;
    const std::string versioned = BuildPe(dir, "versioned", test::kVersionedRc), image = ReadFile(versioned);
    EXPECT_EQ(Fields(ReadFileVersion(versioned)), kTruth);
    // The halves are unsigned 16-bit fields, whatever the sign of the half.
    EXPECT_EQ(Fields(ParseFileVersion(test::WithVersion(image, 0x80010002u, 0x00030004u, 0xFFFFFFFFu, 0xFFFFFFFFu))),
              "32769.2.3.4 -2147418110 196612 / 65535.65535.65535.65535 -1 -1");
    FileVersion v;
    const FileTimes t = ReadFileInfo(versioned, v);
    ASSERT_EQ(t.status, 0);
    EXPECT_EQ(t.lastWrite.ticks(), ReadFileTimes(versioned).lastWrite.ticks());
    EXPECT_EQ(t.size, static_cast<std::int32_t>(image.size()));
    EXPECT_EQ(Fields(v), kTruth);

    // A link to a versioned image is not followed; a FIFO is not waited on.
    WriteFile(dir / "text.txt", "MZ but only text, nothing more of a PE header here........................");
    ASSERT_EQ(symlink(versioned.c_str(), (dir / "link.exe").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "pipe.exe").c_str(), 0644), 0);
    for (const std::string& path : {BuildPe(dir, "plain", ""), BuildPe(dir, "other", "7 RCDATA\nBEGIN\n  \"data\"\nEND\n"),
                                    dir / "text.txt", dir / "missing.exe", dir.path(), dir / "link.exe", dir / "pipe.exe"}) {
        EXPECT_EQ(Fields(ReadFileVersion(path)), kNone) << path;
        if (path.ends_with(".txt") || path.find("/plain") != std::string::npos || path.find("/other") != std::string::npos) continue;
        FileVersion none;
        EXPECT_EQ(ReadFileInfo(path, none).status, 9) << path;
        EXPECT_EQ(Fields(none), kNone) << path;
    }

    for (size_t n = 0; n < image.size(); n += 7) {
        const std::string prefix = Fields(ParseFileVersion(std::string_view(image).substr(0, n)));
        EXPECT_TRUE(prefix == kTruth || prefix == kNone) << "prefix of " << n;
    }
}

}  // namespace
}  // namespace tessel
