#pragma once
// What every window of the registry shares besides its own controls: the
// keys and where it appears.
//
// Keys: Tab and Shift+Tab move between controls (a grid keeps the arrow
// keys but never Tab); Enter or Return presses the focused button; Esc is
// "中止" while the window's run can be stopped, else the window's way back,
// its "戻る" button, or its default button (the version window's "OK"); a
// window with none of them (the main menu) ignores Esc. F1 is the
// application's own (ui/help.h).
//
// Placement: a window opened from another one appears centred where that
// one is; a window coming back when the one it opened closes (the main
// menu, the utility menu) returns to where it was when it was left.
#include <QObject>
#include <QPoint>
#include <QString>

#include <map>

class QWidget;

namespace tessel {

class AppContext;

class WindowKeys : public QObject {
    Q_OBJECT
public:
    explicit WindowKeys(AppContext& context) : ctx_(context) {}

    // Installs the keys and placement on a window whose controls exist.
    void install(QWidget& window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool key(QWidget& window, int key, Qt::KeyboardModifiers modifiers);
    void place(QWidget& window);

    AppContext& ctx_;
    // By window name: where it was when it was last hidden, and the window
    // it was opened from.
    std::map<QString, QPoint> places_;
    std::map<QString, QString> openers_;
};

}  // namespace tessel
