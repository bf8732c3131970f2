// Files as the engines see and write them: code page 932 text, copies and
// deletes, and the safe write that never follows a link below its root and
// sweeps stale temporary files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/codepage.h"
#include "platform/dir_listing.h"
#include "platform/file_ops.h"
#include "platform/safe_write.h"
#include "platform/unique_fd.h"
#include "support/temp_dir.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string Err(int e) { return "Error:" + std::to_string(e); }

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> out;
    for (auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
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

TEST(CopyFile, ReplacesTheTargetKeepingTimeAndModeNeverThroughALinkAndFailuresGiveTheErrorNumber) {
    TempDir d, outside;
    WriteFile(d / "src", "new contents");
    WriteFile(d / "dst", "old contents that are longer");
    test::SetMtime(d / "src", 1234567890, 500);
    ASSERT_EQ(chmod((d / "src").c_str(), 0640), 0);
    EXPECT_EQ(CopyFile(d / "src", d / "dst").resultText(), "成功");
    EXPECT_EQ(ReadFile(d / "dst"), "new contents");
    struct stat st {};
    ASSERT_EQ(stat((d / "dst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
    EXPECT_EQ(st.st_mtim.tv_nsec, 500);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(d.path()), (std::vector<std::string>{"dst", "src"})) << "no temporary file left";

    EXPECT_EQ(CopyFile(d / "missing", d / "x").message(), "コピー元を読めません (" + (d / "missing") + "): " + std::strerror(ENOENT));
    EXPECT_EQ(CopyFile(d / "src", d / "no-such-dir/x").resultText(), Err(ENOENT));
    // A directory or FIFO is refused at once instead of blocking the copy.
    fs::create_directory(d / "sub");
    ASSERT_EQ(mkfifo((d / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(CopyFile(d / "sub", d / "y").resultText(), Err(EINVAL));
    EXPECT_EQ(CopyFile(d / "fifo", d / "z").resultText(), Err(EINVAL));
    EXPECT_FALSE(fs::exists(d / "z"));
    EXPECT_EQ(DeleteFile(d / "dst").resultText(), "成功");
    EXPECT_EQ(DeleteFile(d / "dst").resultText(), Err(ENOENT));

    // A link planted where the copy goes, or at an old-style temporary name.
    WriteFile(outside / "victim", "keep");
    ASSERT_EQ(::symlink((outside / "victim").c_str(), (d / "dst").c_str()), 0);
    ASSERT_EQ(::symlink((outside / "victim").c_str(), (d / ("dst.tessel-tmp-" + std::to_string(getpid()))).c_str()), 0);
    EXPECT_EQ(CopyFile(d / "src", d / "dst").resultText(), "成功");
    EXPECT_EQ(ReadFile(outside / "victim"), "keep");
    EXPECT_EQ(ReadFile(d / "dst"), "new contents");
    // A source link: refused for backup copies, followed for installation files.
    ASSERT_EQ(::symlink((d / "src").c_str(), (d / "template").c_str()), 0);
    EXPECT_EQ(CopyFile(d / "template", d / "a").resultText(), Err(ELOOP));
    EXPECT_EQ(CopyFile(d / "template", d / "b", SourceLinks::kFollow).resultText(), "成功");
    EXPECT_EQ(ReadFile(d / "b"), "new contents");
    EXPECT_EQ(test::Shell("test \"$(id -un)\" = " + test::ShellQuote(GetLoginUserName())), 0) << GetLoginUserName();
}

int Write(WriteRoot& root, const std::string& rel, const std::string& bytes, FileStamp stamp = {}) {
    return WriteFileBelow(root, rel,
                          [&](int fd) { return ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()) ? 0 : EIO; },
                          stamp);
}

TEST(SafeWrite, WritesBelowTheRootAndNeverThroughALink) {
    TempDir d, outside;
    WriteRoot root(d / "root/made");  // the root and its parents are made
    FileStamp stamp;
    stamp.mode = 0640;
    stamp.mtime = timespec{1234567890, 123456700};
    const std::string deep = "a/b/" + std::string(255, 'n');
    EXPECT_EQ(Write(root, deep, "deep", stamp), 0);
    EXPECT_EQ(ReadFile(d / ("root/made/" + deep)), "deep");
    struct stat st {};
    ASSERT_EQ(::stat((d / ("root/made/" + deep)).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);

    // A link at the target is replaced; its target stays as it was.
    WriteFile(outside / "victim", "keep");
    ASSERT_EQ(::symlink((outside / "victim").c_str(), (d / "root/made/a/t").c_str()), 0);
    EXPECT_EQ(Write(root, "a/t", "new"), 0);
    ASSERT_EQ(::lstat((d / "root/made/a/t").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadFile(outside / "victim"), "keep");

    // A link in the way below the root, dangling or not, is refused.
    ASSERT_EQ(::symlink(outside.path().c_str(), (d / "root/made/L").c_str()), 0);
    ASSERT_EQ(::symlink((outside / "gone").c_str(), (d / "root/made/D").c_str()), 0);
    WriteFile(d / "root/made/file", "");
    WriteRoot fresh(d / "root/made");
    const std::pair<const char*, int> refused[] = {{"L/x", ELOOP}, {"L/new/x", ELOOP}, {"D/x", ELOOP}, {"a/../x", EINVAL}, {"file/x", ENOTDIR}};
    for (const auto& [rel, error] : refused) EXPECT_EQ(Write(fresh, rel, "bad"), error) << rel;
    EXPECT_EQ(Names(outside.path()), std::vector<std::string>{"victim"});

    // A failing writer leaves neither a target nor a temporary file.
    EXPECT_EQ(WriteFileBelow(fresh, "a/failed", [](int) { return ENOSPC; }, {}), ENOSPC);
    EXPECT_EQ(Names(d / "root/made/a"), (std::vector<std::string>{"b", "t"}));
    // The root itself may be reached through a link (the user named it).
    ASSERT_EQ(::symlink((d / "root/made").c_str(), (d / "alias").c_str()), 0);
    WriteRoot alias(d / "alias");
    EXPECT_EQ(Write(alias, "a/via", "ok"), 0);
    EXPECT_EQ(ReadFile(d / "root/made/a/via"), "ok");
}

TEST(SafeWrite, TemporaryFilesCarryThePrefixAndStaleOnesAreSweptButNotLiveOnes) {
    TempDir d;
    // This version's form and older ones; look-alikes are no temporary files.
    for (const auto& [name, temporary] : {std::pair{std::string(kTempPrefix) + "abcd1234", true},
                                          {"report.txt.tessel-tmp-4711", true}, {".tessel-lzh-a1B2c3", true},
                                          {"notes.tessel-tmp-draft", false}, {"tessel-tmp-1", false}})
        EXPECT_EQ(IsTempFileName(name), temporary) << name;

    int dirFd = ::open(d.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dirFd, 0);
    TempFile live;
    ASSERT_EQ(live.create(dirFd), 0);
    EXPECT_EQ(live.name().rfind(kTempPrefix, 0), 0u);
    // A writer killed mid-way leaves its temporary file behind.
    pid_t child = fork();
    if (child == 0) {
        TempFile t;
        if (t.create(dirFd) != 0) _exit(1);
        (void)!::write(t.fd(), "half", 4);
        raise(SIGKILL);
    }
    int status = 0;
    waitpid(child, &status, 0);
    WriteFile(d / "old.tessel-tmp-99999", "left by an older version");
    WriteFile(d / "user.txt", "mine");

    // The listing never shows them and removes the stale ones as it goes.
    EXPECT_EQ(ListDirectory(d.path(), kListFiles).size(), 1u);
    EXPECT_EQ(Names(d.path()), (std::vector<std::string>{live.name(), "user.txt"}));

    // The next safe write sweeps too; the live file stays until committed.
    WriteFile(d / (std::string(kTempPrefix) + "stale123"), "stale");
    WriteRoot root(d.path());
    EXPECT_EQ(Write(root, "out.txt", "x"), 0);
    EXPECT_EQ(Names(d.path()), (std::vector<std::string>{live.name(), "out.txt", "user.txt"}));
    EXPECT_EQ(live.commit("committed", {}), 0);
    EXPECT_EQ(Names(d.path()), (std::vector<std::string>{"committed", "out.txt", "user.txt"}));
    ::close(dirFd);
}

// One read gives both listings of a folder; a kept listing holds only
// while the folder is the same one, with no change since, and was settled
// (not changed just before) when it was read.
TEST(ListDirectory, BothWaysFromOneReadAndAKeptListingHoldsOnlyWhileTheFolderIsUnchanged) {
    TempDir t;
    const std::string d = t / "d";
    fs::create_directories(d + "/sub");
    fs::create_directories(d + "/.hiddensub");
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

}  // namespace
}  // namespace tessel
