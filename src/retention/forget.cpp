#include "retention/forget.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <unordered_map>

#include "archiver/archive_ops.h"
#include "archiver/unlha.h"
#include "catalog/version_state.h"
#include "engine/copy_claims.h"
#include "engine/destination_owner.h"
#include "engine/file_versions.h"
#include "engine/version_store.h"
#include "platform/positional_io.h"
#include "platform/paths.h"
#include "platform/program_files.h"
#include "platform/safe_write.h"

namespace tessel {
namespace {

// --- what is to be swept, by destination and level ---------------------------

struct LevelSweep {
    bool archive = false;              // the level archive holds copies let go
    std::set<std::string> plainNames;  // plain copies let go
};
using Sweep = std::map<std::string, std::map<std::int64_t, LevelSweep>>;

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::optional<std::string> Unhex(const std::string& hex) {
    if (hex.size() % 2) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        auto nibble = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
        const int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

constexpr const char* kJournalHeader = "tessel-forget-journal 1";

std::string JournalText(const Sweep& sweep) {
    std::string text = std::string(kJournalHeader) + "\n";
    for (const auto& [dest, levels] : sweep)
        for (const auto& [level, s] : levels) {
            if (s.archive) text += "A " + Hex(dest) + " " + std::to_string(level) + "\n";
            for (const std::string& name : s.plainNames)
                text += "P " + Hex(dest) + " " + std::to_string(level) + " " + Hex(name) + "\n";
        }
    return text;
}

// The journal as written; nullopt when there is none. A journal that was
// cut short (a kill while it was written, before the catalog changed) gives
// what it holds: sweeping checks every claim anyway.
std::optional<Sweep> ReadJournal(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string line;
    if (!std::getline(in, line) || line != kJournalHeader) return Sweep{};
    Sweep sweep;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::size_t from = 0;
        while (from <= line.size()) {
            const std::size_t at = line.find(' ', from);
            f.push_back(line.substr(from, at == std::string::npos ? std::string::npos : at - from));
            if (at == std::string::npos) break;
            from = at + 1;
        }
        if (f.size() < 3) continue;
        const std::optional<std::string> dest = Unhex(f[1]);
        char* end = nullptr;
        const long long level = std::strtoll(f[2].c_str(), &end, 10);
        if (!dest || dest->empty() || *end != '\0' || f[2].empty()) continue;
        if (f[0] == "A" && f.size() == 3) sweep[*dest][level].archive = true;
        if (f[0] == "P" && f.size() == 4)
            if (std::optional<std::string> name = Unhex(f[3])) sweep[*dest][level].plainNames.insert(*name);
    }
    return sweep;
}

std::string JournalPath(SharedState& state) { return JoinPath(state.dataFolder, kForgetJournalName); }

// Writes the journal and flushes it to the disk; 0 or the errno.
int WriteJournal(SharedState& state, const Sweep& sweep) {
    WriteRoot root(state.dataFolder);
    const std::string text = JournalText(sweep);
    int err = root.writeFile(
        kForgetJournalName,
        [&](int fd) { return WriteAllAt(fd, 0, text.data(), text.size()) ? 0 : errno ? errno : EIO; },
        {});
    if (err == 0) err = root.sync();
    return err;
}

// --- claims, after the catalog changed -----------------------------------------

// Whether a version with a copy of its own claims the member at this level.
bool MemberClaimed(Connection& db, const std::string& dest, std::int64_t level, const std::string& memberPath) {
    const auto slash = memberPath.rfind('/');
    const std::string dir = slash == std::string::npos ? "/" : "/" + memberPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? memberPath : memberPath.substr(slash + 1);
    std::string bare = dir;
    if (bare.size() > 1) bare.pop_back();
    Statement& q = db.cached(kCopyClaimedSql);
    q.bind(1, dest).bind(2, dir).bind(3, bare).bind(4, name).bind(5, level).bind(6, INT64_MAX).bind(7, -1);
    const bool claimed = q.step();
    q.reset();
    return claimed;
}

// Whether the plain copy level/name is some version's own: a version with a
// copy of its own at that level and name whose member the archive lacks.
bool PlainClaimed(Connection& db, const std::string& dest, std::int64_t level, const std::string& name) {
    Statement& q = db.cached(kPlainCopyClaimantsSql);
    q.bind(1, dest).bind(2, name).bind(3, level);
    std::vector<std::string> paths;
    while (q.step()) paths.push_back(MemberPathOf(q.text(0), name));
    q.reset();
    if (paths.empty()) return false;
    const std::vector<bool> held = archive::HoldsPaths(LevelArchive(dest, level), paths);
    return std::find(held.begin(), held.end(), false) != held.end();
}

// Sweeps copies let go. A failure that may pass (an unreadable disk, a
// removal or write-back that failed, a destination not reachable) keeps its
// entry in `left`, which the journal holds for the next forget to sweep
// again; one that stays until someone acts (a link or anything else planted
// where a copy was, a damaged archive) is said once and its entry dropped,
// so that it never holds up later forgets. Either way nothing but an
// unclaimed regular copy in the destination itself is removed.
struct Sweeper {
    SharedState& state;
    const std::function<void(const char*)>& onStep;
    int failed = 0;
    Sweep left;

    void step(const char* what) {
        if (onStep) onStep(what);
    }
    void fail(const std::string& text) {
        ++failed;
        state.ui.showMessage(text);
    }
    static bool LinkOnTheWay(int err) { return err == ELOOP || err == ENOTDIR; }

    void level(WriteRoot& root, const std::string& dest, std::int64_t lvl, const LevelSweep& s) {
        Connection& db = state.db();
        const std::string rel = VersionFolderName(lvl) + kSep + std::string(kArchiveName);
        const std::string archivePath = LevelArchive(dest, lvl);
        struct stat st {};
        const int statErr = s.archive ? root.statEntry(rel, &st) : ENOENT;
        LevelSweep& retry = left[dest][lvl];
        if (s.archive && statErr != 0 && statErr != ENOENT) {
            fail("書庫を調べられないため、削除した版のコピーを取り除けませんでした (" + archivePath + "): " +
                 std::strerror(statErr));
            retry.archive = !LinkOnTheWay(statErr);
        } else if (s.archive && statErr == 0 && !S_ISREG(st.st_mode)) {
            // A link or anything else planted where the archive was is
            // neither read nor removed.
            fail("書庫が通常のファイルではないため、削除した版のコピーを取り除けませんでした: " + archivePath);
        } else if (s.archive && statErr == 0) {
            state.ui.setStatus(kForgetStatusWindow, "整理しています: " + archivePath);
            std::int32_t code = 0;
            const auto index = archive::LoadIndex(archivePath, &code);
            if (archive::DamagedBeyondCutOff(index, code)) {
                fail("書庫が壊れているため、削除した版のコピーを取り除けませんでした: " + archivePath);
            } else if (!index) {
                if (code != kUnlhaArchiveMissing) {
                    fail("書庫を読めないため、削除した版のコピーを取り除けませんでした: " + archivePath);
                    retry.archive = true;
                }
            } else {
                std::vector<std::string> unclaimed;
                std::size_t files = 0;
                for (const lzh::Member& m : index->members) {
                    if (m.isDirectory()) continue;
                    ++files;
                    if (!MemberClaimed(db, dest, lvl, m.path)) unclaimed.push_back(m.path);
                }
                if (!unclaimed.empty() && unclaimed.size() == files) {
                    // Nothing in it is claimed any more: the archive goes.
                    if (const int err = root.removeFile(rel); err != 0 && err != ENOENT) {
                        fail("書庫を削除できませんでした (" + archivePath + "): " + std::strerror(err));
                        retry.archive = true;
                    }
                } else if (!unclaimed.empty()) {
                    if (const std::int32_t rc = archive::DropMembers(root, rel, unclaimed); rc != kUnlhaOk) {
                        fail("書庫から削除した版のコピーを取り除けませんでした (" + archivePath + "): エラー　" +
                             FiveDigits(rc));
                        retry.archive = rc != kUnlhaNotArchive;
                    }
                }
                step("archive");
            }
        }
        for (const std::string& name : s.plainNames) {
            const std::string copy = VersionFolderName(lvl) + kSep + name;
            if (const int err = root.statEntry(copy, &st); err == ENOENT) {
                continue;  // removed already (by a forget that was killed)
            } else if (err != 0) {
                fail("コピーを調べられないため、削除できませんでした (" + root.pathOf(copy) + "): " + std::strerror(err));
                if (!LinkOnTheWay(err)) retry.plainNames.insert(name);
                continue;
            } else if (!S_ISREG(st.st_mode)) {
                fail("コピーが通常のファイルではないため、削除しませんでした: " + root.pathOf(copy));
                continue;
            }
            if (PlainClaimed(db, dest, lvl, name)) continue;
            state.ui.setStatus(kForgetStatusWindow, "整理しています: " + root.pathOf(copy));
            if (const int err = root.removeFile(copy); err != 0 && err != ENOENT) {
                fail("コピーを削除できませんでした (" + root.pathOf(copy) + "): " + std::strerror(err));
                retry.plainNames.insert(name);
            }
            step("copy");
        }
        // A level folder left empty goes; one that still holds something stays.
        (void)root.removeFolder(VersionFolderName(lvl));
        if (!retry.archive && retry.plainNames.empty()) left[dest].erase(lvl);
        if (left[dest].empty()) left.erase(dest);
    }

    void run(const Sweep& sweep) {
        for (const auto& [dest, levels] : sweep) {
            WriteRoot root(dest, {Ownership::kProgram, RootLinks::kRefuse});
            struct stat st {};
            if (::lstat(dest.c_str(), &st) != 0 && errno == ENOENT) continue;  // nothing there to sweep
            if (const std::string refused = ClaimDestination(root, state.db()); !refused.empty()) {
                fail(refused);
                left[dest] = levels;
                continue;
            }
            for (const auto& [lvl, s] : levels) level(root, dest, lvl, s);
            if (const int err = root.sync()) {
                fail("バックアップ先への書き込みを確定できませんでした (" + dest + "): " + std::strerror(err));
                left[dest] = levels;
            }
        }
    }

    // After run(): the journal holds what is left to sweep, or is gone.
    void record() {
        WriteRoot root(state.dataFolder);
        if (left.empty()) {
            if (const int err = root.removeFile(kForgetJournalName); err != 0 && err != ENOENT)
                fail("整理の記録を削除できませんでした (" + JournalPath(state) + "): " + std::strerror(err));
        } else if (const int err = WriteJournal(state, left)) {
            fail("整理の記録を書けませんでした (" + JournalPath(state) + "): " + std::strerror(err));
        }
    }
};

void Merge(Sweep& into, const Sweep& more) {
    for (const auto& [dest, levels] : more)
        for (const auto& [lvl, s] : levels) {
            LevelSweep& to = into[dest][lvl];
            to.archive = to.archive || s.archive;
            to.plainNames.insert(s.plainNames.begin(), s.plainNames.end());
        }
}

// --- the plan ------------------------------------------------------------------

struct Candidate {
    std::string memberPath;
    std::string name;
};

struct Plan {
    std::vector<std::int64_t> removedRuns;
    std::vector<std::int64_t> removedRows;
    std::vector<std::int64_t> releasedRows;
    // Copies let go, by destination and level.
    std::map<std::string, std::map<std::int64_t, std::vector<Candidate>>> candidates;
};

std::vector<ForgetRun> ReadRuns(Connection& db, std::vector<RunToSort>* times) {
    Statement q = db.prepare("SELECT BKPNO, BKPNAME, KBN, DAY1, TIME1 FROM BKPNAME WHERE BKPNO <> 0 ORDER BY BKPNO");
    std::vector<ForgetRun> runs;
    while (q.step()) {
        ForgetRun r{q.int64(0), q.text(1), q.text(2), "", {}};
        const std::optional<RunClock> c = ParseRunClock(q.text(3), q.text(4));
        if (c) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", c->year, c->month, c->day, c->hour, c->minute,
                          c->second);
            r.started = buf;
        }
        times->push_back({r.run, c});
        runs.push_back(std::move(r));
    }
    return runs;
}

// Decides, file by file, which versions stay.
class Needs {
public:
    Needs(const std::vector<std::int64_t>& removed, const std::vector<std::int64_t>& kept) : removed_(removed), kept_(kept) {}

    // Whether some kept run k has from <= k < until: the run restores the
    // version recorded by `from` when the file's next newer versions were
    // all recorded from `until` on. A run with no BKPNAME row (the initial
    // backups' run 0) is never removed, so it counts as kept.
    bool keptBetween(std::int64_t from, std::int64_t until) const {
        if (from >= until) return false;
        if (!std::binary_search(removed_.begin(), removed_.end(), from)) return true;
        const auto it = std::upper_bound(kept_.begin(), kept_.end(), from);
        return it != kept_.end() && *it < until;
    }
    // Whether some kept run comes before every version of the file.
    bool keptBefore(std::int64_t first) const { return !kept_.empty() && kept_.front() < first; }

private:
    const std::vector<std::int64_t>& removed_;
    const std::vector<std::int64_t>& kept_;
};

// The versions of one file that stay, and those let go.
//
// What stays is exactly what the readers of the catalog need:
// - restoring a kept run k (in place, or to another folder) puts back, for
//   every file, its newest level recorded by k or earlier; so a version
//   stays when a kept run lies between its own run and the runs of the
//   file's newer versions;
// - restoring a kept run k deletes a file all of whose versions are newer
//   than k, deciding by the file's first version (its level and state); so
//   when a kept run comes before every version, the first one stays as a
//   row, without its copy when no kept run restores it;
// - change detection reads, for every file, only its latest version (its
//   level, state, times, size and version numbers decide whether the file
//   changed, which level comes next, whether a version without a copy is
//   recorded again, and whether the file is excluded); so the latest
//   version stays whole, and with it the next backup records exactly what
//   changed;
// - an excluded version ("8") stays whatever runs remain.
// Level-0 versions belong to the initial backups' run 0, which is always
// kept: initial bulk archives are never changed.
void DecideFile(const Needs& needs, const std::vector<VersionRow>& rows, const std::string& dest, Plan& plan) {
    std::int64_t newerFrom = INT64_MAX;  // the lowest run among the newer versions
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const VersionRow& r = rows[i];
        const VersionState state = VersionStateOf(r.kbn1);
        const bool latest = i == 0;
        const bool first = i + 1 == rows.size();
        const std::int64_t until = newerFrom;
        newerFrom = std::min(newerFrom, r.bkpno);
        if (latest || state == VersionState::kExcluded || needs.keptBetween(r.bkpno, until)) continue;
        const bool claims = ClaimsOwnCopy(state);
        if (claims) plan.candidates[dest][r.lvl].push_back({MemberPathOf(r.dir, r.name), r.name});
        if (first && r.lvl != 0 && needs.keptBefore(newerFrom)) {
            if (claims) plan.releasedRows.push_back(r.rowid);
            continue;
        }
        plan.removedRows.push_back(r.rowid);
    }
}

// What the copies let go hold, and how each is stored.
std::uint64_t SizeCopies(const Plan& plan, Sweep* sweep) {
    std::uint64_t bytes = 0;
    for (const auto& [dest, levels] : plan.candidates)
        for (const auto& [level, list] : levels) {
            std::int32_t code = 0;
            const auto index = archive::LoadIndex(LevelArchive(dest, level), &code);
            std::unordered_map<std::string, const lzh::Member*> members;
            if (index)
                for (const lzh::Member& m : index->members)
                    if (!m.isDirectory()) members.emplace(m.path, &m);
            LevelSweep& s = (*sweep)[dest][level];
            // An archive that cannot be read now may hold some of them: the
            // sweep looks at it again, and says what it finds.
            if (!index && code != kUnlhaArchiveMissing) s.archive = true;
            std::uint64_t memberBytes = 0;
            std::size_t found = 0;
            for (const Candidate& c : list) {
                if (auto it = members.find(c.memberPath); it != members.end()) {
                    memberBytes += it->second->end() - it->second->headerOffset;
                    ++found;
                    s.archive = true;
                    continue;
                }
                struct stat st {};
                // Whatever lies there is swept, so that anything but a
                // file is said there; only a file's bytes come back.
                if (::lstat(PlainCopy(dest, level, c.name).c_str(), &st) == 0) {
                    if (S_ISREG(st.st_mode)) bytes += static_cast<std::uint64_t>(st.st_size);
                    s.plainNames.insert(c.name);
                } else if (errno != ENOENT) {
                    s.plainNames.insert(c.name);  // the sweep says why it cannot look
                }
            }
            // An archive that loses every member goes as a whole.
            struct stat st {};
            if (found > 0 && found == members.size() &&
                ::lstat(LevelArchive(dest, level).c_str(), &st) == 0)
                bytes += static_cast<std::uint64_t>(st.st_size);
            else
                bytes += memberBytes;
        }
    return bytes;
}

}  // namespace

bool ForgottenRun(Connection& db, std::int64_t run) {
    if (run <= 0) return false;
    Statement known = db.prepare("SELECT 1 FROM BKPNAME WHERE BKPNO = ?1");
    known.bind(1, run);
    if (known.step()) return false;
    Statement counter = db.prepare("SELECT BKPNO FROM AUTODEF ORDER BY rowid LIMIT 1");
    return counter.step() && !counter.isNull(0) && run <= counter.int64(0);
}

namespace {

// Sweeps what a forget before this one left; what is still left stays in
// the journal (and in *left).
int SweepPending(SharedState& state, const std::function<void(const char*)>& onStep, Sweep* left) {
    const std::optional<Sweep> pending = ReadJournal(JournalPath(state));
    if (!pending) return 0;
    Sweeper sweeper{state, onStep};
    sweeper.run(*pending);
    sweeper.record();
    if (left) *left = std::move(sweeper.left);
    return sweeper.failed;
}

}  // namespace

int FinishPendingForget(SharedState& state, const std::function<void(const char*)>& onStep) {
    return SweepPending(state, onStep, nullptr);
}

ForgetResult ForgetRuns(SharedState& state, const ForgetOptions& options) {
    ForgetResult result;
    if (options.policy.empty()) {
        state.ui.showMessage("残すバックアップの指定がありません。何も削除しません。");
        result.refused = true;
        return result;
    }
    Connection& db = state.db();
    // What an earlier forget could not sweep is tried again now, and what is
    // still left goes into this forget's journal with its own copies.
    Sweep pending;
    if (!options.dryRun) result.failed += SweepPending(state, options.onStep, &pending);

    // Which runs stay.
    std::vector<RunToSort> times;
    std::vector<ForgetRun> runs = ReadRuns(db, &times);
    const std::vector<RunVerdict> verdicts = ApplyRetentionPolicy(times, options.policy);
    std::map<std::int64_t, ForgetRun*> byNumber;
    for (ForgetRun& r : runs) byNumber[r.run] = &r;
    Plan plan;
    std::vector<std::int64_t> kept;
    for (const RunVerdict& v : verdicts) {
        ForgetRun& r = *byNumber[v.run];
        r.reasons = v.reasons;
        result.runs.push_back(r);
        (v.kept() ? kept : plan.removedRuns).push_back(v.run);
    }
    std::sort(kept.begin(), kept.end());
    std::sort(plan.removedRuns.begin(), plan.removedRuns.end());
    result.runsRemoved = static_cast<std::int64_t>(plan.removedRuns.size());

    // Which versions stay.
    if (!plan.removedRuns.empty()) {
        const Needs needs(plan.removedRuns, kept);
        Statement dirs = db.prepare(
            "SELECT DIRNO, BKPDIR FROM BKPDIR WHERE DIRNO <> 0 AND BKPDIR IS NOT NULL AND BKPDIR <> '' ORDER BY DIRNO");
        std::vector<std::pair<std::int64_t, std::string>> registered;
        while (dirs.step()) registered.emplace_back(dirs.int64(0), dirs.text(1));
        for (const auto& [dirNo, dest] : registered) {
            state.ui.setStatus(kForgetStatusWindow, "版を調べています: " + dest);
            WalkFileVersions(db, dirNo, {}, [&](std::vector<VersionRow>& rows) {
                DecideFile(needs, rows, dest, plan);
                return true;
            });
        }
    }
    result.versionsRemoved = static_cast<std::int64_t>(plan.removedRows.size());
    result.versionsReleased = static_cast<std::int64_t>(plan.releasedRows.size());
    Sweep sweep;
    result.bytesFreed = SizeCopies(plan, &sweep);
    plan.candidates.clear();
    if (options.dryRun || plan.removedRuns.empty()) return result;

    // Nothing is changed in a destination another catalog owns.
    for (const auto& [dest, levels] : sweep)
        if (const std::string foreign = SweepRefusal(dest, db); !foreign.empty()) {
            state.ui.showMessage(foreign);
            result.refused = true;
            return result;
        }

    // The journal first: should the forget be killed after the catalog
    // changed, the next one knows which copies to sweep.
    Merge(sweep, pending);
    if (const int err = WriteJournal(state, sweep)) {
        state.ui.showMessage("整理の記録を書けないため、整理を始めません (" + JournalPath(state) + "): " + std::strerror(err));
        result.refused = true;
        return result;
    }
    if (options.onStep) options.onStep("journal");

    // The catalog, in one transaction.
    {
        state.ui.setStatus(kForgetStatusWindow, "カタログから削除しています");
        Transaction t(db);
        Statement run = db.prepare("DELETE FROM BKPNAME WHERE BKPNO = ?1");
        for (std::int64_t n : plan.removedRuns) {
            run.bind(1, n).run();
        }
        Statement row = db.prepare("DELETE FROM FILEKANRI WHERE rowid = ?1");
        for (std::int64_t id : plan.removedRows) row.bind(1, id).run();
        Statement release = db.prepare("UPDATE FILEKANRI SET KBN1 = ?1 WHERE rowid = ?2");
        for (std::int64_t id : plan.releasedRows) release.bind(1, CodeText(VersionState::kRecordedOnly)).bind(2, id).run();
        t.commit();
    }
    if (options.onStep) options.onStep("catalog");

    // Then the copies.
    Sweeper sweeper{state, options.onStep};
    sweeper.run(sweep);
    sweeper.record();
    result.failed += sweeper.failed;
    if (options.onStep) options.onStep("done");
    return result;
}

}  // namespace tessel
