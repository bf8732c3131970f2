#include "restore/restore_run.h"

#include "catalog/catalog_rows.h"

namespace tessel {

RestoreResult RestoreAllDirectories(SharedState& state, int runNumber, bool test, const RestoreEngine& engine,
                                    RunControl* control) {
    // In the order the rows were added, as the restore window lists them.
    const std::vector<DirectoryRow> rows = ReadDirectoryRows(state.db(), DirectoryOrder::kAsAdded);
    RestoreOptions options;
    options.test = test;
    options.control = control;
    options.compression = CompressionFlag(state.db());
    RestoreResult result;
    for (const DirectoryRow& r : rows) {
        if (r.kind == "9" || r.kind == "0" || !r.dirNo || *r.dirNo == 0) continue;
        if (result.stopped || (control && control->stopRequested())) {
            result.stopped = true;
            break;
        }
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
