#include "ui/qt_user_interface.h"

#include <QApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpacerItem>
#include <QThread>

#include <iostream>

#include "ui/app_context.h"

namespace tessel {
namespace {

// Status texts arrive far faster than a screen can show them; painting each
// would cost more than the scan. Paint at most about 30 times a second; the
// newest text is always set, so the event loop shows it once the engine
// returns.
constexpr qint64 kRepaintIntervalMs = 33;

// Room the frame takes beside the title: the window icon and the buttons
// (close, maximise, minimise) of a usual title bar, at the font's size.
int TitleBarExtra(const QFontMetrics& fm) { return 8 * fm.height(); }

bool OnGuiThread() { return !qApp || QThread::currentThread() == qApp->thread(); }

// Runs f on the GUI thread and waits for its result.
template <class F>
auto OnGuiThreadAndWait(F f) {
    decltype(f()) result{};
    QMetaObject::invokeMethod(qApp, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

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

QtUserInterface::QtUserInterface() : headless_(QGuiApplication::platformName() == "offscreen") { sinceRepaint_.start(); }

void QtUserInterface::showMessage(const std::string& text) {
    if (!OnGuiThread()) {
        OnGuiThreadAndWait([&] {
            showMessage(text);
            return true;
        });
        return;
    }
    if (headless_) {
        std::cerr << kProgramTitle << ": " << text << std::endl;
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kProgramTitle), QString::fromUtf8(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    FitTitle(box);
    box.exec();
}

bool QtUserInterface::askYesNo(const std::string& text) {
    if (!OnGuiThread()) return OnGuiThreadAndWait([&] { return askYesNo(text); });
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
    if (OnGuiThread()) {
        {
            // An older text posted from another thread must not follow this one.
            std::lock_guard<std::mutex> lock(pendingMutex_);
            if (!pendingStatus_.empty()) pendingStatus_.erase(window);
        }
        showStatus(window, text);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        // A text already waiting for this window is replaced: one post
        // shows whatever is newest when the GUI thread gets to it.
        if (!pendingStatus_.insert_or_assign(window, text).second) return;
    }
    QMetaObject::invokeMethod(
        qApp,
        [this, window] {
            std::string newest;
            {
                std::lock_guard<std::mutex> lock(pendingMutex_);
                auto it = pendingStatus_.find(window);
                if (it == pendingStatus_.end()) return;
                newest = std::move(it->second);
                pendingStatus_.erase(it);
            }
            showStatus(window, newest);
        },
        Qt::QueuedConnection);
}

void QtUserInterface::showStatus(const std::string& window, const std::string& text) {
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
    if (!OnGuiThread()) {
        // In order with the status texts and messages posted before it.
        QMetaObject::invokeMethod(qApp, [this, on] { setWaitCursor(on); }, Qt::QueuedConnection);
        return;
    }
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

}  // namespace tessel
