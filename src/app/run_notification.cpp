#include "app/run_notification.h"

#include "backup/backup_summary.h"
#include "engine/run_log.h"

namespace tessel {

void NotifyRunEnd(SharedState& state, const BackupRunResult& run) {
    if (!run.result.failed() && state.notify != "YES") return;
    state.ui.notify({NotificationTitle(run.runNumber), NotificationText(run.result), run.result.failed()});
}

std::string StartupFailuresMessage(const SharedState& state, const BackupRunResult& run) {
    return kStartupFailures + "\n" + SummaryText(run.result) + "\n" + kReasonsInLog +
           RunLogPath(state.dataFolder, run.runNumber);
}

}  // namespace tessel
