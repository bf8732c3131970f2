#include "restore/restore_run.h"

#include "catalog/catalog_rows.h"

namespace tessel {

int RestoreAllDirectories(SharedState& state, int runNumber, const RestoreEngine& engine) {
    // In the order the rows were added, as the restore window lists them.
    const std::vector<DirectoryRow> rows = ReadDirectoryRows(state.db(), DirectoryOrder::kAsAdded);
    for (const DirectoryRow& r : rows)
        if (r.kind == "0") {
            if (r.abkp) state.compression = *r.abkp;
            break;
        }
    std::string mode = "1";
    int count = 0;
    for (const DirectoryRow& r : rows) {
        if (r.kind == "9" || r.kind == "0" || !r.dirNo || *r.dirNo == 0) continue;
        engine(state, static_cast<int>(*r.dirNo), runNumber, mode);
        mode = "2";
        ++count;
    }
    return count;
}

bool RestorableRun(Connection& db, int runNumber) {
    Statement s = db.prepare("SELECT 1 FROM BKPNAME WHERE BKPNO = ?1 AND KBN <> '9' AND BKPNO <> 0");
    s.bind(1, runNumber);
    return s.step();
}

}  // namespace tessel
