// The safe write: no link followed below the root, stale temporary files swept.
#include "platform/safe_write.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/dir_listing.h"
#include "platform/file_ops.h"
#include "support/temp_dir.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

int Write(WriteRoot& root, const std::string& rel, const std::string& bytes, FileStamp stamp = {}) {
    return WriteFileBelow(root, rel,
                          [&](int fd) { return ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()) ? 0 : EIO; },
                          stamp);
}

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> out;
    for (auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
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
    WriteRoot fresh(d / "root/made");
    EXPECT_EQ(Write(fresh, "L/x", "bad"), ELOOP);
    EXPECT_EQ(Write(fresh, "L/new/x", "bad"), ELOOP);
    EXPECT_EQ(Write(fresh, "D/x", "bad"), ELOOP);
    EXPECT_EQ(Write(fresh, "a/../x", "bad"), EINVAL);
    EXPECT_EQ(Names(outside.path()), std::vector<std::string>{"victim"});
    WriteFile(d / "root/made/file", "");
    EXPECT_EQ(Write(fresh, "file/x", "bad"), ENOTDIR);

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
    const auto listed = ListDirectory(d.path(), kListFiles);
    ASSERT_EQ(listed.size(), 1u);
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

TEST(CopyFile, NeverWritesThroughALinkAndFollowsOnlyInstallationSources) {
    TempDir d, outside;
    WriteFile(d / "src", "contents");
    WriteFile(outside / "victim", "keep");
    // A link planted where the copy goes, or at an old-style temporary name.
    ASSERT_EQ(::symlink((outside / "victim").c_str(), (d / "dst").c_str()), 0);
    ASSERT_EQ(::symlink((outside / "victim").c_str(), (d / ("dst.tessel-tmp-" + std::to_string(getpid()))).c_str()), 0);
    EXPECT_EQ(CopyFile(d / "src", d / "dst").resultText(), "成功");
    EXPECT_EQ(ReadFile(outside / "victim"), "keep");
    EXPECT_EQ(ReadFile(d / "dst"), "contents");
    EXPECT_EQ(CopyFile(d / "src", d / std::string(255, 'x')).resultText(), "成功");
    EXPECT_EQ(ReadFile(d / std::string(255, 'x')), "contents");

    // A source link: refused for backup copies, followed for installation files.
    ASSERT_EQ(::symlink((d / "src").c_str(), (d / "template").c_str()), 0);
    EXPECT_EQ(CopyFile(d / "template", d / "a").resultText(), "Error:" + std::to_string(ELOOP));
    EXPECT_EQ(CopyFile(d / "template", d / "b", SourceLinks::kFollow).resultText(), "成功");
    EXPECT_EQ(ReadFile(d / "b"), "contents");
}

}  // namespace
}  // namespace tessel
