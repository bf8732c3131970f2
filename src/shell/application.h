#pragma once
// The program from start to event loop, on the current directory.
#include <QApplication>

#include "shell/settings.h"

namespace tessel {

class AppContext;

// Acting on the settings inside the running program.
class ProgramSettingsActions : public SettingsActions {
public:
    explicit ProgramSettingsActions(AppContext& context) : ctx_(context) {}
    void automaticBackup() override;
    void pauseBeforeShutDown() override;
    void endProgram(int status) override;
    void openIconWindow() override;

private:
    AppContext& ctx_;
};

// Application-wide settings made once before any window: the program's
// name and icon, and that closing the last visible window does not end it.
void PrepareApplication();

// Applies the settings and opens the first window: the main menu unless the
// program lives as an icon. False when the program is to end.
bool StartWindows(AppContext& context);

// Runs start-up, the settings and the first window, then the event loop.
// Returns the process's exit status.
int RunProgram(QApplication& app);

}  // namespace tessel
