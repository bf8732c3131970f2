// A member past 4 GiB (a sparse file, so that the test stays quick) goes
// in and comes back out through the 64-bit size extension.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "archiver_test_util.h"

namespace tessel::test {
namespace {

TEST(UnlhaLargeMember, SparseFileOfMoreThanFourGibibytesRoundTrips) {
    TempDir t;
    const std::string file = t / "huge.img";
    const off_t size = (4ll << 30) + 12345;
    const std::pair<off_t, std::string> marks[] = {{0, "head"}, {3ll << 30, "middle"}, {size - 4, "tail"}};
    int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    for (const auto& [at, text] : marks) ASSERT_EQ(::pwrite(fd, text.data(), text.size(), at), ssize_t(text.size()));
    ::close(fd);
    const std::string arc = t / "big.lzh";
    ASSERT_EQ(RunUnlha("u -nd1 " + arc + " " + Quote(file)), 0);
    auto members = Members(arc);
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0].originalSize, static_cast<std::uint64_t>(size));
    EXPECT_LT(members[0].compressedSize, 1u << 20);

    ASSERT_EQ(::unlink(file.c_str()), 0);
    ASSERT_EQ(RunUnlha("e -a1cynx1 " + arc + " " + t.path() + "/ \"huge.img\""), 0);
    fd = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    struct stat st;
    ::fstat(fd, &st);
    EXPECT_EQ(st.st_size, size);
    EXPECT_LT(st.st_blocks * 512, 64ll << 20);  // written back sparse
    for (const auto& [at, text] : marks) {
        std::string back(text.size(), '\0');
        EXPECT_EQ(::pread(fd, back.data(), back.size(), at), ssize_t(text.size()));
        EXPECT_EQ(back, text);
    }
    ::close(fd);
}

}  // namespace
}  // namespace tessel::test
