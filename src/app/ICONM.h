#pragma once
// The icon window of icon mode: a status icon in the desktop's notification
// area with its click actions, and the timer that starts a backup at up to
// three times of day. The window itself stays invisible.
#include <QWidget>

#include <functional>
#include <string>

#include "app/backup_timer.h"

class QSystemTrayIcon;
class QTimer;

namespace tessel {

class AppContext;

inline const char* const kIconTip = "Tesselﾊﾞｯｸｱｯﾌﾟ管理";
inline const char* const kIconTipBusy = "バックアップ実行中 ";
inline const std::string kNoNotificationArea = " 通知領域が見つからないため、メイン画面を表示します。";

// The mouse messages the icon reacts to.
enum IconMouse { kLeftDown = 0x201, kLeftDoubleClick = 0x203, kRightDown = 0x204 };

class ICONM : public QWidget {
    Q_OBJECT
public:
    explicit ICONM(AppContext& context);
    ~ICONM() override;

    // Repeats the single-instance test, starts the timer and adds the icon
    // (once, however often the window is opened). Returns false when the
    // desktop has no notification area: the timer runs, but no icon can
    // show, so the caller keeps a window on the screen instead of leaving an
    // invisible program. (True when the program has been ended because
    // another copy runs.)
    bool open();
    void handleMouse(int message);
    // One timer tick at the current time of day.
    void tick();
    void RunTimedBackup();

    QString tip() const;
    // Whether the desktop shows status icons now; tests replace it.
    std::function<bool()> notificationAreaAvailable;
    QTimer& timer() { return *timer_; }
    const BackupTimerSlots& timerSlots() const { return slots_; }

protected:
    void focusInEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    AppContext& ctx_;
    QTimer* timer_;
    QSystemTrayIcon* tray_;
    BackupTimerSlots slots_;
    bool iconAdded_ = false;
};

}  // namespace tessel
