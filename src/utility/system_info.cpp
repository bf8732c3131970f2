#include "utility/system_info.h"

#include <QStandardPaths>

namespace tessel {

QStringList SystemInfoPrograms() {
    return {"gnome-system-monitor", "plasma-systemmonitor", "ksysguard", "xfce4-taskmanager",
            "mate-system-monitor",  "lxtask",               "hardinfo"};
}

QString FindSystemInfoProgram() {
    for (const QString& name : SystemInfoPrograms()) {
        QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty()) return path;
    }
    return {};
}

}  // namespace tessel
