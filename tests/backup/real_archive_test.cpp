// The engine with the real archiver: what lands in the archives.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "archive_members.h"
#include "backup_fixture.h"
#include "support/awkward_names.h"

namespace tessel::test {
namespace {

// Runs the engine through its production entry (RunArchiver).
void RunReal(BackupFixture& f, const std::string& initialFlag, const std::string& kind, int runNumber,
             const std::string& subdirFlag = "01") {
    BackupDirectory(f.state, f.source, initialFlag, kind, f.destination, runNumber, 1, subdirFlag);
}

std::string Extracted(const std::string& archive, const TempDir& into, const std::string& absolute) {
    EXPECT_EQ(Shell(std::string(TESSEL_BINARY_DIR) + "/tessel-lzh x " + ShellQuote(archive) + " " +
                    ShellQuote(into.path()) + " >/dev/null"),
              0);
    return ReadFile(into.path() + absolute);
}

TEST(RealArchive, InitialBackupPutsEveryFileIntoLevelZerosArchive) {
    BackupFixture f;
    f.state.compression = "1";
    MakeDirs(f.src("SUB"));
    WriteFile(f.src("a.txt"), std::string(5000, 'a'));
    WriteFile(f.src("SUB/b.txt"), "bee");
    RunReal(f, "1", "1", 0);
    EXPECT_TRUE(f.ui.messages.empty());
    auto members = ListMembers(f.dst("V00000/bkpcmp.lzh"));
    EXPECT_EQ(members, (std::map<std::string, std::uint64_t>{{MemberPath(f.src("a.txt")), 5000},
                                                             {MemberPath(f.src("SUB/b.txt")), 3}}));
    TempDir out;
    EXPECT_EQ(Extracted(f.dst("V00000/bkpcmp.lzh"), out, f.src("SUB/b.txt")), "bee");
    EXPECT_EQ(Shell("lhasa t " + ShellQuote(f.dst("V00000/bkpcmp.lzh")) + " >/dev/null 2>&1"), 0);
    for (const auto& r : f.rows()) EXPECT_EQ(r.kbn1, "0");

    // The next version of a.txt goes into the archive of level 1, the
    // level-0 archive keeps the first one.
    WriteFile(f.src("a.txt"), "new a");
    RunReal(f, "9", "1", 1);
    EXPECT_EQ(ListMembers(f.dst("V00001/bkpcmp.lzh")),
              (std::map<std::string, std::uint64_t>{{MemberPath(f.src("a.txt")), 5}}));
    EXPECT_EQ(ListMembers(f.dst("V00000/bkpcmp.lzh"))[MemberPath(f.src("a.txt"))], 5000u);
}

TEST(RealArchive, AwkwardNamesAreArchivedAndFoundAgain) {
    BackupFixture f;
    f.state.compression = "1";
    const std::vector<std::string>& names = kAwkwardNames;
    MakeDirs(f.src(kAwkwardDir));
    for (const auto& n : names) {
        WriteFile(f.src(n), "top " + n);
        WriteFile(f.src(kAwkwardDir + "/" + n), "deep " + n);
    }
    RunReal(f, "9", "1", 1);
    EXPECT_TRUE(f.ui.messages.empty()) << (f.ui.messages.empty() ? "" : f.ui.messages[0]);
    auto members = ListMembers(f.dst("V00001/bkpcmp.lzh"));
    TempDir out;
    for (const auto& n : names) {
        EXPECT_EQ(members.count(MemberPath(f.src(n))), 1u) << n;
        EXPECT_EQ(members.count(MemberPath(f.src(kAwkwardDir + "/" + n))), 1u) << n;
    }
    for (const auto& r : f.rows()) EXPECT_EQ(r.kbn1, "0") << r.filenm;
    EXPECT_EQ(Extracted(f.dst("V00001/bkpcmp.lzh"), out, f.src("丂☃😀.txt")), "top 丂☃😀.txt");
    size_t before = f.rows().size();
    RunReal(f, "9", "1", 2);
    EXPECT_EQ(f.rows().size(), before);
}

TEST(RealArchive, BulkBackupHoldsTheWholeTreeInOneArchive) {
    BackupFixture f;
    f.state.compression = "1";
    MakeDirs(f.src("A/B"));
    WriteFile(f.src("top.txt"), "t");
    WriteFile(f.src("A/B/deep.txt"), "d");
    RunReal(f, "1", "3", 0, "01");
    EXPECT_TRUE(f.ui.messages.empty());
    auto members = ListMembers(f.dst("bkpcmp.lzh"));
    EXPECT_EQ(members.count(MemberPath(f.src("top.txt"))), 1u);
    EXPECT_EQ(members.count(MemberPath(f.src("A/B/deep.txt"))), 1u);
    EXPECT_FALSE(PathExists(f.dst("V00000")));
    for (const auto& r : f.rows()) EXPECT_EQ(r.kbn1, "2");
}

}  // namespace
}  // namespace tessel::test
