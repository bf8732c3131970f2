#pragma once
// Finding and starting the desktop's system information program.
#include <QString>
#include <QStringList>

namespace tessel {

// The system monitors looked for, in order of preference.
QStringList SystemInfoPrograms();

// The full path of the first of them found on PATH; empty when none is.
QString FindSystemInfoProgram();

}  // namespace tessel
