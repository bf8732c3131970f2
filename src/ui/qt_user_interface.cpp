#include "ui/qt_user_interface.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>

#include <iostream>

#include "ui/app_context.h"

namespace tessel {
namespace {

// Status texts arrive far faster than a screen can show them; painting each
// would cost more than the scan. Paint at most about 30 times a second; the
// newest text is always set, so the event loop shows it once the engine
// returns.
constexpr qint64 kRepaintIntervalMs = 33;

}  // namespace

QtUserInterface::QtUserInterface() : headless_(QGuiApplication::platformName() == "offscreen") { sinceRepaint_.start(); }

void QtUserInterface::showMessage(const std::string& text) {
    if (headless_) {
        std::cerr << kProgramTitle << ": " << text << std::endl;
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kProgramTitle), QString::fromUtf8(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

bool QtUserInterface::askYesNo(const std::string& text) {
    if (headless_) {
        std::cerr << kProgramTitle << ": " << text << " -> No" << std::endl;
        return false;
    }
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(kProgramTitle), QString::fromUtf8(text),
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
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
