#pragma once
// The program from start to event loop, on the current directory.
#include <QApplication>

#include <optional>
#include <string>

#include "app/settings.h"
#include "backup/backup_runs.h"

namespace tessel {

class AppContext;

// How long the start-up backup waits for another backup, restore or
// catalog upgrade on the data folder to end.
inline constexpr double kStartupEngineWaitSeconds = 600;

inline const std::string kStartupBackupNotRun = "起動時の自動バックアップを実行できませんでした。";

// Acting on the settings inside the running program.
class ProgramSettingsActions : public SettingsActions {
public:
    explicit ProgramSettingsActions(AppContext& context, double engineWaitSeconds = kStartupEngineWaitSeconds)
        : ctx_(context), engineWaitSeconds_(engineWaitSeconds) {}
    // Waits for an engine running on the data folder (showing that it
    // waits), then runs the automatic backup; says why when it cannot.
    StartupBackup automaticBackup() override;
    void pauseBeforeShutDown() override;
    void endProgram(int status) override;
    void openIconWindow() override;

private:
    AppContext& ctx_;
    double engineWaitSeconds_;
    // A start-up backup's notification, shown once the status icon is there.
    std::optional<BackupRunResult> pendingNotice_;
};

// Application-wide settings made once before any window: the program's
// name and icon, that closing the last visible window does not end it, and
// Qt's own texts in Japanese.
void PrepareApplication();

// Applies the settings and opens the first window: the main menu unless the
// program lives as an icon. False when the program is to end.
bool StartWindows(AppContext& context);

// Runs start-up, the settings and the first window, then the event loop,
// on the current directory. Returns the process's exit status (ExitStatus).
int RunProgram(QApplication& app);

}  // namespace tessel
