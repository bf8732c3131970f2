#include "restore/restore_selection.h"

#include "platform/paths.h"

namespace tessel {
namespace {

// Whether a version of the file `path`, or of a file below the folder
// `path`, was recorded at or before the run in the directory dirNo. Rows
// record DIR with a trailing "/" (older ones without); the folder's rows
// are found as a range of DIR, through the index by directory.
bool Selects(Connection& db, std::int64_t dirNo, int runNumber, const std::string& path) {
    if (path == "/") {
        Statement q = db.prepare("SELECT 1 FROM FILEKANRI WHERE DIRNO = ?1 AND BKPNO <= ?2 LIMIT 1");
        q.bind(1, dirNo).bind(2, runNumber);
        return q.step();
    }
    const std::size_t slash = path.rfind(kSep);
    const std::string parent = path.substr(0, slash == 0 ? 1 : slash);
    const std::string name = path.substr(slash + 1);
    Statement q = db.prepare(
        "SELECT 1 FROM FILEKANRI WHERE DIRNO = ?1 AND BKPNO <= ?2 AND "
        "((DIR >= ?3 AND DIR < ?4) OR DIR = ?5 OR (FILENM = ?6 AND (DIR = ?7 OR DIR = ?8))) LIMIT 1");
    q.bind(1, dirNo).bind(2, runNumber);
    q.bind(3, path + kSep).bind(4, path + static_cast<char>(kSep + 1)).bind(5, path);
    q.bind(6, name).bind(7, parent == "/" ? parent : parent + kSep).bind(8, parent);
    return q.step();
}

}  // namespace

std::vector<std::string> PathsSelectingNothing(Connection& db, int runNumber, const std::vector<std::string>& paths) {
    std::vector<std::int64_t> dirs;
    Statement d = db.prepare("SELECT DIRNO FROM BKPDIR WHERE DIRNO <> 0 AND KBN <> '9' ORDER BY DIRNO");
    while (d.step()) dirs.push_back(d.int64(0));
    std::vector<std::string> none;
    for (const std::string& p : paths) {
        bool found = false;
        for (std::int64_t dirNo : dirs)
            if ((found = Selects(db, dirNo, runNumber, p))) break;
        if (!found) none.push_back(p);
    }
    return none;
}

}  // namespace tessel
