#include "backup/automatic_backup.h"

#include "backup/backup_summary.h"
#include "catalog/catalog_rows.h"

namespace tessel {

BackupRunResult AutomaticBackup(SharedState& state, const BackupEngine& engine, std::time_t now,
                                const RunReporting& reporting) {
    Connection& db = state.db();
    BackupRunResult out;
    const std::string title = "自動バックアップ";
    const int run = out.runNumber = AddBackupRun(db, title, "1", now);
    BackupRunReport report(state, run, RunStartText(run, title, "1"), reporting);
    BackupOptions options;
    options.silent = true;
    options.report = report.report();

    for (const DirectoryRow& r : ReadDirectoryRows(db, DirectoryOrder::kByNumber)) {
        if (r.kind == "0") {
            if (r.abkp) options.compression = *r.abkp;
            continue;
        }
        if (r.abkp == "9" || !r.dir || r.dir->empty() || !r.dest || r.dest->empty() || !r.dirNo) continue;
        BackupCall call{*r.dir, "9", r.kind == "9" ? "9" : "1", *r.dest, run, static_cast<int>(*r.dirNo),
                        r.chk2.value_or("")};
        out.result += engine(state, call, options);
    }
    report.finish(out.result);
    return out;
}

}  // namespace tessel
