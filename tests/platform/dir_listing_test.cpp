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

// Masks and attributes of every kind of entry; a link's target never counts.
TEST(ListDirectory, MasksAndAttributesOfEveryKindOfEntry) {
    TempDir dir;
    WriteFile(dir / "b.txt", "b");
    WriteFile(dir / "a.txt", "a");
    WriteFile(dir / ".hidden", "h");
    mkdir((dir / "sub").c_str(), 0755);
    mkdir((dir / ".hiddendir").c_str(), 0755);
    mkfifo((dir / "fifo").c_str(), 0644);
    symlink("a.txt", (dir / "link-to-file").c_str());
    symlink("sub", (dir / "link-to-dir").c_str());
    symlink("missing", (dir / "dangling").c_str());
    chmod((dir / "b.txt").c_str(), 0444);
    EXPECT_EQ(Names(ListDirectory(dir.path(), kListDirectoriesAndFiles)), (std::vector<std::string>{"a.txt", "b.txt", "sub/"}));
    EXPECT_EQ(Names(ListDirectory(dir.path(), kListFiles)), (std::vector<std::string>{".hidden", "a.txt", "b.txt"}));
    EXPECT_TRUE(ListDirectory(dir / "missing", kListFiles).empty());
    EXPECT_TRUE(ListDirectory(dir / "a.txt", kListDirectoriesAndFiles).empty());
    const std::pair<const char*, unsigned> attributes[] = {
        {"a.txt", kAttrNormal},        {"b.txt", kAttrReadOnly},      {"sub", kAttrDirectory},
        {"sub/", kAttrDirectory},      {".hidden", kAttrHidden},      {".hiddendir", kAttrDirectory | kAttrHidden},
        {"link-to-dir", kAttrSystem},  {"link-to-file", kAttrSystem}, {"fifo", kAttrSystem},
        {"nothing-here", 0u},
    };
    for (const auto& [name, attr] : attributes) EXPECT_EQ(ReadAttributes(dir / name), attr) << name;
}

}  // namespace
}  // namespace tessel
