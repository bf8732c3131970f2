// The engine with the real archiver: what lands in each level's archive, read
// back with tessel-lzh and lhasa, and two data folders backed up at once, each
// on its own thread, giving what running them one after the other gives.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "backup_fixture.h"
#include "support/archive_members.h"
#include "support/awkward_names.h"

namespace tessel::test {
namespace {

const char* const kDirs[] = {"", "sub/", "sub/deeper/", "データ/"};

std::string TreeFile(int i) { return kDirs[i % 4] + ("f" + std::to_string(i) + (i % 3 ? ".txt" : ".bin")); }

// One data folder with its own state, catalog, source tree and destination.
struct Folder : BackupFixture {
    explicit Folder(int seed) : seed(seed) {
        options.compression = "1";
        for (const std::string d : {"sub/deeper", "データ", kAwkwardDir.c_str()}) MakeDirs(src(d));
        for (const auto& n : kAwkwardNames) {
            WriteFile(src(n), "top " + n);
            WriteFile(src(kAwkwardDir + "/" + n), "deep " + n);
        }
    }

    // Writes every numbered file in place (same inode, so the same creation
    // time) with contents and times that depend on the seed; every fifth
    // file changes from one round to the next.
    void populate(int round) {
        std::uint32_t x = 2463534242u + seed;
        for (int i = 0; i < 24; ++i) {
            std::string bytes(i % 3 ? 3000 + 4000 * i : 150000 + 1000 * i, static_cast<char>('a' + (i + seed) % 26));
            if (i % 3 == 0)
                for (char& c : bytes) c = static_cast<char>((x ^= x << 13, x ^= x >> 17, x ^= x << 5) >> 24);
            if (round > 0 && i % 5 == 0) bytes += "changed in round " + std::to_string(round);
            WriteFile(src(TreeFile(i)), bytes);
            SetMtime(src(TreeFile(i)), 1700000000 + 1000 * seed + i + (round > 0 && i % 5 == 0 ? 86400 * round : 0));
        }
    }

    // A fresh catalog, an empty destination and the files of round 0.
    void reset() {
        state.catalog.reset();
        std::filesystem::remove(data / "filebkp.mdb");
        std::filesystem::remove_all(destination);
        MakeDirs(destination);
        OpenFreshCatalog(data, state);
        ui.messages.clear();
        populate(0);
    }

    // An initial backup and two runs through the production archiver call.
    void backUp() {
        for (int run = 0; run < 3; ++run) {
            if (run > 0) populate(run);
            BackupDirectory(state, options, source, run == 0 ? "1" : "9", "1", destination, run, 1, "01");
        }
    }

    // Every catalog row, every archive's member list and bytes, every message.
    std::vector<std::string> outcome() {
        std::vector<std::string> out;
        Statement q = state.db().prepare("SELECT * FROM FILEKANRI ORDER BY rowid");
        while (q.step()) {
            out.emplace_back();
            for (int c = 0; c < sqlite3_column_count(q.raw()); ++c) out.back() += (q.isNull(c) ? "NULL" : q.text(c)) + "|";
        }
        for (const std::string level : {"V00000", "V00001", "V00002"}) {
            const std::string archive = destination + "/" + level + "/bkpcmp.lzh";
            for (const auto& [member, size] : ListMembers(archive)) out.push_back(member + " " + std::to_string(size));
            out.push_back(level + " bytes " + std::to_string(std::hash<std::string>{}(ReadFile(archive))));
        }
        out.insert(out.end(), ui.messages.begin(), ui.messages.end());
        return out;
    }

    int seed;
};

TEST(RealArchive, VersionsLandInTheirLevelsArchiveAlsoWithTwoFoldersOnTwoThreads) {
    Folder a(1), b(2);
    a.reset();
    b.reset();
    a.backUp();
    b.backUp();

    // Every file, awkward names too, is in level 0's archive; later levels hold only the changed files.
    EXPECT_TRUE(a.ui.messages.empty()) << a.ui.messages[0];
    const std::string level0 = a.dst("V00000/bkpcmp.lzh");
    auto members = ListMembers(level0);
    EXPECT_EQ(members.size(), 24 + 2 * kAwkwardNames.size());
    EXPECT_EQ(members[MemberPath(a.src("sub/f1.txt"))], 7000u);
    for (const auto& n : kAwkwardNames) {
        EXPECT_EQ(members.count(MemberPath(a.src(n))), 1u) << n;
        EXPECT_EQ(members.count(MemberPath(a.src(kAwkwardDir + "/" + n))), 1u) << n;
    }
    std::map<std::string, std::uint64_t> changed;
    for (int i = 0; i < 24; i += 5) changed[MemberPath(a.src(TreeFile(i)))] = (i % 3 ? 3000 + 4000 * i : 150000 + 1000 * i) + 18;
    EXPECT_EQ(ListMembers(a.dst("V00001/bkpcmp.lzh")), changed);
    EXPECT_EQ(a.rows().size(), members.size() + 2 * changed.size()) << "every other name was found again";
    for (const auto& r : a.rows()) EXPECT_EQ(r.kbn1, "0") << r.filenm;
    TempDir out;
    ASSERT_EQ(Shell(std::string(TESSEL_BINARY_DIR) + "/tessel-lzh x " + ShellQuote(level0) + " " + ShellQuote(out.path()) +
                    " >/dev/null"),
              0);
    EXPECT_EQ(ReadFile(out.path() + a.src("丂☃😀.txt")), "top 丂☃😀.txt");
    EXPECT_EQ(Shell("lhasa t " + ShellQuote(level0) + " >/dev/null 2>&1"), 0);

    const std::vector<std::string> alone[] = {a.outcome(), b.outcome()};
    EXPECT_NE(alone[0], alone[1]);
    for (int attempt = 0; attempt < 3; ++attempt) {
        a.reset();
        b.reset();
        std::thread first([&] { a.backUp(); });
        std::thread second([&] { b.backUp(); });
        first.join();
        second.join();
        EXPECT_EQ(a.outcome(), alone[0]) << "attempt " << attempt;
        EXPECT_EQ(b.outcome(), alone[1]) << "attempt " << attempt;
    }
}

}  // namespace
}  // namespace tessel::test
