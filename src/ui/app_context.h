#pragma once
// What every window is given: the shared state, the single-instance lock,
// the way to end the program, and the registry that keeps each window once.
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <typeindex>
#include <vector>

#include "backup/backup_runs.h"
#include "platform/instance_lock.h"
#include "engine/shared_state.h"
#include "ui/help.h"

namespace tessel {

class WindowKeys;

// Shown when work ends by an exception that says nothing itself.
inline const std::string kUnexpectedError = "予期しないエラーが発生しました";
// Shown instead of a change to the catalog made in a window while a backup,
// restore or upgrade holds the data folder (it holds the catalog's write
// lock until its directory is done: the change would wait for it, the
// window frozen, and then fail).
inline const std::string kChangeWhileEngineRuns =
    "バックアップ・復元・カタログ更新の実行中は変更できません。終わってからやり直してください。";

class AppContext {
public:
    AppContext(SharedState& s, InstanceLock& l, std::function<void(int)> end);
    ~AppContext();

    SharedState& state;
    InstanceLock& lock;
    // Ends the process at once with the given status; no window's closing
    // step runs.
    std::function<void(int)> endProgram;
    // The backup engine the windows call, and the clock they read; tests
    // replace both.
    BackupEngine backupEngine = RealBackupEngine();
    std::function<std::time_t()> clock = [] { return std::time(nullptr); };
    // The manual, and how the desktop's browser is asked to open it; tests
    // replace both.
    std::string helpFile = InstalledHelpFile();
    std::function<bool(const QUrl&)> openInBrowser = OpenInDesktop;
    // Asks for a folder (restoring chosen versions); empty when cancelled.
    // Unset: the desktop's folder dialog. Tests answer it themselves.
    std::function<QString(QWidget* parent)> chooseFolder;
    // Opens the main menu; a window returns there through it. The program
    // sets it to its main window (InstallMainMenu).
    std::function<void()> openMenu = [] {};
    // Opens the latest state window with the errors only (a click on the
    // notification of a run that failed). The program sets it.
    std::function<void()> openLatestErrors;

    // The single instance of a window, created on first use (not shown),
    // with the keys and placement every window shares (ui/window_keys.h).
    // A window that was closed and deleted is created anew.
    template <class W>
    W& window() {
        QPointer<QWidget>& slot = windows_[std::type_index(typeid(W))];
        if (!slot) {
            slot = new W(*this);
            installWindowKeys(*slot);
        }
        return *static_cast<W*>(slot.data());
    }
    template <class W>
    W* existing() {
        auto it = windows_.find(std::type_index(typeid(W)));
        return it == windows_.end() ? nullptr : static_cast<W*>(it->second.data());
    }
    // Runs a backup, restore or upgrade while holding the data folder's
    // engine lock. When another engine holds it, says so and returns false
    // without running the work. An exception that leaves the work is shown
    // (its text, or kUnexpectedError) and makes it return false too.
    bool runEngine(const std::function<void()>& work);
    // The same with the work on a thread of its own (ui/engine_thread.h),
    // given a shared state of its own; the windows go on answering input
    // meanwhile. Returns when the work has ended.
    bool runEngineOffGuiThread(const std::function<void(SharedState&)>& work);
    // Whether an engine started here runs now.
    bool engineRunning() const { return enginesRunning_ > 0; }
    // True, after saying so (kChangeWhileEngineRuns), while any backup,
    // restore or upgrade (this program's or the companion's) holds the data
    // folder: a window's change to the catalog is then not made.
    bool refuseChangeWhileEngineRuns();

    // A window that exists now, by its object name (e.g. "BKPGO").
    QWidget* findWindow(const QString& objectName) const;
    // Every window that exists now.
    std::vector<QWidget*> windows() const;

    // Shows a window modeless and brings it to the front.
    static void present(QWidget& w);

private:
    void installWindowKeys(QWidget& window);

    std::map<std::type_index, QPointer<QWidget>> windows_;
    std::unique_ptr<WindowKeys> keys_;
    int enginesRunning_ = 0;
};

}  // namespace tessel
