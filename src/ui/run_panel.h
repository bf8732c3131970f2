#pragma once
// What a window shows beside its status line while its engine runs on a
// worker thread: a progress bar with the counts (files looked at of the
// files to look at, then versions stored of those to store with the bytes
// stored; files restored of those to restore) and the button "中止". 中止,
// Esc and closing the window ask the same question; on Yes the engine stops
// after the current file.
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "engine/run_control.h"
#include "engine/shared_state.h"

class QProgressBar;
class QPushButton;
class QTimer;

namespace tessel {

class AppContext;

class RunPanel : public QWidget {
    Q_OBJECT
public:
    enum class Kind { kBackup, kInitialBackup, kRestore };
    RunPanel(AppContext& context, Kind kind, QWidget* parent);

    // Runs the work off the GUI thread (AppContext::runEngineOffGuiThread)
    // with a fresh control, the given controls disabled meanwhile. Returns
    // what runEngineOffGuiThread returns.
    bool run(const std::function<void(SharedState&, RunControl&)>& work, const std::vector<QWidget*>& disabled);
    bool running() const { return control_ != nullptr; }
    // Asks whether to stop the run; true when the user said Yes (the engine
    // stops after the current file) or nothing runs.
    bool askStop();
    // The panel shows only while a run goes on.
    void setHiddenWhenIdle(bool on);

    // The texts of this kind of run: the question of 中止, and the message
    // after a stopped run.
    const std::string& stopQuestion() const;
    const std::string& stoppedMessage() const;

private:
    void refresh();

    AppContext& ctx_;
    Kind kind_;
    QProgressBar* bar_;
    QPushButton* stop_;
    QTimer* timer_;
    RunControl* control_ = nullptr;
    bool hiddenWhenIdle_ = false;
};

inline const std::string kBackupStopQuestion =
    "バックアップを中止しますか？\n今のファイルが終わったところで止まります。保存済みのファイルは記録され、残りは次回のバックアップで保存されます。";
inline const std::string kBackupStopped = " バックアップを中止しました。残りのファイルは次回のバックアップで保存されます。";
inline const std::string kInitialBackupStopQuestion =
    "初期バックアップを中止しますか？\n今のファイルが終わったところで止まります。中止した登録は、もう一度「初期バックアップ」を押すと続きから行います。";
inline const std::string kInitialBackupStopped =
    " 初期バックアップを中止しました。もう一度「初期バックアップ」を押すと続きから行います。";
inline const std::string kRestoreStopQuestion = "復元を中止しますか？\n今のファイルが終わったところで止まります。残りのファイルは戻しません。";
inline const std::string kRestoreStopped = " 復元を中止しました。残りのファイルは戻していません。";

}  // namespace tessel
