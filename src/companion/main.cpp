// tessel-backupctl: the backup manager's engines from the command line, on
// the same data folder as the windows (the current directory, or --data).
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/catalog_upgrade.h"
#include "app/exit_status.h"
#include "app/startup.h"
#include "companion/commands.h"
#include "companion/console_ui.h"
#include "core/standard_output.h"
#include "platform/engine_lock.h"
#include "platform/paths.h"

namespace tessel {
namespace {

// Opens the data folder for a command that needs the catalog, upgrading an
// older catalog under the engine lock. Returns the exit status to end
// with, or kExitOk when the command may run.
int OpenForCommand(CommandContext& c, const std::string& folder) {
    SharedState& state = c.state;
    if (!IsDirectory(folder)) {
        state.ui.showMessage("データフォルダーが見つかりません: " + folder + "\n新しいデータフォルダーは " + kCompanionName +
                             " init " + folder + " で作れます。");
        return kExitFailed;
    }
    if (!FindNoCase(folder, "filebkp.mdb") && !FindNoCase(folder, "bkpDEF.mdb")) {
        state.ui.showMessage("データフォルダーではありません (カタログもそのひな形もありません): " + folder + "\n" +
                             "新しいデータフォルダーは " + kCompanionName + " init " + folder + " で作れます。");
        return kExitFailed;
    }
    switch (OpenDataFolder(state, folder)) {
    case StartupOutcome::Ready:
        return kExitOk;
    case StartupOutcome::NeedsUpgrade: {
        EngineLock lock(folder);
        if (!lock.lockWithin(c.options.waitSeconds)) {
            state.ui.showMessage(kEngineBusy + "\n" + folder);
            return kExitBusy;
        }
        return UpgradeCatalog(state) ? kExitOk : kExitFailed;
    }
    default:
        return kExitFailed;
    }
}

int FinishOutput(int status) { return FinishStandardOutput(kCompanionName, status); }

}  // namespace
}  // namespace tessel

int main(int argc, char** argv) {
    using namespace tessel;
    const ProgramDef& program = CompanionProgram();
    // The whole command line is checked before the data folder is touched.
    Invocation inv;
    GlobalOptions options;
    try {
        inv = ParseCommandLine(argc, argv, program);
        if (inv.request == Request::kHelp) {
            std::fputs((inv.command ? CommandHelp(program, *inv.command) : ProgramHelp(program)).c_str(), stdout);
            return FinishOutput(kExitOk);
        }
        if (inv.request == Request::kVersion) {
            std::printf("%s (Tesselバックアップ管理) %s\n", kCompanionName, TESSEL_VERSION);
            return FinishOutput(kExitOk);
        }
        options = ReadGlobalOptions(inv.global);
        const Command& command = CompanionCommand(*inv.command);
        try {
            if (command.check) command.check(inv.args, options);
        } catch (const UsageError& e) {
            throw UsageError(e.what(), inv.command->name);
        }
    } catch (const UsageError& e) {
        std::fputs(UsageErrorLine(program, e).c_str(), stderr);
        return kExitUsage;
    }

    const Command& command = CompanionCommand(*inv.command);
    ConsoleUi ui(options.yes, isatty(STDERR_FILENO) == 1, options.quiet);
    RealSystemServices system;
    SharedState state(ui, system);
    CommandContext context{state, ui, options};
    int status = kExitFailed;
    try {
        const std::string folder = options.dataFolder.empty() ? CurrentDirectory() : options.dataFolder;
        status = command.needsCatalog ? OpenForCommand(context, folder) : kExitOk;
        if (status == kExitOk) status = command.run(context, inv.args);
    } catch (const std::exception& e) {
        ui.showMessage(e.what());
        ui.endProgress();
        // Output that failed has been said; nothing more reaches it.
        if (std::ferror(stdout)) return kExitFailed;
        return FinishOutput(kExitFailed);
    }
    ui.endProgress();
    return FinishOutput(status);
}
