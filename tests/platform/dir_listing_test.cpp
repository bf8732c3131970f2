#include "platform/dir_listing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace tessel {
namespace {

using test::TempDir;
using test::WriteFile;

std::vector<std::string> Names(const std::vector<DirectoryEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.name + (e.directory ? "/" : ""));
    return out;
}

// A directory holding one entry of every kind the listing has to tell apart.
class MixedDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir / "b.txt", "b");
        WriteFile(dir / "a.txt", "a");
        WriteFile(dir / ".hidden", "h");
        mkdir((dir / "sub").c_str(), 0755);
        mkdir((dir / ".hiddendir").c_str(), 0755);
        mkfifo((dir / "fifo").c_str(), 0644);
        symlink("a.txt", (dir / "link-to-file").c_str());
        symlink("sub", (dir / "link-to-dir").c_str());
        symlink("missing", (dir / "dangling").c_str());
    }
    TempDir dir;
};

TEST_F(MixedDirectory, MaskSixteenGivesVisibleDirectoriesAndFilesSorted) {
    EXPECT_EQ(Names(ListDirectory(dir.path(), kListDirectoriesAndFiles)),
              (std::vector<std::string>{"a.txt", "b.txt", "sub/"}));
}

TEST_F(MixedDirectory, MaskSevenGivesRegularFilesHiddenIncluded) {
    EXPECT_EQ(Names(ListDirectory(dir.path(), kListFiles)), (std::vector<std::string>{".hidden", "a.txt", "b.txt"}));
}

TEST_F(MixedDirectory, AttributesDescribeTheEntryItselfNeverTheLinkTarget) {
    EXPECT_EQ(ReadAttributes(dir / "a.txt"), kAttrNormal);
    EXPECT_EQ(ReadAttributes(dir / "sub"), kAttrDirectory);
    EXPECT_EQ(ReadAttributes(dir / "sub/"), kAttrDirectory);
    EXPECT_EQ(ReadAttributes(dir / ".hidden"), kAttrHidden);
    EXPECT_EQ(ReadAttributes(dir / ".hiddendir"), kAttrDirectory | kAttrHidden);
    EXPECT_EQ(ReadAttributes(dir / "link-to-dir"), kAttrSystem);
    EXPECT_EQ(ReadAttributes(dir / "link-to-file"), kAttrSystem);
    EXPECT_EQ(ReadAttributes(dir / "fifo"), kAttrSystem);
    EXPECT_EQ(ReadAttributes(dir / "nothing-here"), 0u);
    chmod((dir / "b.txt").c_str(), 0444);
    EXPECT_EQ(ReadAttributes(dir / "b.txt"), kAttrReadOnly);
}

TEST(ListDirectory, MissingOrNonDirectoryGivesNothing) {
    TempDir dir;
    WriteFile(dir / "file", "x");
    EXPECT_TRUE(ListDirectory(dir / "missing", kListFiles).empty());
    EXPECT_TRUE(ListDirectory(dir / "file", kListDirectoriesAndFiles).empty());
    EXPECT_TRUE(ListDirectory(dir.path(), kListDirectoriesAndFiles).size() == 1);
}

TEST(ListDirectory, NamesThatAreNotUtf8ComeBackByteForByte) {
    TempDir dir;
    const std::string odd = std::string("caf\xe9 \xff'-x \"q\".txt");
    WriteFile(dir / odd, "x");
    WriteFile(dir / "-leading dash", "x");
    auto names = Names(ListDirectory(dir.path(), kListFiles));
    EXPECT_EQ(names, (std::vector<std::string>{"-leading dash", odd}));
}

}  // namespace
}  // namespace tessel
