#pragma once
// The program from start to event loop, on the current directory.
#include <QApplication>

namespace tessel {

// Runs start-up, the settings and the first window, then the event loop.
// Returns the process's exit status.
int RunProgram(QApplication& app);

}  // namespace tessel
