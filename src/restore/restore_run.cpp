#include "restore/restore_run.h"

#include <optional>
#include <vector>

namespace tessel {

RestoreResult RestoreAllDirectories(SharedState& state, int runNumber, bool test, const RestoreEngine& engine) {
    struct Row {
        std::optional<std::int64_t> dirNo;
        std::optional<std::string> kind, abkp;
    };
    std::vector<Row> rows;
    // In the order the rows were added, as the restore window lists them.
    Statement q = state.db().prepare("SELECT DIRNO, DIR,BKPDIR, KBN, BIKOU,ABKP FROM BKPDIR ORDER BY rowid");
    while (q.step()) rows.push_back({q.optInt(0), q.optText(3), q.optText(5)});
    RestoreOptions options;
    options.test = test;
    for (const Row& r : rows)
        if (r.kind == "0") {
            if (r.abkp) options.compression = *r.abkp;
            break;
        }
    RestoreResult result;
    for (const Row& r : rows) {
        if (r.kind == "9" || r.kind == "0" || !r.dirNo || *r.dirNo == 0) continue;
        result += engine(state, static_cast<int>(*r.dirNo), runNumber, options);
        options.reportMode = "2";
    }
    return result;
}

bool RestorableRun(Connection& db, int runNumber) {
    Statement s = db.prepare("SELECT 1 FROM BKPNAME WHERE BKPNO = ?1 AND KBN <> '9' AND BKPNO <> 0");
    s.bind(1, runNumber);
    return s.step();
}

}  // namespace tessel
