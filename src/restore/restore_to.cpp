#include "restore/restore_to.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>

#include "archiver/archive_ops.h"
#include "archiver/unlha.h"
#include "platform/file_ops.h"
#include "platform/file_times.h"
#include "platform/paths.h"
#include "platform/safe_write.h"
#include "restore/restore_messages.h"
#include "engine/version_store.h"

namespace tessel {
namespace {

struct Row {
    std::string destination;
    std::string kind;  // BKPDIR.KBN
    std::int64_t level = 0;
    std::string dir, name, kbn1;
    std::optional<std::int64_t> fupdate, fuptime;
};

const char* const kRowColumns =
    "SELECT B.BKPDIR, B.KBN, F.LVL, F.DIR, F.FILENM, F.KBN1, F.FUPDATE, F.FUPTIME FROM FILEKANRI AS F "
    "JOIN BKPDIR AS B ON B.DIRNO = F.DIRNO ";

Row ReadRow(Statement& q) {
    return {q.text(0), q.text(1), q.int64(2), q.text(3), q.text(4), q.text(5), q.optInt(6), q.optInt(7)};
}

std::string SourcePath(const Row& r) { return SourcePathOf(r.dir, r.name); }

// A plain absolute path without "." or ".." steps, empty or doubled "/".
bool CleanAbsolute(const std::string& path) {
    if (path.empty() || path[0] != kSep) return false;
    std::size_t pos = 1;
    while (pos < path.size()) {
        std::size_t next = path.find(kSep, pos);
        if (next == std::string::npos) next = path.size();
        const std::string part = path.substr(pos, next - pos);
        if (part.empty() || part == "." || part == "..") return false;
        pos = next + 1;
    }
    return true;
}

class Writer {
public:
    Writer(SharedState& state, const RestoreToOptions& options, const RestoreToProgress& progress)
        : state_(state), options_(options), progress_(progress), root_(options.target) {}
    // Everything written reaches the disk once, at the end; when write-back
    // failed, that is a failure of the whole target.
    void finish() {
        if (!wrote_) return;
        if (const int err = root_.sync())
            report(RestoreToOutcome::kFailed, options_.target, options_.target, "Error:" + std::to_string(err));
    }

    void restore(const Row& r) {
        if (options_.control) ++options_.control->actionsDone;
        const std::string source = SourcePath(r);
        const std::string target = RestoreToPath(options_, r.dir, r.name, r.level);
        if (!CleanAbsolute(source) || r.name.empty() || r.name.find(kSep) != std::string::npos)
            return report(RestoreToOutcome::kFailed, source, target, restore_text::kOutsideRefused);
        const bool bulk = r.kind == "3" && r.level == 0;
        if (!bulk && (r.kbn1 == "2" || r.kbn1 == "8" || r.kbn1 == "9"))
            return report(RestoreToOutcome::kNoCopy, source, target, "");

        const std::string name = options_.levelInName ? VersionTaggedName(r.name, r.level) : r.name;
        const std::string rel = SourcePathOf(r.dir, name).substr(1);
        const std::string folder = rel.substr(0, rel.rfind(kSep) == std::string::npos ? 0 : rel.rfind(kSep));
        int dirFd = -1;
        if (const int err = root_.openFolder(folder, &dirFd))
            return report(RestoreToOutcome::kFailed, source, target,
                          err == ELOOP ? restore_text::kLinkRefused : "Error:" + std::to_string(err));
        struct stat st {};
        if (!options_.overwrite && root_.statEntry(rel, &st) == 0)
            return report(RestoreToOutcome::kExists, source, target, "");

        wrote_ = true;
        std::optional<struct timespec> mtime;
        if (r.fupdate && r.fuptime) {
            const UnixTime u = UnixFromLocalTicks(
                FileTime{static_cast<std::int32_t>(*r.fupdate), static_cast<std::int32_t>(*r.fuptime)}.ticks());
            mtime = timespec{static_cast<time_t>(u.seconds), static_cast<long>(u.nanoseconds)};
        }
        const VersionCopy copy{r.destination, r.level, r.dir, r.name};
        const std::string archive = bulk ? BulkArchive(r.destination) : copy.archive();
        const Storage storage = bulk ? Storage::kArchive : StorageOf(state_.db(), copy, options_.compression);
        std::string result = kSuccess;
        if (storage == Storage::kMissing) {
            result = "Error:" + std::to_string(ENOENT);
        } else if (storage == Storage::kPlain) {
            FileStamp stamp;
            stamp.mtime = mtime;
            const Status copied = CopyFile(copy.plainCopy(), root_, rel, stamp, options_.overwrite);
            result = copied.resultText();
            if (copied.error() == EEXIST && !options_.overwrite)
                return report(RestoreToOutcome::kExists, source, target, "");
        } else {
            lzh::Member m;
            std::int32_t rc = archive::FindMemberForFolder(archive, MemberFolderOf(r.dir), r.name, &m);
            if (rc == kUnlhaOk) rc = archive::ExtractMemberTo(archive, m, root_, rel, {mtime, options_.overwrite});
            if (rc == archive::kUnlhaTargetExists) return report(RestoreToOutcome::kExists, source, target, "");
            if (rc != kUnlhaOk) result = restore_text::kArchiverResult + FiveDigits(rc);
        }
        report(result == kSuccess ? RestoreToOutcome::kRestored : RestoreToOutcome::kFailed, source, target,
               result == kSuccess ? "" : result);
    }

    RestoreToSummary summary;

private:
    void report(RestoreToOutcome outcome, const std::string& source, const std::string& target,
                const std::string& detail) {
        switch (outcome) {
        case RestoreToOutcome::kRestored: ++summary.restored; break;
        case RestoreToOutcome::kExists:
        case RestoreToOutcome::kNoCopy: ++summary.skipped; break;
        case RestoreToOutcome::kFailed: ++summary.failed; break;
        }
        if (progress_) progress_(outcome, source, target, detail);
    }

    SharedState& state_;
    const RestoreToOptions& options_;
    const RestoreToProgress& progress_;
    WriteRoot root_;
    bool wrote_ = false;
};

bool Selected(const std::string& source, const std::vector<std::string>& paths) {
    if (paths.empty()) return true;
    for (const std::string& p : paths) {
        if (p == "/" || source == p) return true;
        if (source.size() > p.size() && source.compare(0, p.size(), p) == 0 && source[p.size()] == kSep) return true;
    }
    return false;
}

// Ends a call's walk when a stop has been asked for.
bool StopAsked(const RestoreToOptions& options, RestoreToSummary& summary) {
    if (!options.control || !options.control->stopRequested()) return false;
    summary.stopped = true;
    return true;
}

}  // namespace

std::string VersionTaggedName(const std::string& name, std::int64_t level) {
    const std::size_t dot = name.rfind('.');
    const std::string tag = VersionFolderName(level);
    if (dot == std::string::npos || dot == 0) return name + "." + tag;
    return name.substr(0, dot) + "." + tag + name.substr(dot);
}

std::string RestoreToPath(const RestoreToOptions& options, const std::string& dir, const std::string& name,
                          std::int64_t level) {
    const std::string path = SourcePathOf(dir, options.levelInName ? VersionTaggedName(name, level) : name);
    return JoinPath(options.target, path.substr(1));
}

RestoreToSummary RestoreRunTo(SharedState& state, int runNumber, const std::vector<std::string>& paths,
                              const RestoreToOptions& options, const RestoreToProgress& progress) {
    std::vector<std::string> wanted;
    for (std::string p : paths) {
        while (p.size() > 1 && p.back() == kSep) p.pop_back();
        wanted.push_back(p);
    }
    Writer writer(state, options, progress);
    std::vector<std::int64_t> dirs;
    Statement d = state.db().prepare("SELECT DIRNO FROM BKPDIR WHERE DIRNO <> 0 AND KBN <> '9' ORDER BY DIRNO");
    while (d.step()) dirs.push_back(d.int64(0));
    for (std::int64_t dirNo : dirs) {
        // Per directory, file by file, newest level first (FILEKANRI_BYDIR):
        // the first row of each file at or before the run is its state then.
        Statement q = state.db().prepare(std::string(kRowColumns) +
                                         "WHERE F.DIRNO = ?1 AND F.BKPNO <= ?2 ORDER BY F.DIR, F.FILENM, F.LVL DESC");
        q.bind(1, dirNo).bind(2, runNumber);
        std::string lastDir, lastName;
        bool first = true;
        while (q.step()) {
            if (StopAsked(options, writer.summary)) return writer.summary;
            Row r = ReadRow(q);
            if (!first && r.dir == lastDir && r.name == lastName) continue;
            first = false;
            lastDir = r.dir;
            lastName = r.name;
            if (Selected(SourcePath(r), wanted)) writer.restore(r);
        }
    }
    writer.finish();
    return writer.summary;
}

RestoreToSummary RestoreVersionsTo(SharedState& state, const std::vector<std::int64_t>& versionRows,
                                   const RestoreToOptions& options, const RestoreToProgress& progress) {
    Writer writer(state, options, progress);
    Statement q = state.db().prepare(std::string(kRowColumns) + "WHERE F.rowid = ?1");
    if (options.control) options.control->actionsToDo += static_cast<std::int64_t>(versionRows.size());
    for (std::int64_t rowid : versionRows) {
        if (StopAsked(options, writer.summary)) break;
        q.reset();
        q.bind(1, rowid);
        if (q.step()) writer.restore(ReadRow(q));
    }
    writer.finish();
    return writer.summary;
}

}  // namespace tessel
