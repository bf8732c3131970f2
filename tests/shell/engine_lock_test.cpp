#include "platform/engine_lock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace tessel {
namespace {

TEST(EngineLock, OneHolderAtATimeAcrossProcesses) {
    test::TempDir data;
    // The other process holds the lock until told to let go.
    int held[2], release[2];
    ASSERT_EQ(pipe(held), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t child = fork();
    if (child == 0) {
        EngineLock lock(data.path());
        bool ok = lock.tryLock();
        (void)!write(held[1], "x", 1);
        char c;
        (void)!read(release[0], &c, 1);
        _exit(ok ? 0 : 1);
    }
    char c;
    ASSERT_EQ(read(held[0], &c, 1), 1);
    EngineLock mine(data.path());
    EXPECT_FALSE(mine.tryLock());
    EXPECT_TRUE(EngineBusy(data.path()));
    EXPECT_FALSE(mine.lockWithin(0.2));  // waiting gives up after its time
    EXPECT_FALSE(mine.held());
    ASSERT_EQ(write(release[1], "x", 1), 1);
    EXPECT_TRUE(mine.lockWithin(5.0));
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    mine.unlock();
    EXPECT_FALSE(EngineBusy(data.path()));
}

}  // namespace
}  // namespace tessel
