#include "app/ICONM.h"

#include <QApplication>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

#include <ctime>

#include "backup/automatic_backup.h"
#include "retention/retention_settings.h"
#include "platform/engine_lock.h"
#include "app/MAINF.h"
#include "app/run_notification.h"
#include "app/startup.h"
#include "ui/app_context.h"
#include "ui/program_icon.h"

namespace tessel {
namespace {

TimeOfDay TimeOfDayAt(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

}  // namespace

ICONM::ICONM(AppContext& context)
    : notificationAreaAvailable([] { return QSystemTrayIcon::isSystemTrayAvailable(); }), ctx_(context) {
    setObjectName("ICONM");
    setWindowTitle("Form1");
    auto* label = new QLabel(QString::fromUtf8("アイコン表示"), this);
    label->setObjectName("Label1");
    (new QVBoxLayout(this))->addWidget(label);
    timer_ = new QTimer(this);
    timer_->setObjectName("Timer1");
    connect(timer_, &QTimer::timeout, this, &ICONM::tick);
    tray_ = new QSystemTrayIcon(ProgramIcon(), this);
    tray_->setToolTip(QString::fromUtf8(kIconTip));
    setWindowIcon(tray_->icon());
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        switch (reason) {
        case QSystemTrayIcon::Trigger:
            handleMouse(kLeftDown);
            break;
        case QSystemTrayIcon::DoubleClick:
            handleMouse(kLeftDoubleClick);
            break;
        case QSystemTrayIcon::Context:
            handleMouse(kRightDown);
            break;
        default:
            break;
        }
    });
}

ICONM::~ICONM() { tray_->hide(); }

bool ICONM::open() {
    if (ctx_.lock.anotherCopyRunning()) {
        ctx_.state.ui.showMessage(kAlreadyRunning);
        ctx_.endProgram(1);
        return true;
    }
    timer_->start(20000);
    hide();
    if (!notificationAreaAvailable()) return false;
    if (!iconAdded_) {
        tray_->show();
        iconAdded_ = true;
    }
    hide();
    return true;
}

void ICONM::handleMouse(int message) {
    switch (message) {
    case kLeftDown:
        ctx_.window<MAINF>().open();
        hide();
        QApplication::beep();
        break;
    case kLeftDoubleClick:
        show();
        break;
    case kRightDown:
        ctx_.endProgram(0);
        break;
    default:
        break;
    }
}

void ICONM::tick() {
    const SharedState& s = ctx_.state;
    // While another engine runs (a message box of a manual backup lets the
    // timer through, and the companion may be busy) the slots wait: a set
    // time that passes meanwhile is served by the first tick after it.
    if (EngineBusy(s.dataFolder)) return;
    if (slots_.tick(TimeOfDayAt(ctx_.clock()), {s.time1, s.time2, s.time3})) RunTimedBackup();
}

void ICONM::RunTimedBackup() {
    tray_->setToolTip(QString::fromUtf8(kIconTipBusy));
    // On a worker thread: the icon, its tip and the windows stay alive
    // while the backup runs.
    const BackupEngine engine = ctx_.backupEngine;
    const std::time_t now = ctx_.clock();
    BackupRunResult run;
    const bool ran = ctx_.runEngineOffGuiThread([&](SharedState& worker) {
        run = AutomaticBackup(worker, engine, now);
        ForgetAfterAutomaticBackup(worker);
    });
    tray_->setToolTip(QString::fromUtf8(kIconTip));
    if (ran) NotifyRunEnd(ctx_.state, run);
}

QString ICONM::tip() const { return tray_->toolTip(); }

void ICONM::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    hide();
}

void ICONM::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) hide();
}

}  // namespace tessel
