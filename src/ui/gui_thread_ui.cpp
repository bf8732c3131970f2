#include "ui/gui_thread_ui.h"

#include <QCoreApplication>
#include <QThread>

namespace tessel {

bool OnGuiThread() { return !qApp || QThread::currentThread() == qApp->thread(); }

void RunOnGuiThread(const std::function<void()>& f) {
    if (OnGuiThread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(qApp, f, Qt::BlockingQueuedConnection);
}

void GuiThreadUi::showMessage(const std::string& text) {
    RunOnGuiThread([&] { gui_.showMessage(text); });
}

void GuiThreadUi::notify(const Notification& notification) {
    RunOnGuiThread([&] { gui_.notify(notification); });
}

void GuiThreadUi::setMessageCountdown(int seconds) {
    RunOnGuiThread([&] { gui_.setMessageCountdown(seconds); });
}

bool GuiThreadUi::askYesNo(const std::string& text) {
    bool yes = false;
    RunOnGuiThread([&] { yes = gui_.askYesNo(text); });
    return yes;
}

void GuiThreadUi::setStatus(const std::string& window, const std::string& text) {
    if (OnGuiThread()) {
        {
            // An older text posted from the worker must not follow this one.
            std::lock_guard<std::mutex> lock(mutex_);
            pending_.erase(window);
        }
        gui_.setStatus(window, text);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // A text already on its way for this window is replaced: its post
        // shows whatever is newest when the GUI thread gets to it.
        if (!pending_.insert_or_assign(window, text).second) return;
    }
    // Posted to this object: a post still queued when it is gone is dropped.
    QMetaObject::invokeMethod(this, [this, window] { showPending(window); }, Qt::QueuedConnection);
}

void GuiThreadUi::showPending(const std::string& window) {
    std::string newest;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = pending_.find(window);
        if (it == pending_.end()) return;
        newest = std::move(it->second);
        pending_.erase(it);
    }
    gui_.setStatus(window, newest);
}

void GuiThreadUi::flush() {
    std::map<std::string, std::string> left;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        left.swap(pending_);
    }
    for (const auto& [window, text] : left) gui_.setStatus(window, text);
}

}  // namespace tessel
