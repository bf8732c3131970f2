#include "ui/window_keys.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <QWindow>

#include <algorithm>

#include "ui/app_context.h"

namespace tessel {
namespace {

// The button Esc presses: "中止" while a run can be stopped, else the
// window's way back "戻る", else its default button.
QPushButton* BackButton(QWidget& window) {
    QPushButton* fallback = nullptr;
    for (QPushButton* b : window.findChildren<QPushButton*>())
        if (b->objectName() == "STOPBT" && b->isVisible() && b->isEnabled()) return b;
    for (QPushButton* b : window.findChildren<QPushButton*>()) {
        if (!b->isVisible() || !b->isEnabled()) continue;
        if (b->text() == QString::fromUtf8("戻る")) return b;
        if (b->isDefault() && !fallback) fallback = b;
    }
    return fallback;
}

}  // namespace

void WindowKeys::install(QWidget& window) {
    for (QAbstractItemView* view : window.findChildren<QAbstractItemView*>()) view->setTabKeyNavigation(false);
    window.installEventFilter(this);
}

bool WindowKeys::eventFilter(QObject* watched, QEvent* event) {
    auto* window = qobject_cast<QWidget*>(watched);
    if (!window || !window->isWindow()) return false;
    switch (event->type()) {
    case QEvent::KeyPress: {
        // Keys reach the window when the focused control left them unused.
        auto* k = static_cast<QKeyEvent*>(event);
        if (key(*window, k->key(), k->modifiers())) {
            k->accept();
            return true;
        }
        return false;
    }
    case QEvent::Show:
        if (!event->spontaneous()) place(*window);
        return false;
    case QEvent::Hide:
        // The client area: set back as it was, it comes back to the same
        // place whatever frame the window manager draws around it.
        if (!event->spontaneous()) places_[window->objectName()] = window->geometry();
        return false;
    default:
        return false;
    }
}

bool WindowKeys::key(QWidget& window, int key, Qt::KeyboardModifiers modifiers) {
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        auto* button = qobject_cast<QAbstractButton*>(window.focusWidget());
        if (!button || !button->isEnabled()) return false;
        button->click();
        return true;
    }
    case Qt::Key_Escape: {
        QPushButton* back = BackButton(window);
        if (!back) return false;
        back->click();
        return true;
    }
    default:
        return false;
    }
}

void WindowKeys::place(QWidget& window) {
    const QString name = window.objectName();
    QWidget* opener = nullptr;
    bool returning = false;
    for (QWidget* other : ctx_.windows()) {
        if (other == &window || !other->isVisible()) continue;
        auto it = openers_.find(other->objectName());
        if (it != openers_.end() && it->second == name)
            returning = true;
        else if (!opener || other == QApplication::activeWindow())
            opener = other;
    }
    if (!returning && opener) openers_[name] = opener->objectName();
    const auto saved = places_.find(name);
    QScreen* screen = !returning && opener ? opener->screen() : nullptr;
    if (!screen && saved != places_.end()) screen = QGuiApplication::screenAt(saved->second.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const QMargins frame = FrameMargins(window);
    QRect client;
    if (saved != places_.end() && area.contains(saved->second.center())) {
        client = saved->second;
    } else {
        client = QRect(QPoint(), window.size());
        client.moveCenter(area.center() + QPoint((frame.left() - frame.right()) / 2, (frame.top() - frame.bottom()) / 2));
    }
    window.setGeometry(FitInto(client, area, frame, window.minimumSize()));
}

QMargins FrameMargins(const QWidget& window) {
    if (const QWindow* handle = window.windowHandle(); handle && !handle->frameMargins().isNull())
        return handle->frameMargins();
    // Not known before the window manager has framed the window once: a
    // usual frame, with the title bar at the height of two lines of text.
    const int side = 4;
    const int title = std::max(window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window),
                               2 * window.fontMetrics().height());
    return {side, title, side, side};
}

QRect FitInto(QRect client, const QRect& area, const QMargins& frame, const QSize& minimum) {
    const QRect inside = area.marginsRemoved(frame);
    client.setWidth(std::max(std::min(client.width(), inside.width()), minimum.width()));
    client.setHeight(std::max(std::min(client.height(), inside.height()), minimum.height()));
    if (client.right() > inside.right()) client.moveRight(inside.right());
    if (client.bottom() > inside.bottom()) client.moveBottom(inside.bottom());
    if (client.left() < inside.left()) client.moveLeft(inside.left());
    if (client.top() < inside.top()) client.moveTop(inside.top());
    return client;
}

}  // namespace tessel
