#pragma once
// Working state of one BackupDirectory call, shared by its three stages:
// the scan (directory_scan.cpp), change detection (change_detection.cpp)
// and storing the versions (archiving.cpp).
#include <cstdint>
#include <sys/types.h>

#include <optional>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "backup/backup_directory.h"
#include "backup/left_out.h"
#include "catalog/connection.h"
#include "engine/file_result.h"
#include "engine/shared_state.h"
#include "platform/dir_listing.h"
#include "platform/safe_write.h"

namespace tessel::backup {

struct BackupRun {
    SharedState& state;
    const BackupOptions& options;
    BackupResult& result;
    const std::string& source;
    const std::string& initialFlag;
    const std::string& runKind;
    const std::string& destination;
    int runNumber;
    int dirNo;
    const std::string& subdirFlag;
    const ArchiverCall& archiver;

    // Where the engine has got to, shown by the unexpected-error messages.
    std::string step = "0";
    // False while FILEKANRI held no row at all when the file pass started
    // and none has been added since: lookups are then skipped.
    bool catalogHasRows = false;
    // The directory last asked whether rows without the trailing "/" exist.
    std::optional<std::string> bareCheckedFor{};
    bool bareRows = false;
    // The files of each directory (by its path below the source) as the
    // sub-directory pass listed them, for the file pass to take while the
    // directory has not changed since.
    struct Listed {
        DirectoryStamp stamp;
        std::vector<DirectoryEntry> files;
    };
    std::unordered_map<std::string, Listed> listed{};
    // The rowid of each file name's latest version in the directory last
    // loaded (rows with the trailing "/" only).
    std::optional<std::string> latestLoadedFor{};
    std::unordered_map<std::string, std::int64_t> latestRowids{};
    // What the scan leaves out: the patterns and choices of the
    // registration, and the folders it never enters (the prefix, every
    // registered destination, the data folder and the sources of
    // registrations nested in this one).
    ScanRules rules{};
    // Every FILEKANRI row this call adds has a rowid above this one.
    std::int64_t rowidBefore = 0;
    // Rows of this call up to this rowid have been through storing.
    std::int64_t storedThrough = 0;
    // An initial bulk backup whose archive could not be made at all.
    bool initialIncomplete = false;
    // The level archives whose unclaimed members this call has dropped.
    std::set<std::int64_t> reconciledLevels{};
    // Whether each level archive looked at takes more members (one that
    // may hide members behind damage does not).
    std::map<std::int64_t, bool> levelTakesMembers{};
    // Adds the versions of one archive in one call; null: one archiver
    // call per version.
    const ArchiverAddEach* addEach = nullptr;
    // The destination, below which every copy is written without following
    // a link; set while the call stores versions.
    WriteRoot* destinationRoot = nullptr;

    Connection& db() { return state.db(); }
    WriteRoot& root() { return *destinationRoot; }
    bool silent() const { return options.silent; }
    // The status line of the registration window (initial backup) or of
    // the backup window, written unless the run is silent.
    void progress(const std::string& text);
    // The same for a text in three parts, put together in one kept buffer:
    // the per-file lines cost no allocation.
    void progress(const std::string& prefix, const std::string& middle, const std::string& suffix) {
        if (silent()) return;
        progressText.assign(prefix).append(middle).append(suffix);
        progress(progressText);
    }
    // The watching window's counters and stop request; null when nobody watches.
    RunControl* control() const { return options.control; }
    // Ends the call here (RunStopped) when a stop has been asked for.
    void stopPoint() const {
        if (options.control) options.control->stopPoint();
    }
    // Counts a version whose turn to be stored has passed, and the bytes of
    // its source file when it was stored.
    void noteStored(const std::string& sourceFile, bool stored);
    // The one reporting point of the call: every message goes to the run's
    // report (the run log) and, when `show`, to the screen.
    void report(RunEntry kind, const std::string& text, bool show = true);
    void message(const std::string& text) { report(RunEntry::kMessage, text); }
    // A message that does not make the run fail; a silent run keeps those
    // about single files off the screen (show false).
    void warning(const std::string& text, bool show = true) {
        ++result.warnings;
        report(RunEntry::kWarning, text, show);
    }
    // A message that also makes the run count as failed.
    void failure(const std::string& text, bool show = true) {
        ++result.failures;
        report(RunEntry::kFailure, text, show);
    }
    // An entry the backup does not store, and why: counted by its reason
    // and reported with its path, never shown.
    void leftOut(const LeftOutVerdict& verdict, const std::string& path) {
        ++result.skipped;
        ++result.leftOut[static_cast<std::size_t>(*verdict.reason)];
        report(RunEntry::kSkipped, LeftOutText(verdict, path), false);
    }
    // Runs an archiver request; a failed one shows the archiver's code
    // whatever the silent flag says.
    std::int32_t runArchiver(const archive::ArchiveRequest& request);
    // Shows the archiver's code for a failed result; returns rc.
    std::int32_t archiverResult(std::int32_t rc);
    // The buffer of the three-part progress lines.
    std::string progressText{};
};

// The folders of the prefix, of every registered destination (and of this
// call's destination) and of the data folder, which the scan never enters,
// and the other registrations' sources inside this one. When the source
// itself is or lies inside one of the first, the text of the one it lies in.
struct SourceInside {
    std::string folder;
    bool dataFolder = false;  // the data folder, not a destination or the prefix
};
std::optional<SourceInside> LoadExcludedFolders(BackupRun& run);
// The registration's patterns (after the data folder's) and its choices
// about hidden folders and caches, as the catalog holds them.
void LoadScanRules(BackupRun& run);

// Collects the sub-directories into SUBDIR, breadth first.
void CollectSubdirectories(BackupRun& run);
// Looks at every file of the source directory and of the collected
// sub-directories and records new versions.
void FilePass(BackupRun& run);
// Decides whether one file gets a new version, and records it.
// dirFd is the directory opened with O_PATH (or -1): the file's entry is
// read relative to it.
void ProcessFile(BackupRun& run, const std::string& directory, const std::string& name, int dirFd = -1);
// The version row `rowid` takes the entry of path as it is now (times,
// size, version): after its copy was made from the file in that state.
// False when the entry cannot be read.
bool RecordStoredState(BackupRun& run, std::int64_t rowid, const std::string& path);
// Stores the versions this call recorded (or the whole directory for an
// initial bulk backup).
void StoreVersions(BackupRun& run);
// The cause of a failed copy (a system call's errno value or the
// archiver's code), in the system's words, after a line break; empty when
// there is nothing to add. A full destination is named as such.
std::string FailureCause(const std::string& sourceFile, const std::string& destination, const FileResult& result);
// After an abort: rows of this call that claim a copy but never got one
// are marked "9" (no usable copy).
void MarkUnstoredVersions(BackupRun& run);

}  // namespace tessel::backup
