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
// Placement: a window appears on the screen it belongs to (the one of the
// window it was opened from, else the one it was left on, else the primary
// screen), frame and title bar included and shrunk when the screen is
// smaller: centred there the first time, and where it was left when it was
// shown before on that screen. So a window coming back when the one it
// opened closes (the main menu, the utility menu) returns exactly to where
// it was.
#include <QObject>
#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>

#include <map>

class QWidget;

namespace tessel {

class AppContext;

// The frame the window manager draws around a window: as it is once known,
// else a usual one.
QMargins FrameMargins(const QWidget& window);
// A window's client area moved (and shrunk, not below its minimum size)
// so that with its frame it lies inside the area of a screen.
QRect FitInto(QRect client, const QRect& area, const QMargins& frame, const QSize& minimum);

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
    // By window name: where it was (its client area) when it was last
    // hidden, and the window it was opened from.
    std::map<QString, QRect> places_;
    std::map<QString, QString> openers_;
};

}  // namespace tessel
