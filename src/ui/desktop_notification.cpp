#include "ui/desktop_notification.h"

#include <QSystemTrayIcon>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>

#include "ui/qt_user_interface.h"

namespace tessel {

void DesktopNotifier::notify(const Notification& n, QSystemTrayIcon* tray) {
    const QString title = QString::fromUtf8(n.title), text = QString::fromUtf8(n.text);
    if (tray && tray->isVisible()) {
        if (tray != connectedTray_) {
            connectedTray_ = tray;
            QObject::connect(tray, &QSystemTrayIcon::messageClicked, tray, [this] {
                if (lastWarning_ && onWarningClicked_) onWarningClicked_();
            });
        }
        lastWarning_ = n.warning;
        tray->showMessage(title, text, n.warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information, 15000);
        return;
    }
    // No status icon: the desktop's notification service, when there is a
    // session bus. The call is sent without waiting for any answer.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "Notify");
    call << QString::fromUtf8(kProgramTitle) << 0u << QString("tessel-backup") << title << text << QStringList()
         << QVariantMap{{"urgency", QVariant::fromValue<uchar>(n.warning ? 2 : 1)}} << -1;
    bus.send(call);
}

}  // namespace tessel
