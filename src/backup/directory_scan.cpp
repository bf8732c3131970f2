// The walk over the registered directory: SUBDIR serves as a first-in
// first-out list of the sub-directories still to visit, so the walk is
// breadth first and each sub-directory is visited once.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine/program_places.h"
#include "backup/backup_messages.h"
#include "backup/backup_run.h"
#include "catalog/scan_rules.h"
#include "platform/dir_listing.h"
#include "platform/paths.h"
#include "platform/real_location.h"
#include "platform/unique_fd.h"

namespace tessel::backup {
namespace {

struct SubdirRow {
    std::int64_t rowid = 0;
    std::string fullName;
};

// The first SUBDIR row after the given one (in the order rows were added)
// whose CHK matches; false when there is none.
bool NextSubdir(Connection& db, const char* sql, std::int64_t after, SubdirRow& out) {
    Statement& next = db.cached(sql);
    next.bind(1, after);
    bool found = next.step();
    if (found) out = {next.int64(0), next.text(1)};
    next.reset();
    return found;
}

std::string Below(const std::string& source, const std::string& relative) {
    return relative.empty() ? source : JoinPath(source, relative);
}

// Lists the directory `rel` below the source and asks for each entry
// whether the scan takes it: its regular files go into `files`, its
// sub-directories into *folders (null: sub-directories are not entered by
// the registration's choice, and are neither decided on nor named). What is
// left out is reported when `report` (a second listing of a folder stays
// quiet). Returns 0 or the errno of the listing.
int ListTaken(BackupRun& run, const std::string& rel, std::vector<DirectoryEntry>* folders,
              std::vector<DirectoryEntry>& files, DirectoryStamp* stamp, bool report) {
    const std::string directory = Below(run.source, rel);
    std::vector<ListedEntry> entries;
    const int error = ListEntries(directory, entries, stamp);
    std::string relPath = rel.empty() ? std::string() : rel + kSep;
    const std::size_t base = relPath.size();
    const bool filesDecided = !run.rules.patterns.empty();
    for (const ListedEntry& e : entries) {
        // Without patterns a regular file is always taken: no decision to
        // make on the path of the nothing-changed run.
        if (e.kind == EntryKind::kRegular && !filesDecided) {
            files.push_back({e.name, false});
            continue;
        }
        if (e.kind == EntryKind::kDirectory && !folders) continue;
        relPath.resize(base);
        relPath += e.name;
        // The full path is made only where it is needed: for a folder, and
        // for an entry that is reported.
        std::string path;
        struct stat st {};
        const struct stat* folder = nullptr;
        if (e.kind == EntryKind::kDirectory) {
            path = JoinPath(directory, e.name);
            // A folder gone since the listing is passed over; one that
            // became something else is the next run's to see. One whose
            // entry cannot be read (its path too long, say) is taken all
            // the same, so that the file pass reports why it cannot be listed.
            if (lstat(path.c_str(), &st) == 0) {
                if (!S_ISDIR(st.st_mode)) continue;
                folder = &st;
            } else if (errno == ENOENT) {
                continue;
            }
        }
        const LeftOutVerdict verdict = WhyLeftOut(run.rules, {relPath, path, e.kind, folder});
        if (verdict.reason) {
            if (report) run.leftOut(verdict, path.empty() ? JoinPath(directory, e.name) : path);
            continue;
        }
        (e.kind == EntryKind::kDirectory ? *folders : files).push_back({e.name, e.kind == EntryKind::kDirectory});
    }
    return error;
}

// The sub-directories of the directory `rel` below the source that the
// scan enters; its files are kept for the file pass. What neither pass
// takes is reported here, once.
std::vector<DirectoryEntry> ListForBothPasses(BackupRun& run, const std::string& rel) {
    std::vector<DirectoryEntry> folders, files;
    DirectoryStamp stamp;
    if (ListTaken(run, rel, &folders, files, &stamp, true) == 0)
        run.listed.insert_or_assign(rel, BackupRun::Listed{stamp, std::move(files)});
    return folders;
}

// The files of the directory `rel` below the source, open as dirFd: those
// the sub-directory pass listed when the directory is unchanged since, else
// a new listing (with *error its errno, or 0).
std::vector<DirectoryEntry> FilesOf(BackupRun& run, const std::string& rel, int dirFd, int* error) {
    if (auto it = run.listed.find(rel); it != run.listed.end()) {
        auto kept = run.listed.extract(it);
        if (UnchangedSinceListed(dirFd, kept.mapped().stamp)) {
            *error = 0;
            return std::move(kept.mapped().files);
        }
    }
    // Without sub-directories nothing else lists the source: what the file
    // pass leaves out is reported here.
    std::vector<DirectoryEntry> files;
    *error = ListTaken(run, rel, nullptr, files, nullptr, run.subdirFlag != "01");
    return files;
}

}  // namespace

std::optional<SourceInside> LoadExcludedFolders(BackupRun& run) {
    // The prefix, every destination and the data folder are never entered;
    // nor is another registration's source that lies inside this one (its
    // files are that registration's).
    const RealLocation source = LocateReally(run.source);
    std::optional<SourceInside> sourceInside;
    auto exclude = [&](const std::string& folder, bool dataFolder) {
        if (folder.empty() || folder[0] != kSep) return;  // a relative text names no fixed place
        const RealLocation place = LocateReally(folder);
        if (!place.exists) return;
        run.rules.ownFolders.insert(place.chain.front());
        // A source below the data folder holds none of the data folder's
        // own files; only the data folder itself is refused.
        if (!sourceInside && IsSameOrInside(source, place) && (!dataFolder || IsSameOrInside(place, source)))
            sourceInside = SourceInside{folder, dataFolder};
    };
    exclude(run.destination, false);
    for (const ProgramPlace& place : ProgramPlaces(run.db())) exclude(place.path, place.dataFolder);
    Statement& others = run.db().cached(
        "SELECT DIR FROM BKPDIR WHERE DIRNO <> 0 AND (KBN IS NULL OR KBN <> '0') AND DIR IS NOT NULL AND DIR <> ?1");
    others.bind(1, run.source);
    while (others.step()) {
        const std::string other = others.text(0);
        if (other.empty() || other[0] != kSep) continue;
        const RealLocation place = LocateReally(other);
        if (place.exists && IsSameOrInside(place, source) && !IsSameOrInside(source, place))
            run.rules.ownFolders.insert(place.chain.front());
    }
    others.reset();
    return sourceInside;
}

void LoadScanRules(BackupRun& run) {
    std::vector<std::string> patterns = ReadScanChoices(run.db(), kWholeDataFolder).patterns;
    ScanChoices own;
    if (run.dirNo != kWholeDataFolder) own = ReadScanChoices(run.db(), run.dirNo);
    patterns.insert(patterns.end(), own.patterns.begin(), own.patterns.end());
    run.rules.patterns = ExclusionPatterns(patterns);
    run.rules.hiddenFolders = own.hiddenFolders;
    run.rules.cacheFolders = own.cacheFolders;
}

void CollectSubdirectories(BackupRun& run) {
    Connection& db = run.db();
    std::string current;
    std::int64_t lastPicked = 0;
    std::vector<DirectoryEntry> entries = ListForBothPasses(run, current);
    for (;;) {
        for (const DirectoryEntry& e : entries) {
            run.step = "1-1";
            if (e.name == "." || e.name == "..") continue;
            db.cached("INSERT INTO SUBDIR (CHK, FULLNAME, SUBDIR) VALUES ('0', ?1, ?2)")
                .bind(1, current.empty() ? e.name : current + kSep + e.name)
                .bind(2, e.name)
                .run();
        }
        run.step = "2";
        run.stopPoint();
        SubdirRow row;
        if (!NextSubdir(db, "SELECT rowid, FULLNAME FROM SUBDIR WHERE rowid > ?1 AND CHK = '0' ORDER BY rowid LIMIT 1",
                        lastPicked, row))
            return;
        db.cached("UPDATE SUBDIR SET CHK = '1' WHERE rowid = ?1").bind(1, row.rowid).run();
        lastPicked = row.rowid;
        current = row.fullName;
        entries = ListForBothPasses(run, current);
    }
}

void FilePass(BackupRun& run) {
    Connection& db = run.db();
    run.step = "3";
    Statement& any = db.cached("SELECT 1 FROM FILEKANRI LIMIT 1");
    run.catalogHasRows = any.step();
    any.reset();

    std::string current;
    std::int64_t lastPicked = 0;
    int error = 0;
    // The folder is opened once: its kept listing is checked against it,
    // and its entries are read relative to it, which is cheaper than a walk
    // of each file's whole path.
    auto openFolder = [&] { return ::open(Below(run.source, current).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); };
    UniqueFd dirFd(openFolder());
    std::vector<DirectoryEntry> entries = FilesOf(run, current, dirFd.get(), &error);
    if (RunControl* c = run.control()) {
        // The files to look at: this folder's and those the sub-directory
        // pass listed (a folder changed since is listed again, so the count
        // can be a little off).
        std::int64_t planned = static_cast<std::int64_t>(entries.size());
        for (const auto& [rel, listed] : run.listed) planned += static_cast<std::int64_t>(listed.files.size());
        c->filesToExamine += planned;
        c->phase = RunControl::Phase::kChecking;
    }
    for (;;) {
        const std::string directory = Below(run.source, current);
        // A folder that cannot be listed is never passed over in silence:
        // its files would have no copy.
        if (error != 0) run.failure(kFolderUnreadable + directory + ")\n" + std::strerror(error));
        for (const DirectoryEntry& e : entries) {
            run.step = "4";
            if (e.name == "." || e.name == "..") continue;
            run.stopPoint();
            ProcessFile(run, directory, e.name, dirFd.get());
            if (RunControl* c = run.control()) ++c->filesExamined;
        }
        run.step = "7";
        if (run.subdirFlag != "01") return;
        SubdirRow row;
        if (!NextSubdir(db, "SELECT rowid, FULLNAME FROM SUBDIR WHERE rowid > ?1 AND CHK <> '9' ORDER BY rowid LIMIT 1",
                        lastPicked, row))
            return;
        current = row.fullName;
        dirFd.reset(openFolder());
        entries = FilesOf(run, current, dirFd.get(), &error);
        db.cached("UPDATE SUBDIR SET CHK = '9' WHERE rowid = ?1").bind(1, row.rowid).run();
        lastPicked = row.rowid;
    }
}

}  // namespace tessel::backup
