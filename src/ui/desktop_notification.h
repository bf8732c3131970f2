#pragma once
// A notification on the desktop: the balloon of the program's status icon
// while it shows, else the desktop's notification service (over the
// session bus), else nothing.
#include <functional>

#include "core/user_interface.h"

class QSystemTrayIcon;

namespace tessel {

class DesktopNotifier {
public:
    // onWarningClicked runs when the balloon of a warning is clicked.
    explicit DesktopNotifier(std::function<void()> onWarningClicked) : onWarningClicked_(std::move(onWarningClicked)) {}
    // tray: the status icon, or null when there is none.
    void notify(const Notification& notification, QSystemTrayIcon* tray);

private:
    std::function<void()> onWarningClicked_;
    // The icon whose balloon click is connected, and whether its last
    // balloon was a warning.
    QSystemTrayIcon* connectedTray_ = nullptr;
    bool lastWarning_ = false;
};

}  // namespace tessel
