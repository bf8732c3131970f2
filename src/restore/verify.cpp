#include "restore/verify.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "archiver/archive_ops.h"
#include "archiver/unlha.h"
#include "catalog/version_state.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "engine/version_store.h"
#include "platform/program_files.h"

namespace tessel {
namespace {

const char* const kNoArchive = "アーカイブがありません";
const char* const kUnreadableArchive = "アーカイブを読めません";
const char* const kNotInArchive = "アーカイブにこの版がありません";
const char* const kNoCopy = "コピーがありません";
const char* const kNoFolder = "版のフォルダーがありません";
const char* const kDamaged = "データが壊れています (CRC が合いません)";
const char* const kUnsafeName = "名前が壊れているため戻せません";
const char* const kDamagedBehind = "アーカイブの途中が壊れています (後ろの版は読めず、追加もできません)";

// A member that did not decode: its data damaged, or the disk failing.
const char* DecodeProblem(std::int32_t result) { return result == kUnlhaCannotReadArchive ? kUnreadableArchive : kDamaged; }

std::string SizeDiffers(std::int64_t recorded, std::uint64_t actual) {
    return "大きさが記録と違います (記録 " + std::to_string(recorded) + "、コピー " + std::to_string(actual) + ")";
}

struct Version {
    std::int64_t rowid = 0, run = 0, level = 0;
    std::string dir, name;
    std::optional<std::int64_t> size;
    bool latest = false;
};

// The recorded size holds the low 32 bits of the real one.
bool SizeMatches(const std::optional<std::int64_t>& recorded, std::uint64_t actual) {
    return !recorded || *recorded == static_cast<std::int32_t>(static_cast<std::uint32_t>(actual));
}

class Verifier {
public:
    Verifier(SharedState& state, const VerifyOptions& options, const std::function<void(const VerifyProblem&)>& report)
        : state_(state), options_(options), report_(report) {}

    void directory(std::int64_t dirNo, const std::string& destination, const std::string& kind) {
        // A destination that is not there (a drive not mounted) says
        // nothing about its copies: none is marked lost for it.
        destinationThere_ = IsDirectory(destination);
        if (kind == "3" && (!options_.runNumber || *options_.runNumber == 0)) bulk(dirNo, destination);
        std::string sql =
            std::string("SELECT rowid, BKPNO, LVL, DIR, FILENM, FSIZE, CHK1 FROM FILEKANRI WHERE DIRNO = ?1 AND ") +
            kClaimsOwnCopySql;
        if (options_.runNumber) sql += " AND BKPNO = ?2";
        sql += " ORDER BY LVL, DIR, FILENM";
        Statement q = state_.db().prepare(sql);
        q.bind(1, dirNo);
        if (options_.runNumber) q.bind(2, *options_.runNumber);
        std::vector<Version> level;
        while (q.step()) {
            Version v{q.int64(0), q.int64(1), q.int64(2), q.text(3), q.text(4), q.optInt(5), q.text(6) == "1"};
            if (!level.empty() && level.back().level != v.level) {
                oneLevel(destination, level);
                level.clear();
            }
            level.push_back(std::move(v));
        }
        if (!level.empty()) oneLevel(destination, level);
    }

    // Marks the latest versions found without a usable copy.
    void mark() {
        if (!options_.mark || unusable_.empty()) return;
        Transaction tx(state_.db());
        // A level-0 version is stored again only when it looks changed: its
        // size is forgotten (it has no usable copy to describe anyway).
        Statement& u = state_.db().cached(
            std::string("UPDATE FILEKANRI SET KBN1 = '") + CodeText(VersionState::kNoCopy) +
            "', FSIZE = CASE WHEN LVL = 0 THEN NULL ELSE FSIZE END WHERE rowid = ?1");
        for (std::int64_t rowid : unusable_) {
            u.bind(1, rowid).run();
            u.reset();
            ++summary.marked;
        }
        tx.commit();
    }

    VerifySummary summary;

private:
    // The status line, now and then: every archive and every 64th file,
    // so that a long check shows that it moves on.
    void progress(const std::string& path, const std::string& name = {}, bool now = false) {
        if (!now && ++sinceProgress_ < 64) return;
        sinceProgress_ = 0;
        state_.ui.setStatus(kVerifyStatusWindow, kChecking + path + name);
    }

    // A copy the disk could not read now (`code` kUnlhaCannotReadArchive)
    // is not known to be lost, and is never marked so.
    void problem(const Version& v, const std::string& what, std::int32_t code = kUnlhaOk) {
        ++summary.problems;
        if (v.latest && destinationThere_ && code != kUnlhaCannotReadArchive) unusable_.push_back(v.rowid);
        report_({v.run, v.level, v.dir, v.name, what});
    }

    // The versions of one level folder: archive members by their full path,
    // decoded in the order they lie in the archive; the others as plain copies.
    void oneLevel(const std::string& destination, const std::vector<Version>& versions) {
        const std::string archive = LevelArchive(destination, versions.front().level);
        progress(archive, {}, true);
        std::int32_t code = 0;
        auto index = archive::LoadIndex(archive, &code);
        std::unordered_map<std::string, std::size_t> byPath;
        if (index)
            for (std::size_t i = 0; i < index->members.size(); ++i)
                if (!index->members[i].isDirectory()) byPath[index->members[i].path] = i;
        std::vector<std::pair<std::size_t, const Version*>> decode;
        for (const Version& v : versions) {
            ++summary.checked;
            progress(v.dir, v.name);
            auto it = byPath.find(MemberPathOf(v.dir, v.name));
            if (it != byPath.end()) {
                const lzh::Member& m = index->members[it->second];
                if (!SizeMatches(v.size, m.originalSize)) problem(v, SizeDiffers(*v.size, m.originalSize));
                else decode.emplace_back(it->second, &v);
                continue;
            }
            const VersionCopy copy{destination, v.level, v.dir, v.name};
            switch (StorageOf(state_.db(), copy, index ? "1" : "0")) {
            case Storage::kPlain: {
                struct stat st {};
                if (::lstat(copy.plainCopy().c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                    problem(v, IsDirectory(copy.folder()) ? kNoCopy : kNoFolder);
                else if (!SizeMatches(v.size, static_cast<std::uint64_t>(st.st_size)))
                    problem(v, SizeDiffers(*v.size, static_cast<std::uint64_t>(st.st_size)));
                break;
            }
            case Storage::kMissing: problem(v, kNoCopy); break;
            case Storage::kArchive:
                problem(v, index ? kNotInArchive : code == kUnlhaArchiveMissing ? kNoArchive : kUnreadableArchive, code);
                break;
            }
        }
        // Damage with more than an unfinished add behind it: the members
        // behind it cannot be found and nothing more is added to the archive.
        if (index && lzh::DamagedBeyondCutOff(*index))
            problem(Version{0, 0, versions.front().level,
                            WithSlash(JoinPath(destination, VersionFolderName(versions.front().level))),
                            std::string(kArchiveName), std::nullopt, false},
                    kDamagedBehind);
        if (decode.empty()) return;
        std::sort(decode.begin(), decode.end());
        std::vector<const lzh::Member*> members;
        for (const auto& [i, v] : decode) members.push_back(&index->members[i]);
        const std::int32_t rc = archive::TestMembers(archive, members, [&](std::size_t k, std::int32_t result) {
            progress(members[k]->path);
            if (result != kUnlhaOk) problem(*decode[k].second, DecodeProblem(result), result);
        });
        if (rc != kUnlhaOk)
            for (const auto& [i, v] : decode) problem(*v, kUnreadableArchive, rc);
    }

    // The bulk archive of an initial bulk backup: every level-0 version it
    // stands for (recorded "2") must be a member of the recorded size that
    // decodes; a member missing (an archive cut short, say) or damaged is a
    // problem of that version, named. Members with names no file of ours
    // can have are problems too.
    void bulk(std::int64_t dirNo, const std::string& destination) {
        const std::string archive = BulkArchive(destination);
        std::int32_t code = 0;
        progress(archive, {}, true);
        auto index = archive::LoadIndex(archive, &code);
        ++summary.checked;
        std::vector<Version> versions;
        Statement q = state_.db().prepare(
            "SELECT rowid, BKPNO, LVL, DIR, FILENM, FSIZE, CHK1 FROM FILEKANRI WHERE DIRNO = ?1 AND LVL = 0 AND KBN1 = '" +
            CodeText(VersionState::kRecordedOnly) + "' ORDER BY DIR, FILENM");
        q.bind(1, dirNo);
        while (q.step()) versions.push_back({q.int64(0), q.int64(1), q.int64(2), q.text(3), q.text(4), q.optInt(5), q.text(6) == "1"});
        if (!index) {
            problem(Version{0, 0, 0, destination + "/", std::string(kArchiveName), std::nullopt, false},
                    code == kUnlhaArchiveMissing ? kNoArchive : kUnreadableArchive);
            for (const Version& v : versions) problem(v, code == kUnlhaArchiveMissing ? kNoArchive : kUnreadableArchive, code);
            return;
        }
        std::unordered_map<std::string, std::size_t> byPath;
        for (std::size_t i = 0; i < index->members.size(); ++i) {
            const lzh::Member& m = index->members[i];
            if (m.isDirectory()) continue;
            if (!m.safePath) {
                // A name no file of ours can have is never restored.
                problem(Version{0, 0, 0, destination + "/", Printable(m.path), std::nullopt, false}, kUnsafeName);
                continue;
            }
            byPath[m.path] = i;
        }
        std::vector<std::pair<std::size_t, const Version*>> decode;
        for (const Version& v : versions) {
            ++summary.checked;
            const auto it = byPath.find(MemberPathOf(v.dir, v.name));
            if (it == byPath.end()) {
                problem(v, kNotInArchive);
                continue;
            }
            const lzh::Member& m = index->members[it->second];
            if (!SizeMatches(v.size, m.originalSize)) problem(v, SizeDiffers(*v.size, m.originalSize));
            else decode.emplace_back(it->second, &v);
        }
        std::sort(decode.begin(), decode.end());
        std::vector<const lzh::Member*> members;
        for (const auto& [i, v] : decode) members.push_back(&index->members[i]);
        const std::int32_t rc = archive::TestMembers(archive, members, [&](std::size_t k, std::int32_t result) {
            progress(members[k]->path);
            if (result != kUnlhaOk) problem(*decode[k].second, DecodeProblem(result), result);
        });
        if (rc != kUnlhaOk || index->damagedTail)
            problem(Version{0, 0, 0, destination + "/", std::string(kArchiveName), std::nullopt, false}, kUnreadableArchive);
    }

    SharedState& state_;
    const VerifyOptions& options_;
    const std::function<void(const VerifyProblem&)>& report_;
    std::vector<std::int64_t> unusable_;
    bool destinationThere_ = true;
    int sinceProgress_ = 0;
};

}  // namespace

VerifySummary VerifyBackups(SharedState& state, const VerifyOptions& options,
                            const std::function<void(const VerifyProblem&)>& report) {
    Verifier verifier(state, options, report);
    struct Dir {
        std::int64_t no;
        std::string destination, kind;
    };
    std::vector<Dir> dirs;
    Statement d = state.db().prepare(
        "SELECT DIRNO, BKPDIR, KBN FROM BKPDIR WHERE DIRNO <> 0 AND KBN <> '9' AND BKPDIR IS NOT NULL ORDER BY DIRNO");
    while (d.step())
        if (!options.dirNo || d.int64(0) == *options.dirNo) dirs.push_back({d.int64(0), d.text(1), d.text(2)});
    for (const Dir& dir : dirs) verifier.directory(dir.no, dir.destination, dir.kind);
    verifier.mark();
    return verifier.summary;
}

}  // namespace tessel
