#include "backup/backup_runs.h"

#include <cstdio>
#include <optional>
#include <vector>


namespace tessel {

int AddBackupRun(Connection& db, const std::string& title, const std::string& kind, std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    char day[16], time[16];
    std::snprintf(day, sizeof day, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    Transaction t(db);
    int number = NextNumber(db, "BKPNO");
    db.prepare("INSERT INTO BKPNAME (BKPNO, BKPNAME, KBN, DAY1, TIME1) VALUES (?1, ?2, ?3, ?4, ?5)")
        .bind(1, number)
        .bind(2, title)
        .bind(3, kind)
        .bind(4, day)
        .bind(5, time)
        .run();
    t.commit();
    return number;
}

BackupRunResult RunTitledBackup(SharedState& state, const BackupEngine& engine, const std::string& title,
                                const std::string& kindCode, std::time_t now, const std::function<void(int)>& onRunAdded) {
    Connection& db = state.db();
    BackupRunResult out;
    const int runNumber = out.runNumber = AddBackupRun(db, title, kindCode, now);
    if (onRunAdded) onRunAdded(runNumber);

    // The directory list is read first: the engine writes to the catalog
    // while the directories are walked.
    struct Row {
        std::int64_t rowid;
        std::optional<std::int64_t> dirNo;
        std::optional<std::string> dir, dest, kind, chk2, abkp;
    };
    std::vector<Row> rows;
    Statement s = db.prepare("SELECT rowid, DIRNO, DIR, BKPDIR, KBN, BIKOU, CHK2, ABKP FROM BKPDIR ORDER BY DIRNO");
    while (s.step()) rows.push_back({s.int64(0), s.optInt(1), s.optText(2), s.optText(3), s.optText(4), s.optText(6), s.optText(7)});

    BackupOptions options;
    for (const Row& r : rows)
        if (r.kind == "0") {
            if (r.abkp) options.compression = *r.abkp;
            break;
        }
    for (Row& r : rows) {
        if (r.kind == "0") continue;
        if (!r.chk2 || r.chk2->empty()) {
            db.prepare("UPDATE BKPDIR SET CHK2 = '00' WHERE rowid = ?1").bind(1, r.rowid).run();
            r.chk2 = "00";
        }
        if (!r.dir || r.dir->empty() || !r.dirNo) continue;
        std::string runKind = r.kind != "9" && kindCode == "1" ? "1" : "9";
        out.result += engine(state,
                             BackupCall{*r.dir, "9", runKind, r.dest.value_or(""), runNumber, static_cast<int>(*r.dirNo), *r.chk2},
                             options);
    }
    return out;
}

BackupEngine RealBackupEngine() {
    return [](SharedState& state, const BackupCall& c, const BackupOptions& options) {
        return BackupDirectory(state, options, c.source, c.initialFlag, c.runKind, c.destination, c.runNumber, c.dirNo,
                               c.subdirFlag);
    };
}

}  // namespace tessel
