// Storing the versions a call recorded: each into the LZH archive of its
// version folder, or as a plain copy when compression is off; for an
// initial bulk backup the whole source directory into one archive.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <unordered_set>

#include "archiver/archive_ops.h"
#include "archiver/archive_request.h"
#include "backup/backup_messages.h"
#include "core/status.h"
#include "backup/backup_run.h"
#include "backup/catalog_queries.h"
#include "platform/file_faults.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "engine/version_store.h"

namespace tessel::backup {
namespace {

struct VersionRow {
    std::int64_t rowid = 0;
    std::int64_t level = 0;
    std::string dir;
    std::string name;
    std::string kbn1;
};

// The next rows this call added for this run and directory, in the order
// they were added. Every row above the call's starting rowid is one of
// them (the call holds the write transaction), so the rows are walked by
// rowid. Read in small batches so that a huge catalog is never held in
// memory and rows can be written back between batches.
std::vector<VersionRow> NextRows(BackupRun& run, std::int64_t after) {
    Statement& q = run.db().cached(kNextRowsSql);
    q.bind(1, run.runNumber).bind(2, run.dirNo).bind(3, after);
    std::vector<VersionRow> rows;
    while (q.step()) rows.push_back({q.int64(0), q.int64(1), q.text(2), q.text(3), q.text(4)});
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

// Archives or copies one version; returns "成功" or the failure text.
std::string StoreOne(BackupRun& run, const std::string& sourceFile, const std::string& archivePath,
                     const std::string& target) {
    // In compressed mode the archiver itself refuses what it cannot read (a
    // file gone or unreadable, a FIFO, device or link put in its place since
    // the scan), without blocking, and its failure is reported as such.
    if (run.options.compression != "0") {
        const std::int32_t rc =
            RunArchiver(run.state.ui, run.archiver, archive::AddFileRequest(archivePath, sourceFile), run.initialFlag);
        if (rc == 0) return kSuccess;
        run.failure(kArchiverFailed);
        return kArchiverResult + FiveDigits(rc);
    }
    // Only a regular file that can be opened is copied.
    if (Status readable = CheckReadableFile(sourceFile); !readable) return readable.resultText();
    return CopyFile(sourceFile, target).resultText();
}

// The archiver's outcome for each row of a batch, worked out before the
// rows are reported one by one.
struct AddedAhead {
    std::vector<std::int32_t> rc;      // by row; meaningful where threw is false
    std::vector<bool> threw;           // the archiver call failed unexpectedly
    std::size_t stopAt = SIZE_MAX;     // the row whose folder could not be made
    std::exception_ptr stopError;
};

// Makes the version folders, announces each file and adds the rows' files
// archive by archive, each archive's files in one call (compressed on
// worker threads, appended in row order). Stops before a row whose folder
// cannot be made: the rows before it are stored, as they would be one by
// one.
AddedAhead AddBatch(BackupRun& run, const std::vector<VersionRow>& rows) {
    AddedAhead ahead;
    ahead.rc.assign(rows.size(), 0);
    ahead.threw.assign(rows.size(), false);
    std::vector<std::string> folders;  // in order of first use
    std::vector<std::vector<std::size_t>> byFolder;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].kbn1 == "9") continue;
        const std::string folder = VersionFolder(run.destination, rows[i].level);
        try {
            run.step = "10";
            if (!IsDirectory(folder) && mkdir(folder.c_str(), 0777) != 0)
                throw Error("ディレクトリーを作成できません (" + folder + "): " + std::strerror(errno));
        } catch (const std::exception&) {
            ahead.stopAt = i;
            ahead.stopError = std::current_exception();
            break;
        }
        run.progress(kCheckingPrefix, SourceFileOf(rows[i]), kBackingUpSuffix);
        std::size_t g = 0;
        while (g < folders.size() && folders[g] != folder) ++g;
        if (g == folders.size()) {
            folders.push_back(folder);
            byFolder.emplace_back();
        }
        byFolder[g].push_back(i);
    }
    for (std::size_t g = 0; g < folders.size(); ++g) {
        std::vector<std::string> files;
        for (std::size_t i : byFolder[g]) files.push_back(SourceFileOf(rows[i]));
        std::vector<std::int32_t> rcs;
        try {
            rcs = (*run.addEach)(LevelArchive(run.destination, rows[byFolder[g].front()].level), files);
        } catch (const std::exception&) {
            rcs.clear();
        }
        for (std::size_t k = 0; k < byFolder[g].size(); ++k) {
            if (rcs.size() == files.size()) ahead.rc[byFolder[g][k]] = rcs[k];
            else ahead.threw[byFolder[g][k]] = true;
        }
    }
    return ahead;
}

void StoreEach(BackupRun& run) {
    const bool plainCopies = run.options.compression == "0";
    for (std::vector<VersionRow> rows = NextRows(run, run.rowidBefore); !rows.empty();
         rows = NextRows(run, rows.back().rowid)) {
        run.stopPoint();
        std::optional<AddedAhead> ahead;
        if (!plainCopies && run.addEach) ahead = AddBatch(run, rows);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            VersionRow& row = rows[i];
            run.step = "9";
            if (row.kbn1 == "9") {
                run.storedThrough = row.rowid;
                continue;
            }
            if (!ahead) run.stopPoint();  // a batch's files are in their archive already
            bool changed = false;
            std::string folder = VersionFolder(run.destination, row.level);
            std::string target = PlainCopy(run.destination, row.level, row.name);
            if (plainCopies) {
                // Files of the same name from different sub-directories must
                // not overwrite each other: take the next free level.
                while (PathExists(target)) {
                    ++row.level;
                    folder = VersionFolder(run.destination, row.level);
                    target = PlainCopy(run.destination, row.level, row.name);
                    changed = true;
                }
            }
            run.step = "10";
            const std::string sourceFile = SourceFileOf(row);
            std::string result;
            bool copyFailedUnexpectedly = false;
            if (ahead) {
                if (i == ahead->stopAt) std::rethrow_exception(ahead->stopError);
                if (ahead->threw[i]) {
                    copyFailedUnexpectedly = true;
                } else if (const std::int32_t rc = ahead->rc[i]; rc == 0) {
                    result = kSuccess;
                } else {
                    ShowArchiverResult(run.state.ui, rc, run.initialFlag);
                    run.failure(kArchiverFailed);
                    result = kArchiverResult + FiveDigits(rc);
                }
            } else {
                if (!IsDirectory(folder) && mkdir(folder.c_str(), 0777) != 0)
                    throw Error("ディレクトリーを作成できません (" + folder + "): " + std::strerror(errno));
                run.progress(kCheckingPrefix, sourceFile, kBackingUpSuffix);
                try {
                    result = StoreOne(run, sourceFile, LevelArchive(run.destination, row.level), target);
                } catch (const std::exception&) {
                    copyFailedUnexpectedly = true;
                }
            }

            if (copyFailedUnexpectedly) {
                row.kbn1 = "9";
                changed = true;
                run.failure(kCopyUnknownError + sourceFile);
            }
            try {
                if (!copyFailedUnexpectedly && result != kSuccess) {
                    row.kbn1 = "9";
                    changed = true;
                    if (result.rfind(kArchiverResult, 0) != 0) ++run.result.failures;
                    if (!run.silent()) run.message(kCopyFailed + sourceFile + "\n" + kCopyFailedCode + result);
                }
                run.step = "11";
                if (changed) WriteBack(run, row);
            } catch (const std::exception& e) {
                run.failure(kSkipped + run.step + "\n" + kSkippedFile + sourceFile);
                run.message(e.what());
                if (row.kbn1 == "9") {
                    // The row must not go on claiming a copy it lacks.
                    try {
                        run.db().cached(kMarkFailedSql).bind(1, row.rowid).run();
                    } catch (const std::exception&) {
                    }
                }
            }
            run.noteStored(sourceFile, row.kbn1 != "9");
            run.storedThrough = row.rowid;
        }
    }
}

// After a bulk archive that did not take everything: only the files that
// are really in it keep their "2" row; every other row of this call is
// marked "9" (no copy), so the next normal run stores the file, and each is
// reported with the system's reason.
void MarkFilesMissingFromBulk(BackupRun& run, const std::string& archive) {
    std::unordered_set<std::string> members;
    std::int32_t code = 0;
    if (auto index = archive::LoadIndex(archive, &code))
        for (const auto& m : index->members) members.insert(m.path);
    for (std::vector<VersionRow> rows = NextRows(run, run.rowidBefore); !rows.empty();
         rows = NextRows(run, rows.back().rowid)) {
        for (VersionRow& row : rows) {
            const std::string path = SourcePathOf(row.dir, row.name);
            if (row.kbn1 != "2" || members.count(MemberPathOf(row.dir, row.name))) continue;
            row.kbn1 = "9";
            WriteBack(run, row);
            const Status readable = CheckReadableFile(path);
            run.failure(kBulkFileSkipped + path + ")" + (readable ? std::string() : "\n" + readable.reason()));
        }
    }
}

void StoreBulk(BackupRun& run) {
    const std::string bulk = BulkArchive(run.destination);
    if (RunArchiver(run.state.ui, run.archiver, archive::AddFolderRequest(bulk, run.source, run.subdirFlag == "01"),
                    run.initialFlag) == 0)
        return;
    run.failure(kBulkArchiverFailed);
    MarkFilesMissingFromBulk(run, bulk);
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
