#pragma once
// The program's icon: the one SVG of the installation files, built into the
// program so that every window, the About window and the tray show it
// wherever the program is started from.
#include <QIcon>

namespace tessel {

QIcon ProgramIcon();

}  // namespace tessel
