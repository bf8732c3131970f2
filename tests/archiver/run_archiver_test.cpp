// RunArchiver: runs the shared state's command and reports failures.
#include <gtest/gtest.h>

#include "archiver/run_archiver.h"
#include "archiver_test_util.h"
#include "support/recording_ui.h"

namespace tessel::test {
namespace {

TEST(RunArchiver, ShowsTheFailureCodeInUpperCaseHexEvenWhenSilent) {
    RecordingUi ui;
    FakeSystem system;
    SharedState state(ui, system);
    for (const std::string silent : {"NO", "YES"}) {
        ui.messages.clear();
        state.silent = silent;
        state.archiverCommand = "u -nd1 /nonexistent-folder/bkpcmp.lzh \"/nonexistent-folder/a.txt\"";
        EXPECT_EQ(RunArchiver(state, "9"), kUnlhaCannotReadSource);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0], "UNLHA32.DLL error return rc = 8107");
        state.archiverCommand = "bad";
        EXPECT_EQ(RunArchiver(state, "1"), kUnlhaBadCommand);
        EXPECT_EQ(ui.messages.back(), "UNLHA32.DLL error return rc = 8105");
    }
}

TEST(RunArchiver, SucceedsSilentlyAndTheArchiveHoldsTheFile) {
    TempDir t;
    WriteFile(t / "a.txt", "content");
    RecordingUi ui;
    FakeSystem system;
    SharedState state(ui, system);
    state.archiverCommand = "u -nd1 " + (t / "bkpcmp.lzh") + " \"" + (t / "a.txt") + "\"";
    EXPECT_EQ(RunArchiver(state, "2"), 0);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(MemberPaths(t / "bkpcmp.lzh"), std::vector<std::string>{(t / "a.txt").substr(1)});
}

}  // namespace
}  // namespace tessel::test
