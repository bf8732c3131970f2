#include "ui/qt_user_interface.h"

#include <QApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpacerItem>
#include <QSystemTrayIcon>

#include <iostream>

#include "ui/app_context.h"
#include "ui/countdown_box.h"
#include "ui/desktop_notification.h"

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

QtUserInterface::QtUserInterface() : QtUserInterface(QGuiApplication::platformName() == "offscreen") {}

QtUserInterface::QtUserInterface(bool headless)
    : headless_(headless), notifier_(std::make_unique<DesktopNotifier>([this] {
          if (context_ && context_->openLatestErrors) context_->openLatestErrors();
      })) {
    sinceRepaint_.start();
}

QtUserInterface::~QtUserInterface() = default;

void QtUserInterface::toStandardError(const std::string& text) { std::cerr << kProgramTitle << ": " << text << std::endl; }

void QtUserInterface::showMessage(const std::string& text) {
    if (headless_ || (countdown_ > 0 && nobodyThere_)) {
        toStandardError(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kProgramTitle), QString::fromUtf8(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    FitTitle(box);
    if (countdown_ <= 0) {
        box.exec();
        return;
    }
    if (ExecWithCountdown(box, countdown_)) {
        nobodyThere_ = true;
        toStandardError(text);
    }
}

void QtUserInterface::setMessageCountdown(int seconds) {
    countdown_ = seconds;
    nobodyThere_ = false;
}

void QtUserInterface::notify(const Notification& n) {
    QWidget* icon = context_ ? context_->findWindow("ICONM") : nullptr;
    QSystemTrayIcon* tray = icon ? icon->findChild<QSystemTrayIcon*>() : nullptr;
    // Without a display only a status icon that shows can take it.
    if (headless_ && !(tray && tray->isVisible())) return;
    notifier_->notify(n, tray);
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
