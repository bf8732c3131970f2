// Storing the versions a call recorded: each into the LZH archive of its
// version folder, or as a plain copy when compression is off; for an
// initial bulk backup the whole source directory into one archive.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <unordered_map>
#include <unordered_set>

#include "archiver/archive_ops.h"
#include "archiver/archive_request.h"
#include "archiver/unlha.h"
#include "backup/backup_messages.h"
#include "catalog/version_state.h"
#include "core/status.h"
#include "backup/backup_run.h"
#include "backup/catalog_queries.h"
#include "platform/file_faults.h"
#include "platform/file_ops.h"
#include "platform/file_times.h"
#include "platform/paths.h"
#include "engine/file_result.h"
#include "engine/version_store.h"
#include "platform/program_files.h"

namespace tessel::backup {
namespace {

struct VersionRow {
    std::int64_t rowid = 0;
    std::int64_t level = 0;
    std::string dir;
    std::string name;
    std::string kbn1;
    std::optional<std::int64_t> fupdate, fuptime, fsize;  // as the file pass recorded them
};

// The archiver read a file that kept changing: it has no copy.
bool ChangedWhileRead(const FileResult& r) {
    return r.kind == FileResult::Kind::kArchiver && r.code == kUnlhaSourceChanged;
}

// Whether the file as it looks now is what its row recorded: the copy just
// made describes the row, or the row must take the file's state.
bool AsRecorded(const VersionRow& row, const EntryLook& look) {
    if (!look.read) return true;
    const FileTime w = look.lastWrite();
    return row.fupdate == w.high && row.fuptime == w.low &&
           row.fsize == static_cast<std::int32_t>(static_cast<std::uint32_t>(look.size));
}

// What storing one file came to, once the file was looked at before and
// after it was read.
enum class Settled { kStable, kChanged };
Settled SettledBetween(const EntryLook& before, const EntryLook& after) {
    // An entry that cannot be looked at tells nothing; what the archiver
    // could read of it is what it read.
    return before == after ? Settled::kStable : Settled::kChanged;
}

// The next rows this call added for this run and directory, in the order
// they were added. Every row above the call's starting rowid is one of
// them (the call holds the write transaction), so the rows are walked by
// rowid. Read in small batches so that a huge catalog is never held in
// memory and rows can be written back between batches.
std::vector<VersionRow> NextRows(BackupRun& run, std::int64_t after) {
    Statement& q = run.db().cached(kNextRowsSql);
    q.bind(1, run.runNumber).bind(2, run.dirNo).bind(3, after);
    std::vector<VersionRow> rows;
    while (q.step())
        rows.push_back({q.int64(0), q.int64(1), q.text(2), q.text(3), q.text(4), q.optInt(5), q.optInt(6), q.optInt(7)});
    q.reset();
    return rows;
}

void WriteBack(BackupRun& run, const VersionRow& row) {
    run.db()
        .cached(kWriteBackSql)
        .bind(1, row.level)
        .bind(2, row.kbn1)
        .bind(3, row.rowid)
        .run();
}

std::string SourceFileOf(const VersionRow& row) { return SourcePathOf(row.dir, row.name); }

// A version folder that could not be made: the call stops.
class FolderNotMade : public Error {
public:
    using Error::Error;
};

// The version folder of a level below the destination, made when missing.
// A link or a file in its place is refused (ELOOP, ENOTDIR): that version
// fails, and nothing is written there. Any other failure to make it stops
// the call.
int OpenVersionFolder(BackupRun& run, std::int64_t level) {
    int fd = -1;
    const int err = run.root().openFolder(VersionFolderName(level), &fd);
    if (err == 0 || err == ELOOP || err == ENOTDIR || err == EINVAL) return err;
    throw FolderNotMade("ディレクトリーを作成できません (" + VersionFolder(run.destination, level) + "): " +
                        std::strerror(err));
}

// The failure of a version whose folder was refused.
FileResult FolderRefused(BackupRun& run, std::int64_t level, int err) {
    // Counted once, with the file's own failure that follows.
    run.report(RunEntry::kFailure,
               "ディレクトリーを作成できません (" + VersionFolder(run.destination, level) + "): " + std::strerror(err), true);
    return FileResult::System(err);
}

// Adds one version to its level archive.
FileResult ArchiveOne(BackupRun& run, const std::string& sourceFile, std::int64_t level, bool byCatalogOnly) {
    // The archiver itself refuses what it cannot read (a file gone or
    // unreadable, a FIFO, device or link put in its place since the scan),
    // without blocking, and its failure is reported as such.
    archive::ArchiveRequest request = archive::AddFileRequest(LevelArchive(run.destination, level), sourceFile);
    request.root = run.destination;
    request.byCatalogOnly = byCatalogOnly;
    const std::int32_t rc = run.runArchiver(request);
    if (rc == 0) return {};
    run.failure(kArchiverFailed);
    return FileResult::Archiver(rc);
}

// Whether a recorded version claims the copy of dir/name at this level of
// the destination: a row of any registration storing there, with a copy of
// its own, committed before this call or stored by it already. A copy that
// none claims was left by a run killed before its rows were committed.
bool CopyClaimed(BackupRun& run, std::int64_t level, const std::string& dir, const std::string& name) {
    std::string bare = dir;
    if (bare.size() > 1 && bare.back() == kSep) bare.pop_back();
    Statement& q = run.db().cached(kCopyClaimedSql);
    q.bind(1, run.destination).bind(2, bare + (bare == "/" ? "" : "/")).bind(3, bare).bind(4, name).bind(5, level);
    q.bind(6, run.storedThrough).bind(7, run.dirNo);
    const bool claimed = q.step();
    q.reset();
    return claimed;
}

// The same for a plain copy, which is known by level and name alone.
bool PlainCopyClaimed(BackupRun& run, std::int64_t level, const std::string& name) {
    Statement& q = run.db().cached(kPlainCopyClaimedSql);
    q.bind(1, run.destination).bind(2, name).bind(3, level).bind(4, run.storedThrough).bind(5, run.dirNo);
    const bool claimed = q.step();
    q.reset();
    return claimed;
}

// Before the first add of this call to a level archive that already holds
// one of the paths it adds: the members no recorded version claims (what a
// killed run left) are dropped, all in one rewrite, so that this call's
// adds append instead of rewriting the archive once per file.
void DropUnclaimedMembers(BackupRun& run, std::int64_t level, const std::vector<std::string>& files) {
    if (run.reconciledLevels.count(level)) return;
    const std::string archive = LevelArchive(run.destination, level);
    std::vector<std::string> paths;
    for (const std::string& f : files) paths.push_back(f.substr(1));
    const std::vector<bool> held = archive::HoldsPaths(archive, paths);
    if (std::find(held.begin(), held.end(), true) == held.end()) return;
    run.reconciledLevels.insert(level);
    std::int32_t code = 0;
    const auto index = archive::LoadIndex(archive, &code);
    if (!index) return;
    std::vector<std::string> unclaimed;
    for (const lzh::Member& m : index->members) {
        if (m.isDirectory()) continue;
        const auto slash = m.path.rfind(kSep);
        const std::string dir = slash == std::string::npos ? "/" : "/" + m.path.substr(0, slash + 1);
        const std::string name = slash == std::string::npos ? m.path : m.path.substr(slash + 1);
        if (!CopyClaimed(run, level, dir, name)) unclaimed.push_back(m.path);
    }
    if (unclaimed.empty()) return;
    // Left in place, they are replaced by the adds of the same paths; the
    // others stay unclaimed until a later run can drop them.
    if (const std::int32_t rc =
            archive::DropMembers(run.root(), VersionFolderName(level) + kSep + std::string(kArchiveName), unclaimed))
        run.warning("記録のないメンバーを取り除けません (" + archive + "): " + UnlhaResultText(rc), !run.silent());
}

bool LevelTakesMembers(BackupRun& run, std::int64_t level);

// Copies one version into its level folder under its own name; the level
// is raised while that name is taken there, so that files of one name from
// different folders never overwrite each other, and past a level whose
// archive takes nothing, beside which the copy would be taken for a member
// hidden in it. A second copy (again) replaces the first at the same level.
FileResult CopyOne(BackupRun& run, const std::string& sourceFile, VersionRow& row, bool* changed, bool again) {
    // Only a regular file that can be opened is copied.
    if (Status readable = CheckReadableFile(sourceFile); !readable) return FileResult::Of(readable);
    // A copy no recorded version claims (a killed run's) is replaced.
    struct stat st {};
    bool replace = again;
    for (;;) {
        if (LevelTakesMembers(run, row.level)) {
            if (replace || run.root().statEntry(VersionFolderName(row.level) + kSep + row.name, &st) != 0) break;
            if (S_ISREG(st.st_mode) && !PlainCopyClaimed(run, row.level, row.name)) {
                replace = true;
                break;
            }
        }
        ++row.level;
        *changed = true;
    }
    if (const int err = OpenVersionFolder(run, row.level)) return FolderRefused(run, row.level, err);
    return FileResult::Of(CopyFile(sourceFile, run.root(), VersionFolderName(row.level) + kSep + row.name, {}, replace));
}

// Whether the archive of a level takes more members: not when it is a file
// that may hide members behind damage, which an add would put at risk, nor
// when a link or anything else but a file stands in its place or in its
// folder's, which is never written through and would fail every new
// version of the level each run. Said once a call.
bool LevelTakesMembers(BackupRun& run, std::int64_t level) {
    const auto known = run.levelTakesMembers.find(level);
    if (known != run.levelTakesMembers.end()) return known->second;
    const std::string archive = LevelArchive(run.destination, level);
    struct stat st {};
    std::int32_t code = 0;
    const int err = run.root().statEntry(VersionFolderName(level) + kSep + std::string(kArchiveName), &st);
    // A link or a file in the version folder's place is passed the same way.
    const bool notAFile = err == ELOOP || err == ENOTDIR || (err == 0 && !S_ISREG(st.st_mode));
    const bool damaged =
        !notAFile && err == 0 && archive::DamagedBeyondCutOff(archive::LoadIndex(archive, &code), code);
    if (notAFile || damaged)
        run.warning((notAFile ? kLevelArchiveNotAFile : kLevelArchiveDamaged) + archive + ")", !run.silent());
    return run.levelTakesMembers[level] = !notAFile && !damaged;
}

// The archiver's outcome for each row of a batch, worked out before the
// rows are reported one by one.
struct AddedAhead {
    std::vector<std::int32_t> rc;      // by row; meaningful where threw is false
    std::vector<bool> threw;           // the archiver call failed unexpectedly
    std::vector<int> folderError;      // by row: the version folder was refused
    std::vector<EntryLook> stored;     // by row: the file as it was stored
    std::size_t stopAt = SIZE_MAX;     // the row whose folder could not be made
    std::exception_ptr stopError;
};

// Adds the files of one archive in one call, looking at each file before
// and after; a file that changed while it was read is added once more (all
// of them in one call), and one still changing then is refused
// (kUnlhaSourceChanged). Returns each file's code and how it was stored;
// nullopt when the archiver call failed unexpectedly.
std::optional<std::vector<std::int32_t>> AddSettled(BackupRun& run, std::int64_t level,
                                                    const std::vector<std::string>& files,
                                                    std::vector<EntryLook>& stored) {
    DropUnclaimedMembers(run, level, files);
    std::vector<std::size_t> pending(files.size());
    for (std::size_t k = 0; k < files.size(); ++k) pending[k] = k;
    std::vector<std::int32_t> rc(files.size(), kUnlhaSourceChanged);
    stored.assign(files.size(), EntryLook{});
    for (int attempt = 0; attempt < 2 && !pending.empty(); ++attempt) {
        std::vector<std::string> now;
        std::vector<EntryLook> before;
        for (std::size_t k : pending) {
            now.push_back(files[k]);
            before.push_back(LookAtEntry(files[k]));
        }
        std::vector<std::int32_t> got;
        try {
            got = (*run.addEach)(run.destination, LevelArchive(run.destination, level), now);
        } catch (const std::exception&) {
            return std::nullopt;
        }
        if (got.size() != now.size()) return std::nullopt;
        std::vector<std::size_t> again;
        for (std::size_t j = 0; j < pending.size(); ++j) {
            const std::size_t k = pending[j];
            const EntryLook after = LookAtEntry(files[k]);
            if (got[j] == kUnlhaOk && SettledBetween(before[j], after) == Settled::kStable) {
                rc[k] = kUnlhaOk;
                stored[k] = after;
            } else if (got[j] == kUnlhaOk || got[j] == kUnlhaSourceChanged) {
                rc[k] = kUnlhaSourceChanged;
                again.push_back(k);
            } else {
                rc[k] = got[j];
            }
        }
        pending = std::move(again);
    }
    return rc;
}

// Makes the version folders, announces each file and adds the rows' files
// archive by archive, each archive's files in one call (compressed on
// worker threads, appended in row order). Stops before a row whose folder
// cannot be made: the rows before it are stored, as they would be one by
// one. Only rows stored in archives take part.
AddedAhead AddBatch(BackupRun& run, const std::vector<VersionRow>& rows, const std::vector<NewCopy>& how) {
    AddedAhead ahead;
    ahead.rc.assign(rows.size(), 0);
    ahead.threw.assign(rows.size(), false);
    ahead.folderError.assign(rows.size(), 0);
    ahead.stored.assign(rows.size(), EntryLook{});
    std::vector<std::int64_t> levels;  // in order of first use
    std::vector<std::vector<std::size_t>> byLevel;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (VersionStateOf(rows[i].kbn1) == VersionState::kNoCopy || how[i] != NewCopy::kArchive) continue;
        try {
            run.step = "10";
            if ((ahead.folderError[i] = OpenVersionFolder(run, rows[i].level)) != 0) continue;
        } catch (const std::exception&) {
            ahead.stopAt = i;
            ahead.stopError = std::current_exception();
            break;
        }
        run.progress(kCheckingPrefix, SourceFileOf(rows[i]), kBackingUpSuffix);
        std::size_t g = 0;
        while (g < levels.size() && levels[g] != rows[i].level) ++g;
        if (g == levels.size()) {
            levels.push_back(rows[i].level);
            byLevel.emplace_back();
        }
        byLevel[g].push_back(i);
    }
    for (std::size_t g = 0; g < levels.size(); ++g) {
        std::vector<std::string> files;
        for (std::size_t i : byLevel[g]) files.push_back(SourceFileOf(rows[i]));
        std::vector<EntryLook> stored;
        const std::optional<std::vector<std::int32_t>> rcs = AddSettled(run, levels[g], files, stored);
        for (std::size_t k = 0; k < byLevel[g].size(); ++k) {
            const std::size_t i = byLevel[g][k];
            if (!rcs) {
                ahead.threw[i] = true;
                continue;
            }
            ahead.rc[i] = (*rcs)[k];
            ahead.stored[i] = stored[k];
        }
    }
    return ahead;
}

// Stores one file with `store`, looking at it before and after; a file
// that changed meanwhile is stored once more, and refused when it still
// changes. *stored is the file as stored.
FileResult StoreSettled(const std::string& sourceFile, const std::function<FileResult(bool again)>& store,
                        EntryLook* stored) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const EntryLook before = LookAtEntry(sourceFile);
        const FileResult result = store(attempt > 0);
        if (!result.ok() && !ChangedWhileRead(result)) return result;
        const EntryLook after = LookAtEntry(sourceFile);
        if (result.ok() && SettledBetween(before, after) == Settled::kStable) {
            *stored = after;
            return {};
        }
    }
    return FileResult::Archiver(kUnlhaSourceChanged);
}

// The most bytes of files one batch stores before a stop is looked at again.
constexpr std::int64_t kBatchBytes = std::int64_t{64} << 20;

void StoreEach(BackupRun& run) {
    const bool compress = run.options.compression != "0";
    for (std::vector<VersionRow> rows = NextRows(run, run.rowidBefore); !rows.empty();
         rows = NextRows(run, rows.back().rowid)) {
        run.stopPoint();
        std::vector<NewCopy> how;
        // A batch's archive files are compressed in one call, which a stop
        // does not interrupt: a batch ends once it holds kBatchBytes, and
        // the rows after it come with the next one.
        std::int64_t batchBytes = 0;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const VersionRow& row = rows[i];
            // The catalog keeps 32 bits of a size: the file itself tells.
            const std::int64_t size = VersionStateOf(row.kbn1) == VersionState::kNoCopy ? 0 : LookAtEntry(SourceFileOf(row)).size;
            if (i > 0 && batchBytes + size > kBatchBytes) {
                rows.resize(i);
                break;
            }
            batchBytes += size;
            how.push_back(NewCopyFor(row.dir, row.name, compress, static_cast<std::uint64_t>(size)));
        }
        // A version meant for a level whose archive is damaged (or not a
        // file) goes to the next level whose archive takes it (a plain copy
        // too: beside the damaged archive it would be taken for a hidden
        // member's); the damaged one stays as it is for a repair.
        std::vector<bool> moved(rows.size(), false);
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (VersionStateOf(rows[i].kbn1) != VersionState::kNoCopy)
                while (!LevelTakesMembers(run, rows[i].level)) {
                    ++rows[i].level;
                    moved[i] = true;
                }
        std::optional<AddedAhead> ahead;
        if (run.addEach) ahead = AddBatch(run, rows, how);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            VersionRow& row = rows[i];
            run.step = "9";
            if (VersionStateOf(row.kbn1) == VersionState::kNoCopy) {
                run.storedThrough = row.rowid;
                continue;
            }
            // A batch's archive files are in their archive already.
            if (!ahead || how[i] != NewCopy::kArchive) run.stopPoint();
            bool changed = moved[i];
            run.step = "10";
            const std::string sourceFile = SourceFileOf(row);
            FileResult result;
            bool copyFailedUnexpectedly = false;
            EntryLook stored;  // the file as its copy was made
            if (ahead && how[i] == NewCopy::kArchive) {
                if (i == ahead->stopAt) std::rethrow_exception(ahead->stopError);
                if (ahead->folderError[i]) {
                    result = FolderRefused(run, row.level, ahead->folderError[i]);
                } else if (ahead->threw[i]) {
                    copyFailedUnexpectedly = true;
                } else if (const std::int32_t rc = ahead->rc[i]; rc == 0) {
                    stored = ahead->stored[i];
                } else if (rc == kUnlhaStopped) {
                    run.stopPoint();  // the add gave up on this file for the stop
                    result = FileResult::Archiver(rc);
                } else {
                    if (rc != kUnlhaSourceChanged) {
                        run.archiverResult(rc);
                        run.failure(kArchiverFailed);
                    }
                    result = FileResult::Archiver(rc);
                }
            } else {
                run.progress(kCheckingPrefix, sourceFile, kBackingUpSuffix);
                try {
                    if (how[i] == NewCopy::kPlain) {
                        result = StoreSettled(
                            sourceFile, [&](bool again) { return CopyOne(run, sourceFile, row, &changed, again); }, &stored);
                    } else if (const int err = OpenVersionFolder(run, row.level)) {
                        result = FolderRefused(run, row.level, err);
                    } else {
                        const bool byCatalogOnly = how[i] == NewCopy::kArchiveByCatalog;
                        DropUnclaimedMembers(run, row.level, {sourceFile});
                        result = StoreSettled(
                            sourceFile, [&](bool) { return ArchiveOne(run, sourceFile, row.level, byCatalogOnly); },
                            &stored);
                    }
                } catch (const FolderNotMade&) {
                    throw;
                } catch (const std::exception&) {
                    copyFailedUnexpectedly = true;
                }
            }
            // A file that kept changing while it was read has no copy.
            if (ChangedWhileRead(result))
                run.failure(kChangedWhileRead + sourceFile + ")", !run.silent());

            if (copyFailedUnexpectedly) {
                row.kbn1 = CodeText(VersionState::kNoCopy);
                changed = true;
                run.failure(kCopyUnknownError + sourceFile);
            }
            try {
                if (!copyFailedUnexpectedly && !result.ok()) {
                    row.kbn1 = CodeText(VersionState::kNoCopy);
                    changed = true;
                    // An archiver failure was counted when it was shown.
                    const std::string text =
                        kCopyFailed + sourceFile + "\n" + kCopyFailedCode + ResultText(result) + FailureCause(sourceFile, run.destination, result);
                    if (result.kind != FileResult::Kind::kArchiver) run.failure(text, !run.silent());
                    else run.report(RunEntry::kFailure, text, !run.silent());
                }
                run.step = "11";
                if (changed) WriteBack(run, row);
                // The row describes the bytes stored: a file that changed
                // after the scan takes the state it was copied in.
                if (!copyFailedUnexpectedly && result.ok() && !AsRecorded(row, stored)) RecordStoredState(run, row.rowid, sourceFile);
            } catch (const std::exception& e) {
                run.failure(kSkipped + run.step + "\n" + kSkippedFile + sourceFile);
                run.message(e.what());
                if (VersionStateOf(row.kbn1) == VersionState::kNoCopy) {
                    // The row must not go on claiming a copy it lacks.
                    try {
                        run.db().cached(kMarkFailedSql).bind(1, row.rowid).run();
                    } catch (const std::exception&) {
                    }
                }
            }
            run.noteStored(sourceFile, VersionStateOf(row.kbn1) != VersionState::kNoCopy);
            run.storedThrough = row.rowid;
        }
    }
}

// After a bulk archive that did not take everything: only the files that
// are really in it keep their "2" row; every other row of this call is
// marked "9" (no copy), so the next normal run stores the file, and each is
// reported with the system's reason. Returns how many were marked.
std::int64_t MarkFilesMissingFromBulk(BackupRun& run, const std::string& archive) {
    std::int64_t marked = 0;
    std::unordered_set<std::string> members;
    std::int32_t code = 0;
    if (auto index = archive::LoadIndex(archive, &code))
        for (const auto& m : index->members) members.insert(m.path);
    for (std::vector<VersionRow> rows = NextRows(run, run.rowidBefore); !rows.empty();
         rows = NextRows(run, rows.back().rowid)) {
        for (VersionRow& row : rows) {
            const std::string path = SourcePathOf(row.dir, row.name);
            if (VersionStateOf(row.kbn1) != VersionState::kRecordedOnly || members.count(MemberPathOf(row.dir, row.name))) continue;
            row.kbn1 = CodeText(VersionState::kNoCopy);
            WriteBack(run, row);
            ++marked;
            const Status readable = CheckReadableFile(path);
            run.failure(kBulkFileSkipped + path + ")" + (readable ? std::string() : "\n" + readable.reason()));
        }
    }
    return marked;
}

// The members a bulk archive holds already, by path: their size and time.
using BulkMembers = std::unordered_map<std::string, std::pair<std::uint64_t, std::int64_t>>;

// The files of one batch of rows added to the bulk archive in one call.
// Returns the first failure's code (kUnlhaOk when every file went in); a
// file stored as it stood still when the add began and ended gives its row
// the state it was stored in, as a level copy does. A file the archive
// holds already with its present size and time (put there by an initial
// backup that was stopped or killed) is kept as it is, not added again.
std::int32_t AddToBulk(BackupRun& run, const std::string& bulk, const std::vector<VersionRow>& rows,
                       const BulkMembers& present) {
    std::vector<const VersionRow*> taken;
    std::vector<std::string> files;
    std::vector<EntryLook> before;
    for (const VersionRow& row : rows) {
        if (VersionStateOf(row.kbn1) != VersionState::kRecordedOnly) continue;
        const std::string file = SourceFileOf(row);
        const EntryLook look = LookAtEntry(file);
        const auto held = present.find(lzh::MemberPathOfSource(file));
        if (held != present.end() && look.read && held->second.first == static_cast<std::uint64_t>(look.size) &&
            held->second.second == look.mtimeSec) {
            if (!AsRecorded(row, look)) RecordStoredState(run, row.rowid, file);
            continue;
        }
        taken.push_back(&row);
        files.push_back(file);
        before.push_back(look);
    }
    if (files.empty()) return kUnlhaOk;
    run.progress(kCheckingPrefix, files.front(), kBackingUpSuffix);
    std::vector<std::int32_t> got;
    try {
        got = (*run.addEach)(run.destination, bulk, files);
    } catch (const std::exception&) {
        got.clear();
    }
    if (got.size() != files.size()) return kUnlhaCannotWrite;
    std::int32_t first = kUnlhaOk;
    for (std::size_t k = 0; k < files.size(); ++k) {
        if (got[k] != kUnlhaOk) {
            if (first == kUnlhaOk) first = got[k];
            continue;
        }
        const EntryLook after = LookAtEntry(files[k]);
        if (SettledBetween(before[k], after) == Settled::kStable && !AsRecorded(*taken[k], after))
            RecordStoredState(run, taken[k]->rowid, files[k]);
    }
    return first;
}

// An initial bulk backup. Exactly the files the scan recorded go into the
// bulk archive, batch by batch: what the scan left out (patterns, hidden
// and cache folders, the program's own folders, files made since) never
// reaches the destination.
void StoreBulk(BackupRun& run) {
    const std::string bulk = BulkArchive(run.destination);
    std::int32_t rc = kUnlhaOk;
    if (!run.addEach) {
        archive::ArchiveRequest request = archive::AddFolderRequest(bulk, run.source, run.subdirFlag == "01");
        request.root = run.destination;
        rc = run.runArchiver(request);
    } else {
        BulkMembers present;
        std::int32_t code = 0;
        if (const auto index = archive::LoadIndex(bulk, &code))
            for (const lzh::Member& m : index->members)
                if (!m.isDirectory()) present[m.path] = {m.originalSize, m.mtime};
        for (std::vector<VersionRow> rows = NextRows(run, run.rowidBefore); !rows.empty();
             rows = NextRows(run, rows.back().rowid)) {
            run.stopPoint();
            const std::int32_t got = AddToBulk(run, bulk, rows, present);
            if (rc == kUnlhaOk) rc = got;
        }
        run.stopPoint();
        // A source without files to store still gets its (empty) archive,
        // which a restore of the run extracts.
        if (rc == kUnlhaOk && !archive::LoadIndex(bulk, &code) && code == kUnlhaArchiveMissing)
            rc = archive::AddFiles(run.root(), std::string(kArchiveName), {}, nullptr, {});
        run.archiverResult(rc);
    }
    if (rc == kUnlhaOk) {
        run.result.versionsStored += run.result.versionsRecorded;
        return;
    }
    run.failure(kBulkArchiverFailed);
    std::int32_t code = 0;
    if (!archive::LoadIndex(bulk, &code) && code == kUnlhaArchiveMissing) {
        run.initialIncomplete = true;
        return;
    }
    run.result.versionsStored += run.result.versionsRecorded - MarkFilesMissingFromBulk(run, bulk);
}

}  // namespace

void StoreVersions(BackupRun& run) {
    run.step = "8";
    if (run.runKind == "1") StoreEach(run);
    else if (run.runKind == "3") StoreBulk(run);
}

void MarkUnstoredVersions(BackupRun& run) {
    if (run.runKind != "1") return;
    run.db()
        .cached(kMarkUnstoredSql)
        .bind(1, run.runNumber)
        .bind(2, run.dirNo)
        .bind(3, run.storedThrough)
        .run();
}

}  // namespace tessel::backup
