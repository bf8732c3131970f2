#include "platform/file_ops.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "support/temp_dir.h"

namespace tessel {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kENOENT = "Error:" + std::to_string(ENOENT);
const std::string kEINVAL = "Error:" + std::to_string(EINVAL);

TEST(CopyFile, ReplacesTheTargetKeepingTimeAndModeAndFailuresGiveTheErrorNumber) {
    TempDir d;
    WriteFile(d / "src", "new contents");
    WriteFile(d / "dst", "old contents that are longer");
    struct timespec times[2] = {{1000000000, 0}, {1234567890, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, (d / "src").c_str(), times, 0), 0);
    ASSERT_EQ(chmod((d / "src").c_str(), 0640), 0);
    EXPECT_EQ(CopyFile(d / "src", d / "dst").resultText(), "成功");
    EXPECT_EQ(ReadFile(d / "dst"), "new contents");
    struct stat st {};
    ASSERT_EQ(stat((d / "dst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
    EXPECT_EQ(st.st_mtim.tv_nsec, 500);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.path()), {}), 2) << "no temporary file left";

    EXPECT_EQ(CopyFile(d / "missing", d / "x").message(), "コピー元を読めません (" + (d / "missing") + "): " + std::strerror(ENOENT));
    EXPECT_EQ(CopyFile(d / "src", d / "no-such-dir/x").resultText(), kENOENT);
    // A directory or FIFO is refused at once instead of blocking the copy.
    std::filesystem::create_directory(d / "sub");
    ASSERT_EQ(mkfifo((d / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(CopyFile(d / "sub", d / "y").resultText(), kEINVAL);
    EXPECT_EQ(CopyFile(d / "fifo", d / "z").resultText(), kEINVAL);
    EXPECT_FALSE(std::filesystem::exists(d / "z"));

    EXPECT_EQ(DeleteFile(d / "dst").resultText(), "成功");
    EXPECT_EQ(DeleteFile(d / "dst").resultText(), kENOENT);
    EXPECT_EQ(test::Shell("test \"$(id -un)\" = " + test::ShellQuote(GetLoginUserName())), 0) << GetLoginUserName();
}

}  // namespace
}  // namespace tessel
