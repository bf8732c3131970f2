#include "ui/window_keys.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

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
        if (!event->spontaneous()) places_[window->objectName()] = window->pos();
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
    if (returning || !opener) {
        // Back to where it was left, if it was shown before.
        auto it = places_.find(name);
        if (it != places_.end()) window.move(it->second);
        return;
    }
    openers_[name] = opener->objectName();
    const QRect from = opener->frameGeometry();
    QRect to = window.frameGeometry();
    to.moveCenter(from.center());
    // Keep it on the screen the opener is on.
    if (QScreen* screen = opener->screen()) {
        const QRect avail = screen->availableGeometry();
        to.moveRight(std::min(to.right(), avail.right()));
        to.moveBottom(std::min(to.bottom(), avail.bottom()));
        to.moveLeft(std::max(to.left(), avail.left()));
        to.moveTop(std::max(to.top(), avail.top()));
    }
    window.move(to.topLeft());
}

}  // namespace tessel
