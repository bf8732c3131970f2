// The walk over the registered directory: SUBDIR serves as a first-in
// first-out list of the sub-directories still to visit, so the walk is
// breadth first and each sub-directory is visited once.
#include <string>
#include <vector>

#include "backup/backup_run.h"
#include "platform/dir_listing.h"
#include "platform/paths.h"

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

}  // namespace

void CollectSubdirectories(BackupRun& run) {
    Connection& db = run.db();
    std::string current;
    std::int64_t lastPicked = 0;
    std::vector<DirectoryEntry> entries = ListDirectory(run.source, kListDirectoriesAndFiles);
    for (;;) {
        for (const DirectoryEntry& e : entries) {
            run.step = "1-1";
            if (e.name == "." || e.name == "..") continue;
            // Only what the listing saw as a directory can have the
            // directory bit; its attributes are read again to be sure.
            if (!e.directory) continue;
            std::string full = JoinPath(Below(run.source, current), e.name);
            if (!(ReadAttributes(full) & kAttrDirectory)) continue;
            db.cached("INSERT INTO SUBDIR (CHK, FULLNAME, SUBDIR) VALUES ('0', ?1, ?2)")
                .bind(1, current.empty() ? e.name : current + kSep + e.name)
                .bind(2, e.name)
                .run();
        }
        run.step = "2";
        SubdirRow row;
        if (!NextSubdir(db, "SELECT rowid, FULLNAME FROM SUBDIR WHERE rowid > ?1 AND CHK = '0' ORDER BY rowid LIMIT 1",
                        lastPicked, row))
            return;
        db.cached("UPDATE SUBDIR SET CHK = '1' WHERE rowid = ?1").bind(1, row.rowid).run();
        lastPicked = row.rowid;
        current = row.fullName;
        entries = ListDirectory(Below(run.source, current), kListDirectoriesAndFiles);
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
    std::vector<DirectoryEntry> entries = ListDirectory(run.source, kListFiles);
    for (;;) {
        const std::string directory = Below(run.source, current);
        for (const DirectoryEntry& e : entries) {
            run.step = "4";
            if (e.name == "." || e.name == "..") continue;
            ProcessFile(run, directory, e.name);
        }
        run.step = "7";
        if (run.subdirFlag != "01") return;
        SubdirRow row;
        if (!NextSubdir(db, "SELECT rowid, FULLNAME FROM SUBDIR WHERE rowid > ?1 AND CHK <> '9' ORDER BY rowid LIMIT 1",
                        lastPicked, row))
            return;
        current = row.fullName;
        entries = ListDirectory(Below(run.source, current), kListFiles);
        db.cached("UPDATE SUBDIR SET CHK = '9' WHERE rowid = ?1").bind(1, row.rowid).run();
        lastPicked = row.rowid;
    }
}

}  // namespace tessel::backup
