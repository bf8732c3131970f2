// Two backups of two data folders at once, each on its own thread, give the
// archives, rows and messages that running them one after the other gives.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "support/backup_fixture.h"
#include "support/archive_members.h"

namespace tessel::test {
namespace {

// One data folder with its own state, catalog, source tree and destination.
struct Folder : BackupFixture {
    explicit Folder(int seed) : seed(seed) {
        options.compression = "1";
        for (const char* d : {"sub/deeper", "データ"}) MakeDirs(src(d));
        populate(0);
    }

    // Writes every numbered file in place (same inode, so the same creation
    // time) with contents and times that depend on the seed; every fifth
    // file changes from one round to the next.
    void populate(int round) {
        std::uint32_t x = 2463534242u + seed;
        const char* const dirs[] = {"", "sub/", "sub/deeper/", "データ/"};
        for (int i = 0; i < 24; ++i) {
            const std::string path = src(dirs[i % 4] + ("f" + std::to_string(i) + (i % 3 ? ".txt" : ".bin")));
            std::string bytes(i % 3 ? 3000 + 4000 * i : 150000 + 1000 * i, static_cast<char>('a' + (i + seed) % 26));
            if (i % 3 == 0)
                for (char& c : bytes) c = static_cast<char>((x ^= x << 13, x ^= x >> 17, x ^= x << 5) >> 24);
            if (round > 0 && i % 5 == 0) bytes += "changed in round " + std::to_string(round);
            WriteFile(path, bytes);
            SetMtime(path, 1700000000 + 1000 * seed + i + (round > 0 && i % 5 == 0 ? 86400 * round : 0));
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

    // An initial backup and two runs, compressed, with the real archiver.
    void backUp() {
        for (int run = 0; run < 3; ++run) {
            if (run > 0) populate(run);
            BackupDirectory(state, options, {source, run == 0 ? "1" : "9", "1", destination, run, 1, "01"});
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

TEST(ParallelBackups, TwoDataFoldersOnTwoThreadsMatchOneAfterTheOther) {
    Folder a(1), b(2);
    a.backUp();
    b.backUp();

    const std::vector<std::string> alone[] = {a.outcome(), b.outcome()};
    ASSERT_GT(alone[0].size(), 60u);
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
