// The restore engine. One call restores one registered directory: the bulk
// archive of an initial bulk backup first, then one walk over the
// directory's recorded versions, file by file and newest level first,
// putting back the newest version recorded at or before the chosen run and
// deleting the files first recorded after it. Every action becomes a line
// of the report (file, RSTRLIST row, and for progress lines the status
// line of FILEREV).
#include "restore/restore_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

#include "archiver/add_pipeline.h"
#include "archiver/archive_ops.h"
#include "archiver/archive_request.h"
#include "archiver/unlha.h"
#include "catalog/catalog_rows.h"
#include "catalog/connection.h"
#include "catalog/version_state.h"
#include "platform/codepage.h"
#include "platform/file_ops.h"
#include "platform/file_times.h"
#include "platform/safe_write.h"
#include "platform/paths.h"
#include "restore/restore_messages.h"
#include "engine/version_store.h"
#include "engine/file_result.h"
#include "engine/file_versions.h"
#include "engine/program_places.h"
#include "restore/restore_plan.h"

namespace tessel {

using namespace restore_text;

namespace {

const char* const kWindow = "FILEREV";

// The three destinations of a report line: the report file RSTRLIST.TXT,
// the RSTRLIST table and, for progress lines, the status line of FILEREV.
// Lines are gathered in small batches, and the table and the file must
// show the same lines whenever the process is killed. A batch goes out in
// this order: its rows are committed, then its lines are written to the
// file in one write. Between the two the catalog does no more work (its
// checkpoints wait until the report is closed), so a kill leaves the file
// without the lines of committed rows only when it comes in the instant
// between the commit and the write, or while the write waits for the file
// system before its first byte. A fresh report (mode "1") is first written
// under a name of its own and replaces the last report by one rename right
// after the commit that empties the table (a rename, once begun, is
// finished). Lines not yet gone out are in neither.
class Report {
public:
    Report(SharedState& state, const std::string& reportMode, RestoreResult& result)
        : state_(state), db_(state.db()), insert_(state.db().prepare("INSERT INTO RSTRLIST (TEXT) VALUES (?1)")),
          result_(result), path_(JoinPath(state.dataFolder, kReportName)),
          newPath_(JoinPath(state.dataFolder, kNewReportName)), fresh_(reportMode == "1") {
        const std::string& opened = fresh_ ? newPath_ : path_;
        const int flags = O_WRONLY | O_CLOEXEC | (fresh_ ? O_CREAT | O_TRUNC | O_NOFOLLOW : O_CREAT | O_APPEND);
        fd_ = ::open(opened.c_str(), flags, 0666);
        if (fd_ < 0) {
            ++result.failed;
            state.ui.showMessage(kReportFileFailed + path_ + ": " + std::strerror(errno));
        }
        Statement q = db_.prepare("PRAGMA wal_autocheckpoint");
        if (q.step()) autoCheckpoint_ = q.int64(0);
        db_.exec("PRAGMA wal_autocheckpoint = 0");
        lastFlush_ = std::chrono::steady_clock::now();
    }
    ~Report() {
        try {
            close();
        } catch (...) {
        }
    }
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    // Sends what is pending and closes the file, which reaches the disk
    // first; a failure to write it is told once. The catalog checkpoints
    // again.
    void close() {
        if (closed_) return;
        closed_ = true;
        try {
            flush();
        } catch (...) {
            finish();
            throw;
        }
        finish();
    }

    // A line for the file only.
    void toFile(const std::string& line) {
        pending_.push_back({line, false});
        maybeFlush();
    }
    void line(const std::string& text, bool status = false) {
        pending_.push_back({text, true});
        maybeFlush();
        if (status) state_.ui.setStatus(kWindow, text);
    }

private:
    static constexpr const char* kReportName = "RSTRLIST.TXT";
    static constexpr const char* kNewReportName = "RSTRLIST.TXT.new";
    struct Pending {
        std::string text;
        bool row;  // also a row of the table
    };

    // The first line (the heading) goes out at once; later ones in batches.
    void maybeFlush() {
        const auto now = std::chrono::steady_clock::now();
        if (!sentOnce_ || pending_.size() >= 256 || now - lastFlush_ >= std::chrono::milliseconds(200)) flush();
    }

    // Code page 932 cannot hold every character of a Linux file name: the
    // file gets "?" in their place, the RSTRLIST row keeps the exact text.
    void flush() {
        if (sentOnce_ && pending_.empty()) return;
        std::string bytes;
        for (const Pending& p : pending_) bytes += Utf8ToCp932Lossy(p.text) + "\r\n";
        const bool replacing = fresh_ && !sentOnce_;
        if (replacing) write(bytes);  // into the new report, not yet seen
        Transaction tx(db_);
        if (replacing) db_.exec("DELETE FROM RSTRLIST");
        for (const Pending& p : pending_) {
            if (!p.row) continue;
            insert_.reset();
            insert_.bind(1, p.text).run();
        }
        tx.commit();
        if (!replacing) write(bytes);
        else if (fd_ >= 0 && ::rename(newPath_.c_str(), path_.c_str()) != 0) failed(errno);
        sentOnce_ = true;
        pending_.clear();
        lastFlush_ = std::chrono::steady_clock::now();
    }

    // All the bytes in one write where the system allows.
    void write(const std::string& bytes) {
        if (fd_ < 0 || writeFailed_) return;
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return failed(n < 0 ? errno : EIO);
            done += static_cast<std::size_t>(n);
        }
    }

    void finish() {
        if (fd_ >= 0) {
            if (::fsync(fd_) != 0) failed(errno);
            if (::close(fd_) != 0) failed(errno);
            fd_ = -1;
        }
        db_.exec("PRAGMA wal_autocheckpoint = " + std::to_string(autoCheckpoint_));
        db_.exec("PRAGMA wal_checkpoint(PASSIVE)");
    }

    void failed(int err) {
        if (writeFailed_) return;
        writeFailed_ = true;
        ++result_.failed;
        state_.ui.showMessage(kReportFileFailed + path_ + ": " + std::strerror(err ? err : EIO));
    }

    SharedState& state_;
    Connection& db_;
    Statement insert_;
    RestoreResult& result_;
    const std::string path_, newPath_;
    const bool fresh_;  // mode "1": a new report replaces the last one
    int fd_ = -1;       // where the lines are written
    std::int64_t autoCheckpoint_ = 1000;
    bool writeFailed_ = false;
    bool sentOnce_ = false;  // a batch went out (the table was emptied)
    bool closed_ = false;
    std::vector<Pending> pending_;
    std::chrono::steady_clock::time_point lastFlush_;
};

struct Directory {
    std::string dir;   // source directory, no trailing "/"
    std::string dest;  // destination directory
    std::string kind;
    std::optional<std::string> chk2;
};

class Restorer {
public:
    Restorer(SharedState& state, const RestoreOptions& options, const RestoreHooks& hooks, Report& report,
             RestoreResult& result, const Directory& d, int runNumber)
        : state_(state), options_(options), hooks_(hooks), report_(report), result_(result), d_(d), run_(runNumber),
          test_(options.test),
          root_(TrimmedRoot(d.dir)), rootPrefix_(root_ == "/" ? "/" : root_ + kSep), writer_(root_),
          programPlaces_(state.db(), root_) {}

    void bulk() {
        const std::string archive = BulkArchive(d_.dest);
        FileResult res;
        if (!test_) {
            const bool withSubdirs = d_.chk2 && *d_.chk2 == "01";
            archive::ArchiveRequest request =
                withSubdirs ? archive::ExtractAllRequest(archive) : archive::ExtractIntoRequest(archive, d_.dir);
            request.root = root_;
            const std::int32_t rc = bulkChecked(archive, request);
            if (rc != 0) {
                ++result_.failed;
                state_.ui.showMessage(kBulkArchiverFailed);
                res = FileResult::Archiver(rc);
            } else if (bulkMemberRefused_) {
                // Each such member has its own failure line already.
                res = FileResult::Archiver(kUnlhaRefusedPath);
            }
        }
        report_.line(kBulkLine + archive + " " + "rc= " + ResultText(res));
    }

    // The rows of one file, newest level first: what becomes of the file
    // is decided now, in the catalog's order, and done by run().
    void file(const std::vector<VersionRow>& rows) {
        bool handled = false;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const VersionRow& r = rows[i];
            if (r.bkpno > run_) {
                // Only the file's first version says that the file did not
                // exist yet at the chosen run; a file that has an older
                // version (a level-0 one, or one already put back) is kept.
                const bool first = i + 1 == rows.size();
                const VersionState state = VersionStateOf(r.kbn1);
                if (!handled && first && r.lvl != 0 && state != VersionState::kExcluded &&
                    state != VersionState::kNoCopy) {
                    noteTarget(r);
                    steps_.push_back({Step::Kind::kRemove, r});
                }
                continue;
            }
            if (handled) continue;
            handled = true;
            if (d_.kind == "1" || r.lvl != 0) {
                plan(r);
            } else if (d_.kind != "3") {
                steps_.push_back({Step::Kind::kLevelZeroSkipped, r});
            } else if (!test_) {
                steps_.push_back({Step::Kind::kBulkTime, r});
            }
        }
    }

    // Does what the walk decided, in its order: archive members are decoded
    // on worker threads meanwhile, and every file is written here.
    void run() {
        for (const std::size_t folder : folders_) duplicateTarget_ = duplicateTarget_ || targets_.count(folder) > 0;
        if (duplicateTarget_) archives_.keepWalkOrder();
        archives_.start(options_.jobs ? options_.jobs : archive::DefaultJobs());
        RunControl* const control = options_.control;
        if (control) {
            control->phase = RunControl::Phase::kRestoring;
            control->actionsToDo += static_cast<std::int64_t>(steps_.size());
        }
        for (const Step& s : steps_) {
            if (control && control->stopRequested()) {
                result_.stopped = true;
                report_.line(kStoppedLine, true);
                return;
            }
            if (control) ++control->actionsDone;
            switch (s.kind) {
            case Step::Kind::kRestore: restore(s); break;
            case Step::Kind::kRemove: remove(s.r); break;
            case Step::Kind::kLevelZeroSkipped:
                ++result_.skipped;
                report_.line(kRestoreSkipped + versionFile(s.r) + kFrom + target(s.r), true);
                break;
            case Step::Kind::kBulkTime: bulkTime(s.r); break;
            }
        }
    }

    // Everything written reaches the disk once, at the end; when
    // write-back failed, nothing of this directory can be trusted to be there.
    void finish() {
        if (!wrote_) return;
        if (const int err = writer_.sync()) {
            ++result_.failed;
            const std::string res = ResultText(FileResult::System(err));
            state_.ui.showMessage(kWriteBackFailedMessage + root_ + "\n" + kRc + res + " " + std::strerror(err));
            report_.line(kWriteBackFailedLine + root_ + kRc + res);
        }
    }

private:
    static std::string TrimmedRoot(std::string root) {
        while (root.size() > 1 && root.back() == kSep) root.pop_back();
        return root;
    }
    std::string versionFile(const VersionRow& r) const { return PlainCopy(d_.dest, r.lvl, r.name); }
    std::string versionArchive(const VersionRow& r) const { return LevelArchive(d_.dest, r.lvl); }
    static std::string target(const VersionRow& r) { return SourcePathOf(r.dir, r.name); }
    // The row's directory below the registered one ("" for itself).
    std::string relativeDir(const VersionRow& r) const {
        const std::string dir = WithSlash(r.dir);
        return dir.size() > rootPrefix_.size() ? dir.substr(rootPrefix_.size(), dir.size() - rootPrefix_.size() - 1) : "";
    }
    // The target lies inside the registered directory by its text: the
    // row's directory is the registered one or below it without "." or
    // ".." steps, and the name is a plain name.
    bool lexicallyInside(const VersionRow& r) const {
        if (root_.empty()) return false;  // a directory row without a path holds nothing
        if (!IsSafeRelativePath(r.name) || r.name.find(kSep) != std::string::npos) return false;
        return insideRoot(WithSlash(r.dir));
    }
    // dir (with its trailing "/") is the registered directory or a plain
    // path below it.
    bool insideRoot(const std::string& dir) const {
        if (root_.empty() || dir.compare(0, rootPrefix_.size(), rootPrefix_) != 0) return false;
        if (dir.size() == rootPrefix_.size()) return true;
        return dir.back() == kSep &&
               IsSafeRelativePath(std::string_view(dir).substr(rootPrefix_.size(), dir.size() - rootPrefix_.size() - 1));
    }

    // dir (with its trailing "/", inside the root) is the data folder, the
    // prefix or a destination, or lies below one: an older catalog may hold
    // rows of such files, and putting them back would replace the running
    // catalog or copies.
    bool amongProgramFiles(const std::string& dir) { return programPlaces_.covers(dir); }

    // The recorded last-write time, when the row has one.
    static std::optional<struct timespec> RecordedTime(const VersionRow& r) {
        if (!r.fupdate || !r.fuptime) return std::nullopt;
        const FileTime t{static_cast<std::int32_t>(*r.fupdate), static_cast<std::int32_t>(*r.fuptime)};
        const UnixTime u = UnixFromLocalTicks(t.ticks());
        return timespec{static_cast<time_t>(u.seconds), static_cast<long>(u.nanoseconds)};
    }

    static constexpr std::size_t kNoTicket = static_cast<std::size_t>(-1);
    struct Step {
        enum class Kind { kRestore, kRemove, kLevelZeroSkipped, kBulkTime } kind;
        VersionRow r;
        Storage storage = Storage::kMissing;
        std::int32_t code = 0;         // the archiver's code when the member is not there
        std::size_t ticket = kNoTicket;  // the archive member queued for it
    };

    // Two actions of one walk that touch the same name (a file, or a file
    // and a folder on the way to another) must happen in the walk's order.
    void noteTarget(const VersionRow& r) {
        if (!lexicallyInside(r)) return;
        // Names are kept as hashes: a collision only costs the order by offset.
        const std::hash<std::string> hash;
        const std::string dir = relativeDir(r);
        if (!targets_.insert(hash(dir.empty() ? r.name : dir + kSep + r.name)).second) duplicateTarget_ = true;
        for (std::size_t end = dir.find(kSep); !dir.empty(); end = dir.find(kSep, end + 1)) {
            folders_.insert(hash(dir.substr(0, end)));  // "A", then "A/B", ...
            if (end == std::string::npos) break;
        }
    }

    // Finds where the version's own copy lies (a catalog read, so here in
    // the walk) and queues its archive member for decoding.
    void plan(const VersionRow& r) {
        Step s{Step::Kind::kRestore, r};
        const bool copied = ClaimsOwnCopy(r.kbn1);
        if (copied) noteTarget(r);
        if (copied && lexicallyInside(r) && !test_) {
            lzh::Member m;
            s.code = archives_.find(versionArchive(r), r.dir, r.name, &m);
            if (s.code == kUnlhaOk) {
                s.storage = Storage::kArchive;
                s.ticket = archives_.add(versionArchive(r), std::move(m));
                stepOfTicket_.push_back(steps_.size());
            } else {
                s.storage = StorageOf(state_.db(), VersionCopy{d_.dest, r.lvl, r.dir, r.name}, options_.compression);
            }
        }
        steps_.push_back(std::move(s));
    }

    void restore(const Step& s) {
        const VersionRow& r = s.r;
        const std::string from = versionFile(r);
        const std::string to = target(r);
        FileResult res;
        if (!ClaimsOwnCopy(r.kbn1)) {
            // This version has no copy of its own (recorded only, or its
            // copy failed): whatever lies under its name in the version
            // folder belongs to another file. Nothing is put back.
            ++result_.skipped;
            report_.line(kRestoreSkipped + from + kFrom + to, true);
            return;
        }
        if (!lexicallyInside(r)) {
            res = FileResult::Outside();
        } else if (amongProgramFiles(WithSlash(r.dir))) {
            res = FileResult::ProgramPlace();
        } else if (!test_ && s.ticket != kNoTicket) {
            res = extracted(s);
        } else if (!test_) {
            int dirFd = -1;
            const int err = writer_.openFolder(relativeDir(r), &dirFd);
            res = err ? FileResult::Folder(err) : put(s, from);
        }
        if (!res.ok()) {
            ++result_.failed;
            state_.ui.showMessage(kRestoreFailedMessage + to + "\n" + kRc + ResultText(res));
            report_.line(kRestoreFailed + from + kFrom + to + kRc + ResultText(res));
        } else {
            ++result_.restored;
            report_.line(kRestored + from + kFrom + to, true);
        }
    }

    // The target's path below the registered directory.
    std::string relativePath(const VersionRow& r) const {
        const std::string dir = relativeDir(r);
        return dir.empty() ? r.name : dir + kSep + r.name;
    }

    FileResult put(const Step& s, const std::string& from) {
        const VersionRow& r = s.r;
        wrote_ = true;
        FileStamp stamp;
        stamp.mtime = RecordedTime(r);
        switch (s.storage) {
        case Storage::kMissing:
            return FileResult::System(ENOENT);
        case Storage::kPlain:
            return FileResult::Of(CopyFile(from, writer_, relativePath(r), stamp));
        case Storage::kArchive:
            break;
        }
        return archiverFailed(s.code);
    }

    // The result of an archive member that could not be put back: the
    // archiver's messages, then its code.
    FileResult archiverFailed(std::int32_t rc) {
        ShowArchiverResult(state_.ui, rc);
        state_.ui.showMessage(kArchiverFailed);
        return FileResult::Archiver(rc);
    }

    // The queued archive member of a step, put back with the recorded
    // last-write time (the archive keeps whole seconds). Members that lie
    // before it in their archives may be written first.
    FileResult extracted(const Step& s) {
        const ArchiveRestores::Outcome o =
            archives_.outcome(s.ticket, [&](std::size_t ticket, const ArchiveRestores::Put& put) {
                const VersionRow& r = steps_[stepOfTicket_[ticket]].r;
                ArchiveRestores::Outcome out;
                int dirFd = -1;
                out.folderError = writer_.openFolder(relativeDir(r), &dirFd);
                if (out.folderError) return out;
                wrote_ = true;
                out.code = put(dirFd, r.name, RecordedTime(r), true);
                return out;
            });
        if (o.folderError) return FileResult::Folder(o.folderError);
        return o.code == kUnlhaOk ? FileResult{} : archiverFailed(o.code);
    }

    // A level-0 version the bulk archive has put back gets its recorded
    // time, when the file there still has its recorded size.
    // A file the bulk archive stands for that it did not bring back (its
    // member missing, damaged or refused, or the file not there after the
    // extraction) gets a failure line of its own; one recorded without a
    // copy a skip line.
    void bulkTime(const VersionRow& r) {
        const std::string archive = BulkArchive(d_.dest);
        const std::string to = target(r);
        if (const VersionState state = VersionStateOf(r.kbn1);
            state == VersionState::kExcluded || state == VersionState::kNoCopy) {
            ++result_.skipped;
            report_.line(kRestoreSkipped + archive + kFrom + to, true);
            return;
        }
        if (!lexicallyInside(r)) return;  // reported with the archive's members
        struct stat st {};
        const bool there = writer_.statEntry(relativePath(r), &st) == 0 && S_ISREG(st.st_mode) &&
                           (!r.fsize || static_cast<std::int32_t>(static_cast<std::uint32_t>(st.st_size)) == *r.fsize);
        const std::string path = MemberPathOf(r.dir, r.name);
        if (bulkRefused_.count(path)) return;  // its line is written
        // Without the archive's index, the extraction's outcome and the
        // file itself tell: after a failed extraction, a file of the
        // recorded size may be one the archive did not bring back, and is
        // never given the recorded time (which would hide its changes from
        // the next backup).
        const bool member = bulkIndexed_ ? bulkMembers_.count(path) > 0 : bulkRc_ == 0;
        if (!member || !there) {
            ++result_.failed;
            const std::int32_t rc = bulkRc_ != 0 ? bulkRc_ : kUnlhaNoSuchMember;
            const std::string res = ResultText(FileResult::Archiver(rc));
            state_.ui.showMessage(kRestoreFailedMessage + to + "\n" + kRc + res);
            report_.line(kRestoreFailed + archive + kFrom + to + kRc + res);
            return;
        }
        if (const auto t = RecordedTime(r)) writer_.setTimes(relativePath(r), *t);
    }

    void remove(const VersionRow& r) {
        const std::string to = target(r);
        const std::string tail = "/" + VersionFolderName(r.lvl);
        if (d_.kind == "2" || d_.kind == "3") {
            ++result_.skipped;
            report_.line(kFilePrefix + to + kDeleteSkipped + tail, true);
            return;
        }
        FileResult res;
        if (!lexicallyInside(r)) {
            res = FileResult::Outside();
        } else if (amongProgramFiles(WithSlash(r.dir))) {
            res = FileResult::ProgramPlace();
        } else if (!test_) {
            const int err = writer_.removeFile(relativePath(r));
            if (err == ENOENT) {
                // Already gone: nothing to delete.
                ++result_.skipped;
                report_.line(kFilePrefix + to + kDeleteSkipped + tail, true);
                return;
            }
            if (err) res = FileResult::Folder(err);
        }
        if (!res.ok()) {
            ++result_.failed;
            state_.ui.showMessage(kFilePrefix + to + kDeleteFailedMessage + "\n" + "   " + ResultText(res));
            report_.line(kFilePrefix + to + kDeleteFailed + ResultText(res));
        } else {
            ++result_.deleted;
            report_.line(kFilePrefix + to + kDeleted + tail, true);
        }
    }

    // The bulk archive: every member must land inside the registered
    // directory, in a folder reached without a link. Members stored
    // elsewhere (a destination shared with another directory) are skipped
    // with a report line; members behind a link fail like any file that
    // cannot be put back. When no member is passed over, the whole archive
    // is extracted with `request` in one call; otherwise the others one by
    // one. Returns the archiver's result.
    std::int32_t bulkChecked(const std::string& archive, const archive::ArchiveRequest& request) {
        std::int32_t code = 0;
        auto index = archive::LoadIndex(archive, &code);
        if (!index || root_.empty()) {
            if (root_.empty()) return bulkRc_ = kUnlhaRefusedPath;
            return bulkRc_ = archiver(request);  // the archiver reports what it cannot read
        }
        bulkIndexed_ = true;
        for (const lzh::Member& m : index->members)
            if (!m.isDirectory() && m.safePath) bulkMembers_.insert(m.path);
        wrote_ = true;
        std::vector<std::pair<std::string, std::string>> inside;  // folder with "/", name
        bool passedOver = false;
        for (const lzh::Member& m : index->members) {
            if (m.isDirectory()) continue;
            const std::string path = "/" + m.path;
            if (!m.safePath) {
                // A name no file of ours can have: damaged or planted.
                passedOver = true;
                bulkMemberRefused_ = true;
                ++result_.failed;
                const std::string res = ResultText(FileResult::Archiver(kUnlhaRefusedPath));
                state_.ui.showMessage(kRestoreFailedMessage + Printable(path) + "\n" + kRc + res);
                report_.line(kRestoreFailed + archive + kFrom + Printable(path) + kRc + res);
                continue;
            }
            const std::size_t slash = path.rfind(kSep);
            const std::string folder = path.substr(0, slash + 1), name = path.substr(slash + 1);
            if (!insideRoot(folder) || amongProgramFiles(folder)) {
                // Another directory's file (a destination shared by two),
                // or one of the program's own.
                passedOver = true;
                ++result_.skipped;
                report_.line(kRestoreSkipped + archive + kFrom + path + kRc +
                             ResultText(insideRoot(folder) ? FileResult::ProgramPlace() : FileResult::Outside()));
                continue;
            }
            int dirFd = -1;
            std::string below = folder.substr(rootPrefix_.size());
            if (!below.empty()) below.pop_back();  // the trailing "/"
            if (const int err = writer_.openFolder(below, &dirFd)) {
                passedOver = true;
                bulkMemberRefused_ = true;
                bulkRefused_.insert(m.path);
                bulkMembers_.erase(m.path);
                ++result_.failed;
                const std::string res = ResultText(FileResult::Folder(err));
                state_.ui.showMessage(kRestoreFailedMessage + path + "\n" + kRc + res);
                report_.line(kRestoreFailed + archive + kFrom + path + kRc + res);
                continue;
            }
            inside.emplace_back(folder, name);
        }
        if (!passedOver) return bulkRc_ = archiver(request);
        std::int32_t first = 0;
        for (const auto& [folder, name] : inside) {
            archive::ArchiveRequest one = archive::ExtractOneRequest(archive, folder, name);
            one.root = root_;
            const std::int32_t rc = archiver(one);
            if (rc != 0 && first == 0) first = rc;
        }
        return bulkRc_ = first;
    }

    // The archiver call of the restore window (owner code "2").
    std::int32_t archiver(const archive::ArchiveRequest& request) {
        return RunArchiver(state_.ui, hooks_.archiver, request);
    }

    SharedState& state_;
    const RestoreOptions& options_;
    const RestoreHooks& hooks_;
    Report& report_;
    RestoreResult& result_;
    const Directory& d_;
    const std::int64_t run_;
    const bool test_;
    const std::string root_, rootPrefix_;
    WriteRoot writer_;
    ProgramPlaceGuard programPlaces_;
    bool wrote_ = false;
    bool bulkMemberRefused_ = false;  // a bulk member was refused, with its own line
    std::unordered_set<std::string> bulkMembers_;  // the bulk archive's members that may be put back
    std::unordered_set<std::string> bulkRefused_;  // those refused, each with its own line
    bool bulkIndexed_ = false;                     // the bulk archive's index could be read
    std::int32_t bulkRc_ = 0;                      // how the bulk extraction ended
    std::vector<Step> steps_;
    std::vector<std::size_t> stepOfTicket_;
    ArchiveRestores archives_;
    std::unordered_set<std::size_t> targets_, folders_;  // below the root
    bool duplicateTarget_ = false;
};

void Restore(SharedState& state, int dirNo, int runNumber, const RestoreOptions& options, const RestoreHooks& hooks,
             Report& report, RestoreResult& result) {
    Connection& db = state.db();
    const std::time_t now = hooks.clock();
    const bool test = options.test;
    report.line((test ? kHeadingTest : kHeading) + FormatReportDate(now) + "  " + FormatReportTime(now));
    if (test) report.line(kTestNotice);

    const std::optional<DirectoryRow> row = ReadDirectoryRow(db, dirNo);
    if (!row) {
        ++result.failed;
        state.ui.showMessage(kUndefinedMessage);
        report.toFile(kUndefinedLine + std::to_string(dirNo));
        return;
    }
    const Directory d{row->dir.value_or(""), row->dest.value_or(""), row->kind.value_or(""), row->chk2};
    if (d.kind == "9") {
        ++result.failed;
        state.ui.showMessage(kNotBackedUpMessage);
        return;
    }

    Restorer restorer(state, options, hooks, report, result, d, runNumber);
    if (d.kind == "3") restorer.bulk();

    // One walk over the directory's versions, file by file (both forms of
    // a directory are one file); only the rows of the current file are held.
    WalkFileVersions(db, dirNo, {}, [&](std::vector<VersionRow>& rows) {
        restorer.file(rows);
        return true;
    });
    restorer.run();
    restorer.finish();
}

}  // namespace

std::string FormatReportDate(std::time_t t) {
    std::tm tm {};
    localtime_r(&t, &tm);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return buf;
}

std::string FormatReportTime(std::time_t t) {
    std::tm tm {};
    localtime_r(&t, &tm);
    const int hour = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d %c", hour, tm.tm_min, tm.tm_sec, tm.tm_hour < 12 ? 'a' : 'p');
    return buf;
}

RestoreHooks DefaultRestoreHooks() {
    return {[](const archive::ArchiveRequest& r) { return archive::Perform(r); },
            [] { return std::time(nullptr); }};
}

RestoreResult RestoreDirectory(SharedState& state, int dirNo, int runNumber, const RestoreOptions& options) {
    return RestoreDirectory(state, dirNo, runNumber, options, DefaultRestoreHooks());
}

RestoreResult RestoreDirectory(SharedState& state, int dirNo, int runNumber, const RestoreOptions& options,
                               const RestoreHooks& hooks) {
    RestoreResult result;
    result.directories = 1;
    WaitCursor busy(state.ui);
    // Report lines already written stay when a catalog error ends the call.
    Report report(state, options.reportMode, result);
    Restore(state, dirNo, runNumber, options, hooks, report, result);
    report.close();
    return result;
}

}  // namespace tessel
