#include "ui/program_icon.h"

namespace tessel {

QIcon ProgramIcon() { return QIcon(QStringLiteral(":/tessel/tessel-backup.svg")); }

}  // namespace tessel
