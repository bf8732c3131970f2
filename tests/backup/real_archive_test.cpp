// The engine with the real archiver: what lands in the archives.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/archive_members.h"
#include "backup_fixture.h"
#include "support/awkward_names.h"

namespace tessel::test {
namespace {

// Runs the engine through its production entry (RunArchiver).
void RunReal(BackupFixture& f, const std::string& initialFlag, const std::string& kind, int runNumber) {
    BackupDirectory(f.state, f.options, f.source, initialFlag, kind, f.destination, runNumber, 1, "01");
}

// Every file, awkward names too, lands in its level's archive, reads back with tessel-lzh and lhasa.
TEST(RealArchive, VersionsLandInTheirLevelsArchive) {
    BackupFixture f;
    f.options.compression = "1";
    MakeDirs(f.src(kAwkwardDir));
    WriteFile(f.src("a.txt"), std::string(5000, 'a'));
    for (const auto& n : kAwkwardNames) {
        WriteFile(f.src(n), "top " + n);
        WriteFile(f.src(kAwkwardDir + "/" + n), "deep " + n);
    }
    RunReal(f, "1", "1", 0);
    EXPECT_TRUE(f.ui.messages.empty()) << (f.ui.messages.empty() ? "" : f.ui.messages[0]);
    const std::string level0 = f.dst("V00000/bkpcmp.lzh");
    auto members = ListMembers(level0);
    EXPECT_EQ(members.size(), 1 + 2 * kAwkwardNames.size());
    EXPECT_EQ(members[MemberPath(f.src("a.txt"))], 5000u);
    for (const auto& n : kAwkwardNames) {
        EXPECT_EQ(members.count(MemberPath(f.src(n))), 1u) << n;
        EXPECT_EQ(members.count(MemberPath(f.src(kAwkwardDir + "/" + n))), 1u) << n;
    }
    for (const auto& r : f.rows()) EXPECT_EQ(r.kbn1, "0") << r.filenm;
    TempDir out;
    ASSERT_EQ(Shell(std::string(TESSEL_BINARY_DIR) + "/tessel-lzh x " + ShellQuote(level0) + " " + ShellQuote(out.path()) +
                    " >/dev/null"),
              0);
    EXPECT_EQ(ReadFile(out.path() + f.src("丂☃😀.txt")), "top 丂☃😀.txt");
    EXPECT_EQ(Shell("lhasa t " + ShellQuote(level0) + " >/dev/null 2>&1"), 0);

    const size_t before = f.rows().size();
    WriteFile(f.src("a.txt"), "new a");
    RunReal(f, "9", "1", 1);
    EXPECT_EQ(f.rows().size(), before + 1) << "every other name was found again";
    EXPECT_EQ(ListMembers(f.dst("V00001/bkpcmp.lzh")), (std::map<std::string, std::uint64_t>{{MemberPath(f.src("a.txt")), 5}}));
    EXPECT_EQ(ListMembers(level0)[MemberPath(f.src("a.txt"))], 5000u);
}

}  // namespace
}  // namespace tessel::test
