#include "backup/backup_runs.h"

#include <cstdio>

#include "backup/backup_directory.h"

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

BackupEngine RealBackupEngine() {
    return [](SharedState& state, const BackupCall& c) {
        BackupDirectory(state, c.source, c.initialFlag, c.runKind, c.destination, c.runNumber, c.dirNo, c.subdirFlag);
    };
}

}  // namespace tessel
