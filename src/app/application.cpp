#include "app/application.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include <QEventLoop>
#include <QTimer>

#include "backup/automatic_backup.h"
#include "retention/retention_settings.h"
#include "app/catalog_upgrade.h"
#include "app/exit_status.h"
#include "platform/engine_lock.h"
#include "platform/paths.h"
#include "app/ICONM.h"
#include "app/run_notification.h"
#include "app/MAINF.h"
#include "windows/engine_wait.h"
#include "app/settings.h"
#include "app/startup.h"
#include "ui/app_context.h"
#include "ui/engine_thread.h"
#include "ui/help.h"
#include "ui/program_icon.h"
#include "ui/qt_translations.h"
#include "ui/qt_user_interface.h"

namespace tessel {
namespace {

// Ends the process at once: no window's closing step runs. The catalog's
// committed work is already on disk.
[[noreturn]] void EndProcess(int status) {
    std::fflush(nullptr);
    _exit(status);
}

}  // namespace

StartupBackup ProgramSettingsActions::automaticBackup() {
    SharedState& state = ctx_.state;
    // A run that ends the program has nobody to press OK: its messages close
    // themselves, and the program ends all the same.
    const bool endsProgram = state.initBkp == "YES" || state.termBkp == "YES";
    if (endsProgram) state.ui.setMessageCountdown(kStartupMessageSeconds);
    EngineLock lock(state.dataFolder);
    if (!lock.tryLock() && !WaitForEngine(lock, engineWaitSeconds_, state.dataFolder)) {
        state.ui.showMessage(kStartupBackupNotRun + "\n" + kEngineBusy + "\n" + state.dataFolder);
        return StartupBackup::kBusy;
    }
    try {
        // On a worker thread, so that the engine's messages and the windows
        // of the desktop session are answered meanwhile.
        const BackupEngine engine = ctx_.backupEngine;
        const std::time_t now = ctx_.clock();
        BackupRunResult run;
        RunOffGuiThread(state, [&](SharedState& worker) {
            run = AutomaticBackup(worker, engine, now);
            ForgetAfterAutomaticBackup(worker);
        });
        if (endsProgram && run.result.failed()) state.ui.showMessage(StartupFailuresMessage(state, run));
        // The status icon opens after the run: its balloon waits for it.
        if (!endsProgram && state.icon == "YES")
            pendingNotice_ = run;
        else
            NotifyRunEnd(state, run);
        return BackupExitStatus(run.result) == kExitOk ? StartupBackup::kStored : StartupBackup::kSomeFailed;
    } catch (const std::exception& e) {
        state.ui.showMessage(kStartupBackupNotRun + "\n" + e.what());
        return StartupBackup::kNotRun;
    }
}

void ProgramSettingsActions::pauseBeforeShutDown() {
    // The timer runs on the monotonic clock, so the pause ends after three
    // seconds also across midnight or a change of the wall clock.
    QEventLoop loop;
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    loop.exec();
}

void ProgramSettingsActions::endProgram(int status) { ctx_.endProgram(status); }

void ProgramSettingsActions::openIconWindow() {
    const bool iconShown = ctx_.window<ICONM>().open();
    if (pendingNotice_) NotifyRunEnd(ctx_.state, *pendingNotice_);
    pendingNotice_.reset();
    if (iconShown) return;
    ctx_.state.ui.showMessage(kNoNotificationArea);
    ctx_.window<MAINF>().open();
}

void PrepareApplication() {
    QApplication::setApplicationName("tessel-backup");
    QApplication::setWindowIcon(ProgramIcon());
    // Lets the desktop match the windows to the menu entry and its icon.
    QGuiApplication::setDesktopFileName("tessel-backup");
    // The program ends only by its own exits: in icon mode it lives on with
    // every window hidden, its timer running.
    QApplication::setQuitOnLastWindowClosed(false);
    // Qt's own buttons and dialogs speak the program's language.
    InstallQtTranslations();
}

bool StartWindows(AppContext& context) {
    ProgramSettingsActions actions(context);
    if (!ApplySettings(context.state, actions)) return false;
    if (context.state.icon != "YES") context.window<MAINF>().open();
    return true;
}

int RunProgram(QApplication& app) {
    QtUserInterface ui;
    RealSystemServices system;
    SharedState state(ui, system);
    std::string folder;
    try {
        folder = CurrentDirectory();
    } catch (const std::exception& e) {
        ui.showMessage(e.what());
        return kExitFailed;
    }
    // One copy of the program per data folder.
    InstanceLock lock(InstanceLockPathFor(folder));
    AppContext context(state, lock, [](int status) { EndProcess(status); });
    ui.attach(&context);
    InstallMainMenu(context);

    switch (RunStartup(state, lock, folder)) {
    case StartupOutcome::Ready:
        break;
    case StartupOutcome::NeedsUpgrade: {
        // The upgrade reopens state.catalog on the upgraded catalog; the
        // program then goes on as after a current catalog.
        EngineLock engine(folder);
        if (!engine.tryLock()) {
            ui.showMessage(kEngineBusy + "\n" + folder);
            return kExitBusy;
        }
        bool upgraded = false;
        try {
            upgraded = UpgradeCatalog(state);
        } catch (const std::exception& e) {
            ui.showMessage(e.what());
        }
        if (!upgraded) return kExitFailed;
        break;
    }
    case StartupOutcome::SecondCopy:
    case StartupOutcome::Failed:
        return kExitFailed;
    }

    // F1 opens the manual in every window.
    std::unique_ptr<QObject> helpKey = InstallHelpKey(context);
    if (!StartWindows(context)) return kExitFailed;
    return app.exec();
}

}  // namespace tessel
