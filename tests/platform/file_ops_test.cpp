#include "platform/file_ops.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace tessel {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kENOENT = "Error:" + std::to_string(ENOENT);
const std::string kEINVAL = "Error:" + std::to_string(EINVAL);

TEST(CopyFileReport, ReplacesTheTargetKeepingTimeAndModeAndFailuresGiveTheErrorNumber) {
    TempDir d;
    WriteFile(d / "src", "new contents");
    WriteFile(d / "dst", "old contents that are longer");
    struct timespec times[2] = {{1000000000, 0}, {1234567890, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, (d / "src").c_str(), times, 0), 0);
    ASSERT_EQ(chmod((d / "src").c_str(), 0640), 0);
    EXPECT_EQ(CopyFileReport(d / "src", d / "dst"), "成功");
    EXPECT_EQ(ReadFile(d / "dst"), "new contents");
    struct stat st {};
    ASSERT_EQ(stat((d / "dst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
    EXPECT_EQ(st.st_mtim.tv_nsec, 500);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.path()), {}), 2) << "no temporary file left";

    EXPECT_EQ(CopyFileReport(d / "missing", d / "x"), kENOENT);
    EXPECT_EQ(CopyFileReport(d / "src", d / "no-such-dir/x"), kENOENT);
    // A directory or FIFO is refused at once instead of blocking the copy.
    std::filesystem::create_directory(d / "sub");
    ASSERT_EQ(mkfifo((d / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(CopyFileReport(d / "sub", d / "y"), kEINVAL);
    EXPECT_EQ(CopyFileReport(d / "fifo", d / "z"), kEINVAL);
    EXPECT_FALSE(std::filesystem::exists(d / "z"));

    EXPECT_EQ(DeleteFileReport(d / "dst"), "成功");
    EXPECT_EQ(DeleteFileReport(d / "dst"), kENOENT);
    EXPECT_EQ(test::Shell("test \"$(id -un)\" = " + test::ShellQuote(GetLoginUserName())), 0) << GetLoginUserName();
}

}  // namespace
}  // namespace tessel
