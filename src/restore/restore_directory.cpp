// The restore engine. One call restores one registered directory: the bulk
// archive of an initial bulk backup first, then one walk over the
// directory's recorded versions, file by file and newest level first,
// putting back the newest version recorded at or before the chosen run and
// deleting the files first recorded after it. Every action becomes a line
// of the report (file, RSTRLIST row, and for progress lines the status
// line of FILEREV).
#include "restore/restore_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "archiver/archive_ops.h"
#include "archiver/run_archiver.h"
#include "catalog/connection.h"
#include "platform/codepage.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "restore/restore_messages.h"

namespace tessel {

using namespace restore_text;

namespace {

const char* const kWindow = "FILEREV";

// "00000": at least five digits, leading zeros; a minus sign in front.
std::string FiveDigits(std::int64_t n) {
    char buf[32];
    if (n < 0)
        std::snprintf(buf, sizeof buf, "-%05lld", -static_cast<long long>(n));
    else
        std::snprintf(buf, sizeof buf, "%05lld", static_cast<long long>(n));
    return buf;
}

std::string WithSlash(const std::string& dir) {
    return !dir.empty() && dir.back() == kSep ? dir : dir + kSep;
}

// The three destinations of a report line.
class Report {
public:
    Report(SharedState& state, const std::string& reportMode)
        : state_(state), insert_(state.db().prepare("INSERT INTO RSTRLIST (TEXT) VALUES (?1)")) {
        const std::string path = JoinPath(state.dataFolder, "RSTRLIST.TXT");
        file_ = std::fopen(path.c_str(), reportMode == "1" ? "wb" : "ab");
        if (!file_) state.ui.showMessage(kReportFileFailed + path);
    }
    ~Report() { close(); }
    void close() {
        if (file_) std::fclose(file_);
        file_ = nullptr;
    }

    // Code page 932 cannot hold every character of a Linux file name: the
    // file gets "?" in their place, the RSTRLIST row keeps the exact text.
    void toFile(const std::string& line) {
        if (!file_) return;
        const std::string bytes = Utf8ToCp932Lossy(line);
        std::fwrite(bytes.data(), 1, bytes.size(), file_);
        std::fwrite("\r\n", 1, 2, file_);
    }
    void line(const std::string& text, bool status = false) {
        toFile(text);
        insert_.reset();
        insert_.bind(1, text).run();
        if (status) state_.ui.setStatus(kWindow, text);
    }

private:
    SharedState& state_;
    Statement insert_;
    std::FILE* file_ = nullptr;
};

struct Directory {
    std::string dir;   // source directory, no trailing "/"
    std::string dest;  // destination directory
    std::string kind;
    std::optional<std::string> chk2;
};

struct VersionRow {
    std::int64_t bkpno = 0;
    std::int64_t lvl = 0;
    std::string dir;
    std::string name;
    std::string kbn1;
};

class Restorer {
public:
    Restorer(SharedState& state, const RestoreHooks& hooks, Report& report, const Directory& d, int runNumber)
        : state_(state), hooks_(hooks), report_(report), d_(d), run_(runNumber),
          test_(state.restoreTest != 0) {
        root_ = d.dir;
        while (root_.size() > 1 && root_.back() == kSep) root_.pop_back();
        rootPrefix_ = root_ == "/" ? "/" : root_ + kSep;
    }

    void bulk() {
        const std::string archive = d_.dest + "/bkpcmp.lzh";
        std::string res = kSuccess;
        if (!test_) {
            const bool withSubdirs = d_.chk2 && *d_.chk2 == "01";
            if (withSubdirs && !bulkMembersInside(archive)) {
                state_.ui.showMessage(kBulkArchiverFailed);
                res = kOutsideRefused;
            } else {
                state_.archiverCommand = withSubdirs ? "e -r2x1a2ncy " + archive + " *.*"
                                                     : "e -na1cy " + archive + " \"" + d_.dir + "/\" *.*";
                const std::int32_t rc = hooks_.archiver(state_, "2");
                if (rc != 0) {
                    state_.ui.showMessage(kBulkArchiverFailed);
                    res = kArchiverResult + FiveDigits(rc);
                }
            }
        }
        report_.line(kBulkLine + archive + " " + "rc= " + res);
    }

    // The rows of one file, newest level first.
    void file(const std::vector<VersionRow>& rows) {
        bool handled = false;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const VersionRow& r = rows[i];
            if (r.bkpno > run_) {
                // Only the file's first version says that the file did not
                // exist yet at the chosen run; a file that has an older
                // version (a level-0 one, or one already put back) is kept.
                const bool first = i + 1 == rows.size();
                if (!handled && first && r.lvl != 0 && r.kbn1 != "8" && r.kbn1 != "9") remove(r);
                continue;
            }
            if (handled) continue;
            handled = true;
            if (d_.kind == "1" || r.lvl != 0) {
                restore(r);
            } else if (d_.kind != "3") {
                report_.line(kRestoreSkipped + versionFile(r) + kFrom + target(r), true);
            }
        }
    }

private:
    std::string versionFolder(const VersionRow& r) const { return JoinPath(d_.dest, "V" + FiveDigits(r.lvl)); }
    std::string versionFile(const VersionRow& r) const { return versionFolder(r) + kSep + r.name; }
    static std::string target(const VersionRow& r) { return WithSlash(r.dir) + r.name; }

    // The target lies inside the registered directory by its text: the
    // row's directory is the registered one or below it without "." or
    // ".." steps, and the name is a plain name.
    bool lexicallyInside(const VersionRow& r) const {
        if (root_.empty()) return false;  // a directory row without a path holds nothing
        if (r.name.empty() || r.name == "." || r.name == ".." || r.name.find(kSep) != std::string::npos) return false;
        const std::string dir = WithSlash(r.dir);
        if (dir.compare(0, rootPrefix_.size(), rootPrefix_) != 0) return false;
        std::size_t pos = rootPrefix_.size();
        while (pos < dir.size()) {
            const std::size_t next = dir.find(kSep, pos);
            const std::string part = dir.substr(pos, next - pos);
            if (part.empty() || part == "." || part == "..") return false;
            pos = next + 1;
        }
        return true;
    }

    // Every directory between the registered directory and the target's
    // directory must be a real directory, not a symbolic link that would
    // lead elsewhere; missing ones are made when `create` is set. Returns
    // "" when the way is clear, else the result text of the refusal.
    std::string clearWay(const std::string& rowDir, bool create) {
        const std::string dir = WithSlash(rowDir);
        if (dir == checkedDir_) return "";
        struct stat st {};
        if (::stat(root_.c_str(), &st) != 0) {
            if (!create) return "Error:" + std::to_string(errno);
            std::string partial;
            for (std::size_t pos = 1; pos <= root_.size(); ++pos) {
                if (pos == root_.size() || root_[pos] == kSep) {
                    partial = root_.substr(0, pos);
                    if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return "Error:" + std::to_string(errno);
                }
            }
        } else if (!S_ISDIR(st.st_mode)) {
            return "Error:" + std::to_string(ENOTDIR);
        }
        std::size_t pos = rootPrefix_.size();
        while (pos < dir.size()) {
            const std::size_t next = dir.find(kSep, pos);
            const std::string path = dir.substr(0, next);
            if (::lstat(path.c_str(), &st) != 0) {
                if (errno != ENOENT || !create) return "Error:" + std::to_string(errno);
                if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return "Error:" + std::to_string(errno);
            } else if (S_ISLNK(st.st_mode)) {
                return kOutsideRefused;
            } else if (!S_ISDIR(st.st_mode)) {
                return "Error:" + std::to_string(ENOTDIR);
            }
            pos = next + 1;
        }
        checkedDir_ = dir;
        return "";
    }

    void restore(const VersionRow& r) {
        const std::string from = versionFile(r);
        const std::string to = target(r);
        std::string res = kSuccess;
        if (r.kbn1 == "2" || r.kbn1 == "8" || r.kbn1 == "9") {
            // This version has no copy of its own (recorded only, or its
            // copy failed): whatever lies under its name in the version
            // folder belongs to another file. Nothing is put back.
            report_.line(kRestoreSkipped + from + kFrom + to, true);
            return;
        }
        if (!lexicallyInside(r)) {
            res = kOutsideRefused;
        } else if (!test_) {
            res = clearWay(r.dir, true);
            if (res.empty()) res = put(r, from, to);
        }
        if (res != kSuccess) {
            state_.ui.showMessage(kRestoreFailedMessage + to + "\n" + kRc + res);
            report_.line(kRestoreFailed + from + kFrom + to + kRc + res);
        } else {
            report_.line(kRestored + from + kFrom + to, true);
        }
    }

    std::string put(const VersionRow& r, const std::string& from, const std::string& to) {
        // A read-only target is made writable (only that bit changes) so
        // that it can be replaced.
        struct stat st {};
        if (::lstat(to.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0)
            ::chmod(to.c_str(), (st.st_mode & 07777) | S_IWUSR);

        const std::string archive = versionFolder(r) + "/bkpcmp.lzh";
        bool plain = state_.compression == "0";
        // The compression switch may have changed since this version was
        // stored: when the storage the switch names is missing and the
        // other one is there, take the other one.
        if (plain && !PathExists(from) && PathExists(archive)) plain = false;
        else if (!plain && !PathExists(archive) && PathExists(from)) plain = true;
        if (plain) return CopyFileReport(from, to);

        state_.archiverCommand = "e -a1cynx1 " + archive + " " + WithSlash(r.dir) + " \"" + r.name + "\"";
        const std::int32_t rc = hooks_.archiver(state_, "2");
        if (rc == 0) return kSuccess;
        state_.ui.showMessage(kArchiverFailed);
        return kArchiverResult + FiveDigits(rc);
    }

    void remove(const VersionRow& r) {
        const std::string to = target(r);
        const std::string tail = "/V" + FiveDigits(r.lvl);
        if (d_.kind == "2" || d_.kind == "3") {
            report_.line(kFilePrefix + to + kDeleteSkipped + tail, true);
            return;
        }
        std::string res = kSuccess;
        if (!lexicallyInside(r)) {
            res = kOutsideRefused;
        } else if (!test_) {
            res = clearWay(r.dir, false);
            if (res.empty()) res = DeleteFileReport(to);
        }
        if (res != kSuccess) {
            state_.ui.showMessage(kFilePrefix + to + kDeleteFailedMessage + "\n" + "   " + res);
            report_.line(kFilePrefix + to + kDeleteFailed + res);
        } else {
            report_.line(kFilePrefix + to + kDeleted + tail, true);
        }
    }

    // Every member of a bulk archive extracted with its stored path must
    // land inside the registered directory.
    bool bulkMembersInside(const std::string& archive) const {
        std::int32_t code = 0;
        auto index = archive::LoadIndex(archive, &code);
        if (!index) return true;  // the archiver reports what it cannot read
        if (root_.empty()) return false;
        for (const lzh::Member& m : index->members) {
            if (!m.safePath) continue;  // never written by the archiver
            const std::string path = "/" + m.path;
            if (path.compare(0, rootPrefix_.size(), rootPrefix_) != 0 || path.size() == rootPrefix_.size())
                return false;
        }
        return true;
    }

    SharedState& state_;
    const RestoreHooks& hooks_;
    Report& report_;
    const Directory& d_;
    const std::int64_t run_;
    const bool test_;
    std::string root_, rootPrefix_;
    std::string checkedDir_;
};

void Restore(SharedState& state, int dirNo, int runNumber, const std::string& reportMode, const RestoreHooks& hooks,
             Report& report) {
    Connection& db = state.db();
    if (reportMode == "1") db.exec("DELETE FROM RSTRLIST");

    const std::time_t now = hooks.clock();
    const bool test = state.restoreTest != 0;
    report.line((test ? kHeadingTest : kHeading) + FormatReportDate(now) + "  " + FormatReportTime(now));
    if (test) report.line(kTestNotice);

    Statement q = db.prepare("SELECT DIRNO, DIR,BKPDIR,BIKOU,KBN,CHK2 FROM BKPDIR WHERE DIRNO = ?1");
    q.bind(1, dirNo);
    if (!q.step()) {
        state.ui.showMessage(kUndefinedMessage);
        report.toFile(kUndefinedLine + std::to_string(dirNo));
        return;
    }
    const Directory d{q.text(1), q.text(2), q.text(4), q.optText(5)};
    if (d.kind == "9") {
        state.ui.showMessage(kNotBackedUpMessage);
        return;
    }

    Restorer restorer(state, hooks, report, d, runNumber);
    if (d.kind == "3") restorer.bulk();

    // One ordered walk over the directory's versions (FILEKANRI_BYDIR),
    // row by row; only the rows of the current file are held.
    Statement walk = db.prepare(
        "SELECT BKPNO, LVL, DIR, FILENM, KBN1 FROM FILEKANRI WHERE DIRNO = ?1 ORDER BY DIR, FILENM, LVL DESC");
    walk.bind(1, dirNo);
    std::vector<VersionRow> rows;
    while (walk.step()) {
        VersionRow r{walk.int64(0), walk.int64(1), walk.text(2), walk.text(3), walk.text(4)};
        if (!rows.empty() && (rows.back().dir != r.dir || rows.back().name != r.name)) {
            restorer.file(rows);
            rows.clear();
        }
        rows.push_back(std::move(r));
    }
    if (!rows.empty()) restorer.file(rows);
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
    return {[](SharedState& s, const std::string& owner) { return RunArchiver(s, owner); },
            [] { return std::time(nullptr); }};
}

void RestoreDirectory(SharedState& state, int dirNo, int runNumber, const std::string& reportMode) {
    RestoreDirectory(state, dirNo, runNumber, reportMode, DefaultRestoreHooks());
}

void RestoreDirectory(SharedState& state, int dirNo, int runNumber, const std::string& reportMode,
                      const RestoreHooks& hooks) {
    Report report(state, reportMode);
    state.ui.setWaitCursor(true);
    // The report rows of one call are one transaction; rows already written
    // stay when a catalog error ends the call.
    Transaction tx(state.db());
    try {
        Restore(state, dirNo, runNumber, reportMode, hooks, report);
    } catch (...) {
        try {
            tx.commit();
        } catch (...) {
        }
        report.close();
        state.ui.setWaitCursor(false);
        throw;
    }
    tx.commit();
    report.close();
    state.ui.setWaitCursor(false);
}

}  // namespace tessel
