#include "companion/log_command.h"

#include <cstdio>
#include <cstring>

#include "app/exit_status.h"
#include "companion/table_output.h"
#include "engine/run_log.h"
#include "platform/paths.h"

namespace tessel {

// log [--run N]: the run log of run N (0: the initial backups), else of
// the run logged last.
void CheckLog(const Args& a, const GlobalOptions&) { OptCount(a, "run"); }

int Log(CommandContext& c, const Args& a) {
    const std::string folder = c.options.dataFolder.empty() ? CurrentDirectory() : c.options.dataFolder;
    std::optional<int> run = OptCount(a, "run");
    if (!run) run = LastLoggedRun(folder);
    if (!run) {
        c.state.ui.showMessage("実行記録がありません: " + JoinPath(folder, kRunLogFolder));
        return kExitFailed;
    }
    int error = 0;
    const std::optional<std::vector<RunLogEntry>> entries = ReadRunLog(folder, *run, &error);
    if (!entries) {
        c.state.ui.showMessage("バックアップ " + std::to_string(*run) + " の実行記録を読めません (" + RunLogPath(folder, *run) +
                               "): " + std::strerror(error));
        return kExitFailed;
    }
    if (c.options.json) {
        TableOutput out(stdout, true, {"run", "time", "kind", "text"});
        out.numeric({true, false, false, false});
        for (const RunLogEntry& e : *entries) out.row({std::to_string(*run), e.time, RunEntryName(e.kind), e.text});
        return kExitOk;
    }
    for (const RunLogEntry& e : *entries) {
        std::string text;
        for (char ch : e.text) {
            text.push_back(ch);
            if (ch == '\n') text.push_back('\t');
        }
        if (e.time.empty()) std::printf("%s\n", text.c_str());
        else std::printf("%s %s %s\n", e.time.c_str(), RunEntryLabel(e.kind).c_str(), text.c_str());
    }
    CheckOutput(stdout);
    return kExitOk;
}

}  // namespace tessel
