// Random histories backed up over several runs (compression switched at
// random), restored run by run: bytes and times of the run come back, later
// files go, a backup right after records exactly the changed files. Every
// other history is dated and thinned by a random retention policy first:
// every kept run still comes back, verify finds nothing, and the
// destination shrinks by what the forget freed.
// TESSEL_ROUNDTRIP_HISTORIES (default 40); TESSEL_ROUNDTRIP_SEED replays one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "backup/backup_runs.h"
#include "restore/restore_directory.h"
#include "restore/verify.h"
#include "retention/forget.h"
#include "support/backup_fixture.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;

struct Content {
    std::string bytes;
    std::int64_t mtimeNs = 0;
    bool operator==(const Content&) const = default;
};
using Tree = std::map<std::string, Content>;  // relative path -> content

const std::vector<std::string> kNames = {
    "a.txt", "it's.txt", "with blank.txt", "日本語の名前.txt", "quote\"d.txt", "café😀.bin", "ｶﾀｶﾅ.dat", "x",
    std::string(251, 'n') + ".txt",  // the longest name a folder holds
};
const std::vector<std::string> kDirs = {"", "sub", "sub dir/深い", "Ωmega"};

void WriteContent(const std::string& path, const Content& c) {
    fs::create_directories(fs::path(path).parent_path());
    WriteFile(path, c.bytes);
    SetMtime(path, c.mtimeNs / 1000000000, c.mtimeNs % 1000000000);
}

std::optional<Content> ReadContent(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return Content{ReadFile(path), static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

Tree ReadTree(const std::string& root) {
    Tree out;
    for (auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) out[e.path().string().substr(root.size() + 1)] = *ReadContent(e.path().string());
    return out;
}

// What the forgets of all histories removed together.
ForgetResult forgotten;

class History : BackupFixture {
public:
    explicit History(std::uint64_t seed) : rng_(seed) {
        compression_ = rng_() % 2 ? "1" : "0";
        subdirs_ = rng_() % 2 ? "01" : "00";
        options.compression = compression_;
        switching_ = rng_() % 4 != 0;
        state.db()
            .prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, ABKP, CHK1, CHK2) VALUES "
                     "(0, ?1, NULL, '0', ?2, NULL, NULL), (1, ?3, ?1, '1', '1', '1', ?4)")
            .bind(1, destination).bind(2, compression_).bind(3, source).bind(4, subdirs_)
            .run();
    }

    void build() {
        for (int i = 6 + static_cast<int>(rng_() % 14); i > 0; --i) universe_.insert(randomPath());
        for (const auto& p : universe_)
            if (rng_() % 3 != 0) write(p, randomBytes());
        if (rng_() % 2) {
            // An initial backup from the registration window: level 0, run 0.
            BackupDirectory(state, options, {source, "1", "1", destination, 0, 1, subdirs_});
            snapshots_[0] = tracked(ReadTree(source));
            runs_.push_back(0);
        }
        for (int k = 0, runs = 5 + static_cast<int>(rng_() % 3); k < runs; ++k) {
            if (k > 0 || !runs_.empty()) mutate();
            backUp("run " + std::to_string(k));
        }
        // Changes after the last run and files the catalog never sees.
        mutate();
        untracked_ = ReadTree(source);
    }

    // Dates the runs (hours, days, weeks or months apart) and forgets under
    // a random policy; returns what went wrong. The check that follows
    // restores every kept run against what it saw.
    std::string forget() {
        std::time_t t = 1703721600;  // 2023-12-28 00:00 UTC: weeks, months and a year turn ahead
        for (int run : runs_) {
            if (run == 0) continue;
            const std::size_t gap = rng_() % 4;  // hours, days, about a week or about a month apart
            const int least[] = {1, 1, 6, 25}, spread[] = {5, 3, 3, 40};
            t += (gap == 0 ? 3600 : 86400) * static_cast<std::time_t>(least[gap] + rng_() % spread[gap]);
            std::tm tm{};
            char when[32];
            std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", gmtime_r(&t, &tm));
            const std::string w = when;
            state.db().prepare("UPDATE BKPNAME SET DAY1 = ?1, TIME1 = ?2 WHERE BKPNO = ?3")
                .bind(1, w.substr(0, 10)).bind(2, w.substr(11)).bind(3, run).run();
        }
        RetentionPolicy policy;  // last, daily, weekly, monthly, yearly
        auto pick = [&](int n) { return static_cast<int>(rng_() % n); };
        while (policy.empty()) policy = {pick(3), pick(3), pick(3), pick(3), pick(2)};
        const std::uintmax_t bytes = DestinationBytes();
        const ForgetResult done = ForgetRuns(state, {policy, false, {}});
        forgotten.runsRemoved += done.runsRemoved;
        forgotten.versionsRemoved += done.versionsRemoved;
        std::ostringstream diff;
        if (done.failed || done.refused) diff << "  the forget failed\n";
        if (bytes - DestinationBytes() != done.bytesFreed)
            diff << "  the destination shrank by " << bytes - DestinationBytes() << " bytes, the forget says "
                 << done.bytesFreed << "\n";
        VerifyBackups(state, {}, [&](const VerifyProblem& p) { diff << "  verify: " << p.directory << p.name << " " << p.what << "\n"; });
        for (const std::string& m : ui.messages) diff << "  message: " << m << "\n";
        // The removed runs leave the check; the snapshots still say what each kept run saw.
        std::set<std::int64_t> kept;
        for (const ForgetRun& r : done.runs)
            if (r.kept()) kept.insert(r.run);
        std::erase_if(runs_, [&](int run) { return run != 0 && !kept.count(run); });
        return diff.str();
    }

    // Restores every run newest to oldest and back; returns the differences.
    std::string check() {
        std::vector<int> order;
        for (auto it = runs_.rbegin(); it != runs_.rend(); ++it)
            if (*it != 0) order.push_back(*it);
        for (std::size_t i = order.size() - 1; i-- > 0;) order.push_back(order[i]);
        std::ostringstream diff;
        for (int run : order) {
            deleteSome();
            RestoreDirectory(state, 1, run, RestoreOptions{false, options.compression, "1"});
            compare(run, diff);
            if (diff.str().empty()) backUpAgain(diff);
            if (!diff.str().empty()) return "restoring run " + std::to_string(run) + ":\n" + diff.str();
        }
        return "";
    }

private:
    std::string randomPath() {
        const std::string& name = kNames[rng_() % kNames.size()];
        const std::string& dir = kDirs[rng_() % kDirs.size()];
        return dir.empty() ? name : dir + "/" + name;
    }
    std::string randomBytes() {
        std::string b(rng_() % 3000, '\0');
        const bool text = rng_() % 2;
        for (char& c : b) c = text ? static_cast<char>('a' + rng_() % 26) : static_cast<char>(rng_());
        return b;
    }
    // A fresh last-write time with a sub-second part.
    std::int64_t nextTime() {
        clock_ += 1500000000 + static_cast<std::int64_t>(rng_() % 900) * 1000000;
        return clock_ + static_cast<std::int64_t>(rng_() % 1000) * 1000;
    }
    void write(const std::string& rel, const std::string& bytes) { WriteContent(source + "/" + rel, {bytes, nextTime()}); }

    int backUp(const std::string& title) {
        if (switching_) options.compression = rng_() % 2 ? "1" : "0";
        const int run = AddBackupRun(state.db(), title, "1", std::time(nullptr));
        BackupDirectory(state, options, {source, "9", "1", destination, run, 1, subdirs_});
        snapshots_[run] = tracked(ReadTree(source));
        runs_.push_back(run);
        return run;
    }

    std::uintmax_t DestinationBytes() const {
        std::uintmax_t sum = 0;
        for (auto& e : fs::recursive_directory_iterator(destination))
            if (e.is_regular_file()) sum += e.file_size();
        return sum;
    }

    void deleteSome() {
        for (const auto& [rel, c] : ReadTree(source))
            if (rng_() % 4 == 0 && fs::remove(source + "/" + rel)) untracked_.erase(rel);
    }

    std::optional<Content> latestRecorded(const std::string& rel) const {
        for (auto it = snapshots_.rbegin(); it != snapshots_.rend(); ++it)
            if (auto f = it->second.find(rel); f != it->second.end()) return f->second;
        return std::nullopt;
    }

    void backUpAgain(std::ostringstream& diff) {
        std::set<std::string> expected, recorded;
        for (const auto& [rel, c] : tracked(ReadTree(source))) {
            const auto latest = latestRecorded(rel);
            if (!latest || latest->mtimeNs / 100 != c.mtimeNs / 100 || latest->bytes.size() != c.bytes.size())
                expected.insert(rel);
        }
        Statement q = state.db().prepare("SELECT DIR, FILENM FROM FILEKANRI WHERE BKPNO = ?1");
        q.bind(1, backUp("after restore"));
        while (q.step()) recorded.insert(q.text(0).substr(source.size() + 1) + q.text(1));
        for (const auto& rel : recorded)
            if (!expected.count(rel)) diff << "  " << rel << ": recorded again by the backup after the restore\n";
        for (const auto& rel : expected)
            if (!recorded.count(rel)) diff << "  " << rel << ": changed but not recorded by the backup after the restore\n";
    }

    void mutate() {
        for (const auto& p : universe_) {
            const std::string path = source + "/" + p;
            const auto now = ReadContent(path);
            const int what = static_cast<int>(rng_() % 8);
            if (what == 0 && !now) write(p, randomBytes());  // create or re-create
            if (!now) continue;
            if (what == 1) write(p, randomBytes());
            if (what == 2) WriteContent(path, {now->bytes, nextTime()});  // touch
            if (what == 3) write(p, now->bytes + randomBytes() + "+");     // grow
            if (what == 4) fs::remove(path);
        }
    }

    // The part of a tree the backup sees.
    Tree tracked(const Tree& t) const {
        Tree out;
        for (const auto& [rel, c] : t)
            if (subdirs_ == "01" || rel.find('/') == std::string::npos) out[rel] = c;
        return out;
    }

    void compare(int run, std::ostringstream& diff) {
        const Tree actual = ReadTree(source);
        std::map<std::string, std::optional<Content>> expected;
        for (const auto& [rel, c] : untracked_) expected[rel] = c;
        std::set<std::string> seen;  // by the run or an earlier one; the runs come in order
        for (const auto& [snapRun, tree] : snapshots_)
            for (const auto& [rel, c] : tree)
                if (snapRun <= run) expected[rel] = c, seen.insert(rel);
                else if (!seen.count(rel)) expected[rel] = std::nullopt;
        for (const auto& [rel, want] : expected) {
            const auto it = actual.find(rel);
            if (!want || it == actual.end()) {
                if (!want != (it == actual.end())) diff << "  " << rel << (want ? ": missing\n" : ": should have been deleted\n");
                continue;
            }
            if (it->second.bytes != want->bytes) diff << "  " << rel << ": bytes differ\n";
            if (it->second.mtimeNs / 100 != want->mtimeNs / 100)
                diff << "  " << rel << ": last-write time " << it->second.mtimeNs << " instead of " << want->mtimeNs << "\n";
        }
        for (const auto& [rel, c] : actual)
            if (!expected.count(rel)) diff << "  " << rel << ": should not exist\n";
        Statement failures = state.db().prepare(
            "SELECT TEXT FROM RSTRLIST WHERE TEXT LIKE ' ファイルの戻しに失敗%' OR TEXT LIKE '%の削除に失敗%'");
        while (failures.step()) diff << "  report: " << failures.text(0) << "\n";
    }

    std::mt19937_64 rng_;
    std::string compression_, subdirs_;
    bool switching_ = false;
    std::set<std::string> universe_;
    std::vector<int> runs_;
    std::map<int, Tree> snapshots_;
    Tree untracked_;
    std::int64_t clock_ = 1600000000LL * 1000000000;
};

TEST(RoundTrip, RandomHistoriesComeBackRunByRun) {
    const char* seed = std::getenv("TESSEL_ROUNDTRIP_SEED");
    const char* count = std::getenv("TESSEL_ROUNDTRIP_HISTORIES");
    const std::uint64_t first = seed ? std::strtoull(seed, nullptr, 10) : 1;
    const int histories = seed ? 1 : count ? std::atoi(count) : 40;
    for (std::uint64_t s = first; s < first + static_cast<std::uint64_t>(histories); ++s) {
        History h(s);
        h.build();
        if (s % 2 == 0) ASSERT_EQ(h.forget(), "") << "forget; replay with TESSEL_ROUNDTRIP_SEED=" << s;
        const std::string diff = h.check();
        ASSERT_EQ(diff, "") << "replay with TESSEL_ROUNDTRIP_SEED=" << s;
    }
    // The histories did thin.
    if (!seed && histories >= 40) {
        EXPECT_GT(forgotten.runsRemoved, 0);
        EXPECT_GT(forgotten.versionsRemoved, 0);
    }
}

}  // namespace
}  // namespace tessel::test
