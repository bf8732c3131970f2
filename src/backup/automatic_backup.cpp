#include "backup/automatic_backup.h"

#include <vector>

namespace tessel {

BackupRunResult AutomaticBackup(SharedState& state, const BackupEngine& engine, std::time_t now) {
    Connection& db = state.db();
    BackupRunResult out;
    const int run = out.runNumber = AddBackupRun(db, "自動バックアップ", "1", now);
    BackupOptions options;
    options.silent = true;

    // The directory list is read first: the engine writes to the catalog
    // while the directories are walked.
    struct Row {
        std::optional<std::int64_t> dirNo;
        std::optional<std::string> dir, dest, kind, abkp, chk2;
    };
    std::vector<Row> rows;
    Statement s = db.prepare("SELECT DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK2 FROM BKPDIR ORDER BY DIRNO");
    while (s.step()) rows.push_back({s.optInt(0), s.optText(1), s.optText(2), s.optText(3), s.optText(5), s.optText(6)});

    for (const Row& r : rows) {
        if (r.kind == "0") {
            if (r.abkp) options.compression = *r.abkp;
            continue;
        }
        if (r.abkp == "9" || !r.dir || r.dir->empty() || !r.dest || r.dest->empty() || !r.dirNo) continue;
        BackupCall call{*r.dir, "9", r.kind == "9" ? "9" : "1", *r.dest, run, static_cast<int>(*r.dirNo),
                        r.chk2.value_or("")};
        out.result += engine(state, call, options);
    }
    return out;
}

}  // namespace tessel
