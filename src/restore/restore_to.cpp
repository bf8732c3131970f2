#include "restore/restore_to.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "catalog/catalog_rows.h"
#include "catalog/version_state.h"
#include "archiver/add_pipeline.h"
#include "archiver/archive_ops.h"
#include "archiver/unlha.h"
#include "platform/file_ops.h"
#include "platform/file_times.h"
#include "platform/paths.h"
#include "platform/safe_write.h"
#include "engine/file_result.h"
#include "engine/file_versions.h"
#include "engine/program_places.h"
#include "restore/restore_messages.h"
#include "restore/restore_plan.h"
#include "engine/version_store.h"

namespace tessel {
namespace {

// One version to put below the target, with where its directory's copies lie.
struct Row {
    std::string destination;
    std::string kind;  // BKPDIR.KBN
    VersionRow v;
};

const char* const kRowColumns =
    "SELECT B.BKPDIR, B.KBN, F.rowid, F.BKPNO, F.LVL, F.DIR, F.FILENM, F.KBN1, F.FUPDATE, F.FUPTIME, F.FSIZE "
    "FROM FILEKANRI AS F JOIN BKPDIR AS B ON B.DIRNO = F.DIRNO ";

Row ReadRow(Statement& q) {
    return {q.text(0), q.text(1),
            {q.int64(2), q.int64(3), q.int64(4), q.text(5), q.text(6), q.text(7), q.optInt(8), q.optInt(9), q.optInt(10)}};
}

std::string SourcePath(const VersionRow& r) { return SourcePathOf(r.dir, r.name); }

std::optional<struct timespec> RecordedTime(const VersionRow& r) {
    if (!r.fupdate || !r.fuptime) return std::nullopt;
    const UnixTime u = UnixFromLocalTicks(
        FileTime{static_cast<std::int32_t>(*r.fupdate), static_cast<std::int32_t>(*r.fuptime)}.ticks());
    return timespec{static_cast<time_t>(u.seconds), static_cast<long>(u.nanoseconds)};
}

// The files go in two passes: the plan finds each version's copy (archive
// members are queued, so that each archive is read once, front to back,
// decoded on worker threads), then every file is written in the plan's
// order.
class Writer {
public:
    Writer(SharedState& state, const RestoreToOptions& options, const RestoreToProgress& progress)
        : state_(state),
          options_(options),
          progress_(progress),
          root_(options.target),
          compression_(CompressionFlag(state.db())),
          programPlaces_(state.db(), options.target) {}

    void plan(const Row& r) {
        Step s;
        s.r = r;
        s.source = SourcePath(r.v);
        s.target = RestoreToPath(options_, r.v.dir, r.v.name, r.v.lvl);
        const std::string name = options_.levelInName ? VersionTaggedName(r.v.name, r.v.lvl) : r.v.name;
        s.rel = SourcePathOf(r.v.dir, name).substr(1);
        const bool bulk = r.kind == "3" && r.v.lvl == 0;
        if (!IsSafeAbsolutePath(s.source) || r.v.name.empty() || r.v.name.find(kSep) != std::string::npos) {
            s.outcome = RestoreToOutcome::kFailed;
            s.detail = ResultText(FileResult::Outside());
        } else if (programPlaces_.covers(s.target.substr(0, s.target.rfind(kSep) + 1))) {
            s.outcome = RestoreToOutcome::kFailed;
            s.detail = ResultText(FileResult::ProgramPlace());
        } else if (!bulk && !ClaimsOwnCopy(r.v.kbn1)) {
            s.outcome = RestoreToOutcome::kNoCopy;
        } else {
            const VersionCopy copy{r.destination, r.v.lvl, r.v.dir, r.v.name};
            const std::string archive = bulk ? BulkArchive(r.destination) : copy.archive();
            lzh::Member m;
            s.code = archives_.find(archive, r.v.dir, r.v.name, &m);
            if (s.code == kUnlhaOk) {
                s.storage = Storage::kArchive;
                s.ticket = archives_.add(archive, std::move(m));
                stepOfTicket_.push_back(steps_.size());
            } else {
                s.storage = bulk ? Storage::kArchive : StorageOf(state_.db(), copy, compression_);
                if (s.storage == Storage::kPlain) s.plain = copy.plainCopy();
            }
        }
        steps_.push_back(std::move(s));
        if (options_.control) ++options_.control->actionsToDo;
    }

    void run() {
        archives_.start(archive::DefaultJobs());
        for (const Step& s : steps_) {
            if (options_.control && options_.control->stopRequested()) {
                summary.stopped = true;
                break;
            }
            if (options_.control) ++options_.control->actionsDone;
            write(s);
        }
        // Everything written reaches the disk once, at the end; when
        // write-back failed, that is a failure of the whole target.
        if (wrote_)
            if (const int err = root_.sync())
                report(RestoreToOutcome::kFailed, options_.target, options_.target, ResultText(FileResult::System(err)));
    }

    RestoreToSummary summary;

private:
    static constexpr std::size_t kNoTicket = static_cast<std::size_t>(-1);
    struct Step {
        Row r;
        std::string source, target, rel, detail, plain;
        std::optional<RestoreToOutcome> outcome;  // decided by the plan already
        Storage storage = Storage::kMissing;
        std::int32_t code = 0;
        std::size_t ticket = kNoTicket;
    };

    std::string folderOf(const std::string& rel) const {
        const auto slash = rel.rfind(kSep);
        return slash == std::string::npos ? std::string() : rel.substr(0, slash);
    }

    void write(const Step& s) {
        if (s.outcome) return report(*s.outcome, s.source, s.target, s.detail);
        int dirFd = -1;
        if (const int err = root_.openFolder(folderOf(s.rel), &dirFd))
            return report(RestoreToOutcome::kFailed, s.source, s.target, ResultText(FileResult::Folder(err)));
        // An archive member may have been written already, ahead of its
        // turn (members are written in the order they lie in their
        // archives): it keeps or replaces a file there as it goes.
        struct stat st {};
        if (s.ticket == kNoTicket && !options_.overwrite && root_.statEntry(s.rel, &st) == 0)
            return report(RestoreToOutcome::kExists, s.source, s.target, "");
        wrote_ = true;
        FileResult result;
        if (s.storage == Storage::kMissing) {
            result = FileResult::System(ENOENT);
        } else if (s.storage == Storage::kPlain) {
            FileStamp stamp;
            stamp.mtime = RecordedTime(s.r.v);
            const Status copied = CopyFile(s.plain, root_, s.rel, stamp, options_.overwrite);
            result = FileResult::Of(copied);
            if (copied.error() == EEXIST && !options_.overwrite)
                return report(RestoreToOutcome::kExists, s.source, s.target, "");
        } else if (s.ticket == kNoTicket) {
            result = FileResult::Archiver(s.code);
        } else {
            const ArchiveRestores::Outcome o =
                archives_.outcome(s.ticket, [&](std::size_t ticket, const ArchiveRestores::Put& put) {
                    const Step& at = steps_[stepOfTicket_[ticket]];
                    ArchiveRestores::Outcome out;
                    int fd = -1;
                    out.folderError = root_.openFolder(folderOf(at.rel), &fd);
                    if (out.folderError) return out;
                    const auto slash = at.rel.rfind(kSep);
                    out.code = put(fd, slash == std::string::npos ? at.rel : at.rel.substr(slash + 1),
                                   RecordedTime(at.r.v), options_.overwrite);
                    return out;
                });
            if (o.folderError)
                return report(RestoreToOutcome::kFailed, s.source, s.target, ResultText(FileResult::Folder(o.folderError)));
            if (o.code == archive::kUnlhaTargetExists) return report(RestoreToOutcome::kExists, s.source, s.target, "");
            if (o.code != kUnlhaOk) result = FileResult::Archiver(o.code);
        }
        report(result.ok() ? RestoreToOutcome::kRestored : RestoreToOutcome::kFailed, s.source, s.target,
               result.ok() ? "" : ResultText(result));
    }

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
    // The kind of copy reported missing when a version has neither.
    const std::string compression_;
    // Nothing is put back into the data folder, the prefix or a destination.
    ProgramPlaceGuard programPlaces_;
    bool wrote_ = false;
    std::vector<Step> steps_;
    std::vector<std::size_t> stepOfTicket_;
    ArchiveRestores archives_;
};

// The paths asked for, without those that lie inside another one asked for.
std::vector<std::string> Outermost(std::vector<std::string> paths) {
    for (std::string& p : paths)
        while (p.size() > 1 && p.back() == kSep) p.pop_back();
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> out;
    for (const std::string& p : paths) {
        const bool inside = !out.empty() && (out.back() == "/" || p == out.back() ||
                                             (p.compare(0, out.back().size(), out.back()) == 0 && p[out.back().size()] == kSep));
        if (!inside) out.push_back(p);
    }
    return out;
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
    Writer writer(state, options, progress);
    struct Dir {
        std::int64_t no;
        std::string source, destination, kind;
    };
    std::vector<Dir> dirs;
    Statement d = state.db().prepare(
        "SELECT DIRNO, DIR, BKPDIR, KBN FROM BKPDIR WHERE DIRNO <> 0 AND KBN <> '9' ORDER BY DIRNO");
    while (d.step()) dirs.push_back({d.int64(0), d.text(1), d.text(2), d.text(3)});
    const std::vector<std::string> wanted = paths.empty() ? std::vector<std::string>{"/"} : Outermost(paths);
    for (const Dir& dir : dirs) {
        for (const std::string& path : wanted) {
            // Only the files asked for are read: the path's own rows, or the
            // rows of its folder, from the index; newest first per file.
            VersionScope scope;
            scope.upToRun = runNumber;
            if (path != "/") scope.path = path;
            WalkFileVersions(state.db(), dir.no, scope, [&](std::vector<VersionRow>& rows) {
                writer.plan(Row{dir.destination, dir.kind, rows.front()});
                return !(options.control && options.control->stopRequested());
            });
        }
    }
    writer.run();
    return writer.summary;
}

RestoreToSummary RestoreVersionsTo(SharedState& state, const std::vector<std::int64_t>& versionRows,
                                   const RestoreToOptions& options, const RestoreToProgress& progress) {
    Writer writer(state, options, progress);
    Statement q = state.db().prepare(std::string(kRowColumns) + "WHERE F.rowid = ?1");
    for (std::int64_t rowid : versionRows) {
        q.reset();
        q.bind(1, rowid);
        if (q.step()) writer.plan(ReadRow(q));
    }
    writer.run();
    return writer.summary;
}

}  // namespace tessel
