#include "platform/dir_listing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "support/awkward_names.h"
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

TEST_F(MixedDirectory, MasksGiveVisibleDirectoriesAndFilesOrRegularFilesHiddenIncludedSorted) {
    EXPECT_EQ(Names(ListDirectory(dir.path(), kListDirectoriesAndFiles)),
              (std::vector<std::string>{"a.txt", "b.txt", "sub/"}));
    EXPECT_EQ(Names(ListDirectory(dir.path(), kListFiles)), (std::vector<std::string>{".hidden", "a.txt", "b.txt"}));
    EXPECT_TRUE(ListDirectory(dir / "missing", kListFiles).empty());
    EXPECT_TRUE(ListDirectory(dir / "a.txt", kListDirectoriesAndFiles).empty());
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

TEST(ListDirectory, AwkwardNamesComeBackByteForByte) {
    TempDir dir;
    std::vector<std::string> names = test::kAwkwardNames;
    for (const auto& n : names) WriteFile(dir / n, "x");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(Names(ListDirectory(dir.path(), kListFiles)), names);
}

}  // namespace
}  // namespace tessel
