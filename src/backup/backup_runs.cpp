#include "backup/backup_runs.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "backup/backup_directory.h"
#include "backup/backup_summary.h"
#include "catalog/catalog_rows.h"

namespace tessel {

int AddBackupRun(Connection& db, const std::string& title, const std::string& kind, std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    char day[40], time[40];  // room for any int the fields could hold
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
                                const std::string& kindCode, std::time_t now, const std::function<void(int)>& onRunAdded,
                                RunControl* control, const RunReporting& reporting) {
    Connection& db = state.db();
    BackupRunResult out;
    const int runNumber = out.runNumber = AddBackupRun(db, title, kindCode, now);
    BackupRunReport report(state, runNumber, RunStartText(runNumber, title, kindCode), reporting);
    if (onRunAdded) onRunAdded(runNumber);

    std::vector<DirectoryRow> rows = ReadDirectoryRows(db, DirectoryOrder::kByNumber);
    BackupOptions options;
    options.control = control;
    options.report = report.report();
    for (const DirectoryRow& r : rows)
        if (r.kind == "0") {
            if (r.abkp) options.compression = *r.abkp;
            break;
        }
    for (DirectoryRow& r : rows) {
        if (r.kind == "0") continue;
        if (!r.chk2 || r.chk2->empty()) {
            db.prepare("UPDATE BKPDIR SET CHK2 = '00' WHERE rowid = ?1").bind(1, r.rowid).run();
            r.chk2 = "00";
        }
        if (!r.dir || r.dir->empty() || !r.dirNo) continue;
        if (out.result.stopped || (control && control->stopRequested())) {
            out.result.stopped = true;
            continue;  // the empty CHK2 of the rows left are still filled
        }
        std::string runKind = r.kind != "9" && kindCode == "1" ? "1" : "9";
        out.result += engine(state,
                             BackupCall{*r.dir, "9", runKind, r.dest.value_or(""), runNumber, static_cast<int>(*r.dirNo), *r.chk2},
                             options);
    }
    report.finish(out.result);
    return out;
}

BackupResult RunInitialBackups(SharedState& state, const BackupEngine& engine, RunControl* control,
                               const RunReporting& reporting) {
    Connection& db = state.db();
    BackupResult result;
    // The list is read first. The engine marks each registration done
    // (CHK1 "1") in the transaction that records its rows; one that failed
    // or was stopped stays to be run again or removed.
    std::vector<Registration> rows = ListedRegistrations(db);
    // The log of the last initial backups is kept until another one runs.
    const bool any = std::any_of(rows.begin(), rows.end(),
                                 [](const Registration& r) { return r.kind != "0" && r.chk1 && *r.chk1 != "1"; });
    if (!any) return result;
    BackupRunReport report(state, 0, RunStartText(0, "", ""), reporting);
    BackupOptions options;
    options.control = control;
    options.report = report.report();
    for (const Registration& r : rows) {
        if (r.kind == "0") {
            if (r.abkp) options.compression = *r.abkp;
            continue;
        }
        if (!r.chk1 || *r.chk1 == "1") continue;
        if (control && control->stopRequested()) {
            result.stopped = true;
            break;
        }
        const BackupResult one = engine(state,
                                        BackupCall{r.dir.value_or(""), "1", r.kind.value_or(""), r.dest.value_or(""), 0,
                                                   static_cast<int>(r.dirNo), r.chk2.value_or("")},
                                        options);
        result += one;
        if (one.stopped) break;
    }
    report.finish(result);
    return result;
}

BackupEngine RealBackupEngine() {
    return [](SharedState& state, const BackupCall& c, const BackupOptions& options) {
        return BackupDirectory(state, options, c.source, c.initialFlag, c.runKind, c.destination, c.runNumber, c.dirNo,
                               c.subdirFlag);
    };
}

}  // namespace tessel
