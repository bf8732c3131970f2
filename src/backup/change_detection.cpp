// One file of the file pass: read its entry and version, find its latest
// recorded version, and record a new version when the file is new, changed,
// or still without a usable copy.
#include <limits.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "backup/backup_messages.h"
#include "backup/backup_run.h"
#include "backup/catalog_queries.h"
#include "platform/file_faults.h"
#include "platform/file_times.h"
#include "platform/file_version.h"
#include "platform/paths.h"

namespace tessel::backup {
namespace {

// The columns of a file's latest version that the decision needs. Columns
// left empty (the entry could not be read when it was recorded) are nullopt.
struct Latest {
    std::int64_t rowid = 0;
    std::int64_t level = 0;
    std::string kbn1;
    std::optional<std::int64_t> fupdate, fuptime, fsize, fmver, flver, pmver, plver;
};

Latest ReadLatest(const Statement& q) {
    Latest r;
    r.rowid = q.int64(0);
    r.level = q.int64(1);
    r.kbn1 = q.text(2);
    r.fupdate = q.optInt(3);
    r.fuptime = q.optInt(4);
    r.fsize = q.optInt(5);
    r.fmver = q.optInt(6);
    r.flver = q.optInt(7);
    r.pmver = q.optInt(8);
    r.plver = q.optInt(9);
    return r;
}

// The recorded date and version texts of a version, for the message about
// an older file (read only then).
struct VersionTexts {
    std::string fupdayd, fverno, pverno;
};
VersionTexts ReadVersionTexts(Connection& db, std::int64_t rowid) {
    VersionTexts t;
    Statement& q = db.cached(kVersionByRowidSql);
    q.bind(1, rowid);
    if (q.step()) t = {q.text(10), q.text(11), q.text(12)};
    q.reset();
    return t;
}

// Whether rows of this directory number record the directory without the
// trailing "/" (this engine never writes them so, but they are matched
// all the same). Asked once per directory, not once per file.
bool HasBareRows(BackupRun& run, std::string_view bare) {
    if (run.bareCheckedFor && *run.bareCheckedFor == bare) return run.bareRows;
    std::string key(bare);
    Statement& q = run.db().cached(kBareRowsSql);
    q.bind(1, run.dirNo).bind(2, key);
    run.bareRows = q.step();
    q.reset();
    run.bareCheckedFor = std::move(key);
    return run.bareRows;
}

// The rowid of each name's latest version among the rows of the directory
// `dir` (with its trailing "/"): one pass over the index per directory
// instead of one seek per file; files without a row need no lookup at all.
void LoadLatestRowids(BackupRun& run, std::string_view bare) {
    if (const auto& loaded = run.latestLoadedFor; loaded && loaded->size() == bare.size() + 1 &&
                                                   loaded->back() == kSep && loaded->compare(0, bare.size(), bare) == 0)
        return;
    const std::string dir = std::string(bare) + kSep;
    run.latestRowids.clear();
    Statement& q = run.db().cached(kDirectoryVersionsSql);
    q.bind(1, run.dirNo).bind(2, dir);
    while (q.step()) run.latestRowids.insert_or_assign(q.text(0), q.int64(1));
    q.reset();
    run.latestLoadedFor = dir;
}

// The file's latest version: among the rows of this directory number and
// name whose DIR, less one trailing "/", is the file's directory, the one
// with the highest level (the last added among equal levels). DIR is
// either the directory with its trailing "/" (as this engine writes it) or
// without. Where the directory has no row of the bare form, the latest
// rowid comes from the directory's one pass (LoadLatestRowids); else each
// form is one seek of an index ending in LVL, read backwards, so no row is
// sorted and FILEKANRI is never scanned.
std::optional<Latest> FindLatest(BackupRun& run, const std::string& directory, const std::string& name) {
    Connection& db = run.db();
    const int dirNo = run.dirNo;
    std::string_view bare = directory;
    if (!bare.empty() && bare.back() == kSep) bare.remove_suffix(1);
    std::optional<Latest> best;
    const bool bareRows = HasBareRows(run, bare);
    if (!bareRows) {
        LoadLatestRowids(run, bare);
        const auto it = run.latestRowids.find(name);
        if (it == run.latestRowids.end()) return best;
        Statement& q = db.cached(kVersionByRowidSql);
        q.bind(1, it->second);
        if (q.step()) best = ReadLatest(q);
        q.reset();
        return best;
    }
    for (const std::string& dir : {std::string(bare) + kSep, std::string(bare)}) {
        if (dir == bare && !bareRows) break;
        Statement& q = db.cached(kLatestVersionSql);
        q.bind(1, dirNo).bind(2, name).bind(3, dir);
        if (q.step()) {
            Latest r = ReadLatest(q);
            if (!best || r.level > best->level || (r.level == best->level && r.rowid > best->rowid)) best = std::move(r);
        }
        q.reset();
    }
    return best;
}

// An empty recorded value is unknown, and unknown counts as different.
bool Differs(const std::optional<std::int64_t>& recorded, std::int32_t now) { return !recorded || *recorded != now; }
bool Greater(const std::optional<std::int64_t>& recorded, std::int32_t now) { return recorded && *recorded > now; }
bool Equal(const std::optional<std::int64_t>& recorded, std::int32_t now) { return recorded && *recorded == now; }

// The file's entry matches its latest version exactly, and that version
// had no version resource.
bool UnchangedWithoutVersion(const std::optional<Latest>& latest, const FileTimes& t) {
    if (!latest) return false;
    const Latest& r = *latest;
    return Equal(r.fupdate, t.lastWrite.high) && Equal(r.fuptime, t.lastWrite.low) && Equal(r.fsize, t.size) &&
           Equal(r.fmver, 0) && Equal(r.flver, 0) && Equal(r.pmver, 0) && Equal(r.plver, 0);
}

void Supersede(Connection& db, const Latest& r) {
    db.cached(kSupersedeSql).bind(1, r.rowid).run();
}

// Binds the 15 columns FCRDATE to PLVER, in table order, from `first` on:
// what a readable entry records, or nothing at all.
void BindEntryColumns(Statement& q, int first, const FileTimes& times, const FileVersion& version) {
    if (times.status != 0) {
        for (int i = first; i < first + 15; ++i) q.bindNull(i);
        return;
    }
    const FileTimeTexts created = FormatFileTime(times.creation);
    const FileTimeTexts written = FormatFileTime(times.lastWrite);
    q.bind(first, times.creation.high).bind(first + 1, times.creation.low).bind(first + 2, created.date);
    q.bind(first + 3, created.time).bind(first + 4, times.lastWrite.high).bind(first + 5, times.lastWrite.low);
    q.bind(first + 6, written.date).bind(first + 7, written.time).bind(first + 8, times.size);
    q.bind(first + 9, version.fileText).bind(first + 10, version.fileHigh).bind(first + 11, version.fileLow);
    q.bind(first + 12, version.productText).bind(first + 13, version.productHigh).bind(first + 14, version.productLow);
}

}  // namespace

void ProcessFile(BackupRun& run, const std::string& directory, const std::string& name, int dirFd) {
    Connection& db = run.db();
    std::string code = "0";
    const std::string path = JoinPath(directory, name);
    ++run.result.filesExamined;

    std::optional<Latest> latest;
    auto lookUp = [&] {
        if (!run.catalogHasRows) return;
        run.progress(kCheckingPrefix, path, kCheckingSuffix);
        latest = FindLatest(run, directory, name);
    };
    auto reportUnreadable = [&](const FileTimes& t) {
        if (t.status == 0) return;
        if (path.size() >= PATH_MAX) {
            run.failure(kPathTooLong + path + ")\n" + std::strerror(ENAMETOOLONG));  // also in silent runs
            return;
        }
        // Why, in the system's words (gone, or not to be opened).
        const Status readable = CheckReadableFile(path);
        run.failure(kNoEntry + "\n" + kMaybeInUse + path + (readable ? std::string() : "\n" + readable.reason()),
                    !run.silent());
    };

    // The entry is read first without opening the file. Reading the version
    // means opening and reading it, which costs more than the whole check of
    // an unchanged file; it is left out when the file's last-write time and
    // size are those of its latest version and that version carried no
    // version resource (the file cannot have gained one without being
    // written).
    FileVersion version;
    FileTimes times = ReadFileTimesAt(dirFd, name.c_str(), path);
    if (times.status == 0) {
        lookUp();
        if (!UnchangedWithoutVersion(latest, times)) {
            times = ReadFileInfo(path, version);  // the version only when the status is 0
            reportUnreadable(times);
        }
    } else {
        reportUnreadable(times);
        lookUp();
    }
    std::int64_t level = run.initialFlag == "1" ? 0 : 1;

    run.step = "5";
    if (latest) {
        const Latest& r = *latest;
        if (r.kbn1 == "8") return;  // excluded: never gets another version
        if (times.status != 0) {
            code = "9";
        } else {
            const FileTime& w = times.lastWrite;
            bool changed = Differs(r.fupdate, w.high) || Differs(r.fuptime, w.low) || Differs(r.fsize, times.size) ||
                           Differs(r.fmver, version.fileHigh) || Differs(r.flver, version.fileLow) ||
                           Differs(r.pmver, version.productHigh) || Differs(r.plver, version.productLow);
            if (!changed) {
                // Unchanged, but its latest version has no copy: a normal
                // run records it again. A level-0 "2" row is covered by the
                // bulk archive or was registered without a first copy; a
                // "9" row at any level, a failed first copy included, is not
                // covered by anything.
                bool noCopy = r.kbn1 == "9" || (r.kbn1 == "2" && r.level != 0);
                if (!(run.runKind == "1" && noCopy)) return;
            } else {
                bool older = Greater(r.fupdate, w.high) || Greater(r.fmver, version.fileHigh) ||
                             (Equal(r.fmver, version.fileHigh) && Greater(r.flver, version.fileLow)) ||
                             Greater(r.pmver, version.productHigh) ||
                             (Equal(r.pmver, version.productHigh) && Greater(r.plver, version.productLow));
                if (older) {
                    code = "7";
                    const VersionTexts t = ReadVersionTexts(db, r.rowid);
                    run.warning(kOlderFile + name + "\n" + kOlderDate + t.fupdayd + " - " + FormatFileTime(w).date +
                                    "\n" + kOlderFileVersion + t.fverno + "-" + version.fileText + "\n" +
                                    kOlderProductVersion + t.pverno + " - " + version.productText,
                                !run.silent());
                }
            }
        }
        level = r.level + 1;
        Supersede(db, r);
    }

    run.step = "6";
    Statement& add = db.cached(
        "INSERT INTO FILEKANRI (BKPNO, DIRNO, LVL, DIR, FILENM, FCRDATE, FCRTIME, FCRDAYD, FCRTIMED, FUPDATE, FUPTIME, "
        "FUPDAYD, FUPTIMED, FSIZE, FVERNO, FMVER, FLVER, PVERNO, PMVER, PLVER, KBN1, CHK1) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, '1')");
    add.bind(1, run.runNumber).bind(2, run.dirNo).bind(3, static_cast<std::int64_t>(level));
    add.bind(4, !directory.empty() && directory.back() == kSep ? directory : directory + kSep).bind(5, name);
    BindEntryColumns(add, 6, times, version);
    add.bind(21, run.runKind != "1" ? std::string("2") : code);
    add.run();
    ++run.result.versionsRecorded;
    if (RunControl* c = run.control(); c && run.runKind == "1" && code != "9") ++c->versionsToStore;
    run.catalogHasRows = true;
}

bool RecordStoredState(BackupRun& run, std::int64_t rowid, const std::string& path) {
    FileVersion version;
    const FileTimes times = ReadFileInfo(path, version);
    if (times.status != 0) return false;
    Statement& update = run.db().cached(
        "UPDATE FILEKANRI SET FCRDATE = ?1, FCRTIME = ?2, FCRDAYD = ?3, FCRTIMED = ?4, FUPDATE = ?5, FUPTIME = ?6, "
        "FUPDAYD = ?7, FUPTIMED = ?8, FSIZE = ?9, FVERNO = ?10, FMVER = ?11, FLVER = ?12, PVERNO = ?13, PMVER = ?14, "
        "PLVER = ?15 WHERE rowid = ?16");
    BindEntryColumns(update, 1, times, version);
    update.bind(16, rowid).run();
    return true;
}

}  // namespace tessel::backup
