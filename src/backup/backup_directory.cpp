#include "backup/backup_directory.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "backup/backup_messages.h"
#include "backup/backup_run.h"
#include "engine/destination_owner.h"
#include "platform/paths.h"
#include "platform/safe_write.h"

namespace tessel {
namespace backup {

void BackupRun::progress(const std::string& text) {
    if (silent()) return;
    state.ui.setStatus(initialFlag == "1" ? "DIRSET" : "BKPGO", text);
}

void BackupRun::report(RunEntry kind, const std::string& text, bool show) {
    // Into the report first: a message box can wait long, and the run may
    // be killed meanwhile.
    if (options.report) options.report->entry(kind, text, show);
    if (show) state.ui.showMessage(text);
}

std::int32_t BackupRun::archiverResult(std::int32_t rc) {
    if (rc != 0) message(ArchiverErrorText(rc));
    return rc;
}

std::int32_t BackupRun::runArchiver(const archive::ArchiveRequest& request) { return archiverResult(archiver(request)); }

void BackupRun::noteStored(const std::string& sourceFile, bool stored) {
    if (stored) ++result.versionsStored;
    RunControl* c = control();
    if (!c) return;
    ++c->versionsStored;
    struct stat st {};
    if (stored && ::lstat(sourceFile.c_str(), &st) == 0) c->bytesStored += st.st_size;
}

namespace {

// Writes this call's copies back to the disk before any row claims them.
// When write-back failed, no copy of this call can be trusted: none is
// claimed (the rows still waiting are then marked as having none, and the
// next run stores those files again). False then.
bool CopiesWrittenBack(BackupRun& run, WriteRoot& destinationRoot) {
    if (run.runKind != "1" && run.runKind != "3") return true;
    const int err = destinationRoot.sync();
    if (err == 0) return true;
    run.failure(kWriteBackFailed + run.destination + "): " + std::strerror(err));
    run.result.versionsStored = 0;
    run.storedThrough = run.rowidBefore;
    return false;
}

void ShowAbort(BackupRun& run, const std::string& description) {
    run.failure(kAborted + run.step);
    run.message(description);
}

// The source must be a directory. The registered path itself may be a
// symbolic link to one (the user chose it); nothing below it is followed.
bool SourceExists(const std::string& source) { return IsDirectory(source); }

}  // namespace
}  // namespace backup

BackupResult BackupDirectory(SharedState& state, const BackupOptions& options, const BackupCall& call,
                             const ArchiverCall& archiver, const ArchiverAddEach& addEach) {
    using namespace backup;
    const std::string& source = call.source;
    const std::string& initialFlag = call.initialFlag;
    const std::string& runKind = call.runKind;
    const std::string& destination = call.destination;
    BackupResult result;
    result.directories = 1;
    BackupRun run{state,       options,     result,         source,      initialFlag, runKind,
                  destination, call.runNumber, call.dirNo, call.subdirFlag, archiver};
    if (addEach) run.addEach = &addEach;

    run.step = "0";
    if (!SourceExists(source)) {
        run.failure(kSourceMissing + source + ")");
        return result;
    }
    // A backup of a folder that holds its own copies would take them in
    // again with every run, and one of the data folder would record the
    // catalog that records it: refused before anything is written.
    if (std::optional<SourceInside> inside = LoadExcludedFolders(run)) {
        run.failure((inside->dataFolder ? kSourceInsideDataFolder : kSourceInsideDestination) + source + " → " +
                    inside->folder + ")");
        return result;
    }
    LoadScanRules(run);

    // Copies go below the destination, never through a link: the
    // destination itself must not be one either (others may write to the
    // drive it lives on). Its leftover temporary files are removed.
    WriteRoot destinationRoot(destination, {Ownership::kProgram, RootLinks::kRefuse});
    run.destinationRoot = &destinationRoot;
    if (runKind == "1" || runKind == "3") {
        // A missing destination is made as the root is opened, from "/"
        // down without following a link.
        const bool missing = !IsDirectory(destination);
        if (missing) run.warning(kDestinationMissing + destination + ")");
        int fd = -1;
        if (const int err = destinationRoot.openFolder("", &fd, missing)) {
            if (err == ELOOP) run.failure(kDestinationIsLink + destination + ")");
            else ShowAbort(run, "ディレクトリーを作成できません (" + destination + "): " + std::strerror(err));
            return result;
        }
        // Another catalog's destination is never written to.
        if (std::string refusal = ClaimDestination(destinationRoot, state.db()); !refusal.empty()) {
            run.failure(refusal);
            return result;
        }
    }

    // One transaction for the whole call. Rows reach the catalog file only
    // at the commit, after the copies they describe have been written, so
    // a process killed at any moment leaves no row that claims a missing
    // copy. The commit is made on the abort path too: what was recorded
    // before the error stays recorded.
    std::optional<Transaction> transaction;
    std::optional<WaitCursor> waitCursor;
    try {
        transaction.emplace(run.db());
        Statement& last = run.db().cached("SELECT max(rowid) FROM FILEKANRI");
        run.rowidBefore = last.step() ? last.int64(0) : 0;
        last.reset();
        run.storedThrough = run.rowidBefore;
        run.db().cached("DELETE From SUBDIR").run();
        run.step = "1";
        waitCursor.emplace(state.ui);

        if (RunControl* c = run.control()) c->phase = RunControl::Phase::kScanning;
        if (call.subdirFlag == "01") CollectSubdirectories(run);
        FilePass(run);
        if (RunControl* c = run.control()) c->phase = RunControl::Phase::kStoring;
        StoreVersions(run);
        // The copies reach the disk once, before the rows that claim them;
        // an initial backup whose copies cannot be trusted leaves nothing
        // behind.
        if (!CopiesWrittenBack(run, destinationRoot)) {
            if (initialFlag == "1") return result;
            MarkUnstoredVersions(run);
        }
        if (initialFlag == "1") {
            // An initial backup is done only together with the rows it
            // recorded; one that could not store its bulk archive at all
            // leaves nothing behind and can simply be run again.
            if (run.initialIncomplete) return result;
            run.db().cached("UPDATE BKPDIR SET CHK1 = '1' WHERE DIRNO = ?1").bind(1, call.dirNo).run();
        }
        transaction->commit();
    } catch (const RunStopped&) {
        result.stopped = true;
        // Stopped before anything of this call was stored: the call is
        // undone as a whole (the transaction rolls back), and the next run
        // looks at every file again. Once copies exist, what was stored
        // stays recorded and the rows still waiting for a copy are marked
        // as having none, so that the next run stores those files. A
        // stopped initial backup leaves nothing behind and is run again.
        if (run.storedThrough != run.rowidBefore && initialFlag != "1") {
            try {
                CopiesWrittenBack(run, destinationRoot);
                MarkUnstoredVersions(run);
                transaction->commit();
            } catch (const std::exception& e) {
                // Rolled back: no row claims a copy; the copies made stay unclaimed.
                result.versionsStored = 0;
                run.failure(e.what());
            }
        }
    } catch (const std::exception& e) {
        ShowAbort(run, e.what());
        // An initial backup that stopped leaves nothing behind: it is not
        // done and can be run again. Otherwise what was stored stays
        // recorded, once its copies are on the disk.
        if (transaction && initialFlag != "1") {
            try {
                CopiesWrittenBack(run, destinationRoot);
                MarkUnstoredVersions(run);
                transaction->commit();
            } catch (const std::exception&) {
                // Marking or committing failed: roll everything back rather
                // than keep rows that claim copies which were never made.
            }
        }
    }
    return result;
}

}  // namespace tessel
