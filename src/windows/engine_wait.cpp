#include "windows/engine_wait.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QProgressDialog>
#include <QTimer>

#include <chrono>
#include <iostream>
#include <memory>

#include "ui/qt_user_interface.h"

namespace tessel {
namespace {

QString WaitText(const std::string& dataFolder, std::chrono::seconds left) {
    long long s = left.count();
    return QString::fromUtf8("別のバックアップ・復元・カタログ更新が終わるのを待っています（残り %1 分 %2 秒）。\n%3")
        .arg(s / 60)
        .arg(s % 60, 2, 10, QLatin1Char('0'))
        .arg(QString::fromStdString(dataFolder));
}

}  // namespace

bool WaitForEngine(EngineLock& lock, double seconds, const std::string& dataFolder) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    auto left = [&] { return std::chrono::ceil<std::chrono::seconds>(std::max(deadline - Clock::now(), Clock::duration::zero())); };

    std::unique_ptr<QProgressDialog> dialog;
    if (QGuiApplication::platformName() == "offscreen") {
        std::cerr << kProgramTitle << ": " << WaitText(dataFolder, left()).toStdString() << std::endl;
    } else {
        dialog = std::make_unique<QProgressDialog>(WaitText(dataFolder, left()), QString::fromUtf8("中止"), 0, 0);
        dialog->setWindowTitle(QString::fromUtf8(kProgramTitle));
        dialog->setObjectName("ENGINEWAIT");
        dialog->setMinimumDuration(0);
        dialog->show();
    }
    for (;;) {
        if (lock.tryLock()) return true;
        if (Clock::now() >= deadline || (dialog && dialog->wasCanceled())) return false;
        if (dialog) dialog->setLabelText(WaitText(dataFolder, left()));
        QEventLoop pause;
        QTimer::singleShot(200, &pause, &QEventLoop::quit);
        pause.exec();
    }
}

}  // namespace tessel
