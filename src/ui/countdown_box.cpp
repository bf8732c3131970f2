#include "ui/countdown_box.h"

#include <QMessageBox>
#include <QTimer>

namespace tessel {

QString CountdownLine(int secondsLeft) { return QString::fromUtf8("（あと %1 秒で閉じます）").arg(secondsLeft); }

bool ExecWithCountdown(QMessageBox& box, int seconds) {
    const QString message = box.text();
    int left = seconds;
    bool ranOut = false;
    box.setText(message + "\n\n" + CountdownLine(left));
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &box, [&] {
        if (--left > 0) {
            box.setText(message + "\n\n" + CountdownLine(left));
            return;
        }
        ranOut = true;
        box.done(QMessageBox::Ok);
    });
    tick.start(1000);
    box.exec();
    return ranOut;
}

}  // namespace tessel
