#include "backup/run_reporting.h"

#include <cstring>

#include "backup/backup_summary.h"
#include "platform/system_log.h"

namespace tessel {

// Sends what matters to someone who did not watch: the start, every
// failure and warning, the counts. Each line names the run.
class BackupRunReport::SystemLogReport : public RunReport {
public:
    SystemLogReport(SystemServices& system, int runNumber)
        : system_(system), prefix_("バックアップ " + std::to_string(runNumber) + ": ") {}
    void entry(RunEntry kind, const std::string& text, bool) override {
        switch (kind) {
        case RunEntry::kStart:
            system_.systemLog(SystemLogLevel::kInfo, prefix_ + text);
            break;
        case RunEntry::kFailure:
            failed_ = true;
            system_.systemLog(SystemLogLevel::kError, prefix_ + text);
            break;
        case RunEntry::kMessage:
        case RunEntry::kWarning:
            system_.systemLog(SystemLogLevel::kWarning, prefix_ + text);
            break;
        case RunEntry::kSummary:
            system_.systemLog(failed_ ? SystemLogLevel::kWarning : SystemLogLevel::kInfo, prefix_ + text);
            break;
        case RunEntry::kSkipped:
            break;  // kept in the run log only: many, and not failures
        }
    }

private:
    SystemServices& system_;
    std::string prefix_;
    bool failed_ = false;
};

BackupRunReport::BackupRunReport(SharedState& state, int runNumber, const std::string& startText, const RunReporting& to)
    : all_({}) {
    if (to.systemLog) system_ = std::make_unique<SystemLogReport>(state.system, runNumber);
    if (!state.dataFolder.empty()) {
        log_ = std::make_unique<RunLog>(state.dataFolder, runNumber);
        if (log_->error()) {
            const std::string text = "実行記録を書き込めません (" + log_->path() + "): " + std::strerror(log_->error());
            if (system_) system_->entry(RunEntry::kMessage, text, true);
            if (to.watcher) to.watcher->entry(RunEntry::kMessage, text, true);
            state.ui.showMessage(text);
        }
    }
    all_ = RunReports({log_.get(), system_.get(), to.watcher});
    all_.entry(RunEntry::kStart, startText, false);
}

BackupRunReport::~BackupRunReport() = default;

void BackupRunReport::finish(const BackupResult& result) { all_.entry(RunEntry::kSummary, SummaryText(result), false); }

}  // namespace tessel
