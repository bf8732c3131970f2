#include "ui/qt_user_interface.h"

#include <QApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpacerItem>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusInterface>

#include <iostream>

#include "ui/app_context.h"

namespace tessel {
namespace {

// Status texts arrive far faster than a screen can show them; painting each
// would cost more than the scan. Paint at most about 30 times a second; the
// newest text is always set, so the event loop shows it soon after.
constexpr qint64 kRepaintIntervalMs = 33;

// Room the frame takes beside the title: the window icon and the buttons
// (close, maximise, minimise) of a usual title bar, at the font's size.
int TitleBarExtra(const QFontMetrics& fm) { return 8 * fm.height(); }

}  // namespace

void FitTitle(QMessageBox& box) {
    QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    titleFont.setBold(true);
    const QFontMetrics fm(titleFont);
    const int wanted = fm.horizontalAdvance(box.windowTitle()) + TitleBarExtra(fm);
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) {
        box.setMinimumWidth(wanted);
        return;
    }
    grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

QString CountdownLine(int secondsLeft) { return QString::fromUtf8("（あと %1 秒で閉じます）").arg(secondsLeft); }

QtUserInterface::QtUserInterface() : QtUserInterface(QGuiApplication::platformName() == "offscreen") {}

QtUserInterface::QtUserInterface(bool headless) : headless_(headless) { sinceRepaint_.start(); }

void QtUserInterface::toStandardError(const std::string& text) { std::cerr << kProgramTitle << ": " << text << std::endl; }

void QtUserInterface::showMessage(const std::string& text) {
    if (headless_ || (countdown_ > 0 && nobodyThere_)) {
        toStandardError(text);
        return;
    }
    const QString message = QString::fromUtf8(text);
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kProgramTitle), message, QMessageBox::Ok,
                    QApplication::activeWindow());
    FitTitle(box);
    if (countdown_ <= 0) {
        box.exec();
        return;
    }
    int left = countdown_;
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
    if (ranOut) {
        nobodyThere_ = true;
        toStandardError(text);
    }
}

void QtUserInterface::setMessageCountdown(int seconds) {
    countdown_ = seconds;
    nobodyThere_ = false;
}

void QtUserInterface::notify(const Notification& n) {
    const QString title = QString::fromUtf8(n.title), text = QString::fromUtf8(n.text);
    QWidget* icon = context_ ? context_->findWindow("ICONM") : nullptr;
    QSystemTrayIcon* tray = icon ? icon->findChild<QSystemTrayIcon*>() : nullptr;
    if (tray && tray->isVisible()) {
        if (tray != connectedTray_) {
            connectedTray_ = tray;
            QObject::connect(tray, &QSystemTrayIcon::messageClicked, tray, [this] {
                if (lastWarning_ && context_ && context_->openLatestErrors) context_->openLatestErrors();
            });
        }
        lastWarning_ = n.warning;
        tray->showMessage(title, text, n.warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information, 15000);
        return;
    }
    if (headless_) return;
    // No status icon: the desktop's notification service, when there is one.
    QDBusInterface service("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                           "org.freedesktop.Notifications", QDBusConnection::sessionBus());
    if (!service.isValid()) return;
    service.call(QDBus::NoBlock, "Notify", QString::fromUtf8(kProgramTitle), 0u, QString("tessel-backup"), title, text,
                 QStringList(), QVariantMap{{"urgency", QVariant::fromValue<uchar>(n.warning ? 2 : 1)}}, -1);
}

bool QtUserInterface::askYesNo(const std::string& text) {
    if (headless_) {
        std::cerr << kProgramTitle << ": " << text << " -> No" << std::endl;
        return false;
    }
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(kProgramTitle), QString::fromUtf8(text),
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    FitTitle(box);
    return box.exec() == QMessageBox::Yes;
}

void QtUserInterface::setStatus(const std::string& window, const std::string& text) {
    if (!context_) return;
    QWidget* w = context_->findWindow(QString::fromStdString(window));
    if (!w) return;
    auto* line = w->findChild<QLineEdit*>("GODISP");
    if (!line) return;
    line->setText(QString::fromUtf8(text));
    if (sinceRepaint_.elapsed() >= kRepaintIntervalMs && line->isVisible()) {
        line->repaint();
        sinceRepaint_.restart();
    }
}

void QtUserInterface::setWaitCursor(bool on) {
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

}  // namespace tessel
