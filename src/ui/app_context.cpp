#include "ui/app_context.h"

#include <exception>

#include "platform/engine_lock.h"
#include "ui/engine_thread.h"
#include "ui/window_keys.h"

namespace tessel {

AppContext::AppContext(SharedState& s, InstanceLock& l, std::function<void(int)> end)
    : state(s), lock(l), endProgram(std::move(end)) {}

AppContext::~AppContext() {
    for (auto& [type, w] : windows_) delete w.data();
}

bool AppContext::runEngine(const std::function<void()>& work) {
    EngineLock lock(state.dataFolder);
    if (!lock.tryLock()) {
        state.ui.showMessage(kEngineBusy + "\n" + state.dataFolder);
        return false;
    }
    ++enginesRunning_;
    struct Done {
        int& running;
        ~Done() { --running; }
    } done{enginesRunning_};
    // An exception must not cross the event loop: it is shown, and the
    // work counts as not done (no completion message follows).
    try {
        work();
    } catch (const std::exception& e) {
        state.ui.showMessage(e.what());
        return false;
    } catch (...) {
        state.ui.showMessage(kUnexpectedError);
        return false;
    }
    return true;
}

bool AppContext::refuseChangeWhileEngineRuns() {
    if (!EngineBusy(state.dataFolder)) return false;
    state.ui.showMessage(kChangeWhileEngineRuns + "\n" + state.dataFolder);
    return true;
}

bool AppContext::runEngineOffGuiThread(const std::function<void(SharedState&)>& work) {
    return runEngine([&] { RunOffGuiThread(state, work); });
}

std::vector<QWidget*> AppContext::windows() const {
    std::vector<QWidget*> out;
    for (const auto& [type, w] : windows_)
        if (w) out.push_back(w.data());
    return out;
}

void AppContext::installWindowKeys(QWidget& window) {
    if (!keys_) keys_ = std::make_unique<WindowKeys>(*this);
    keys_->install(window);
}

QWidget* AppContext::findWindow(const QString& objectName) const {
    for (const auto& [type, w] : windows_)
        if (w && w->objectName() == objectName) return w.data();
    return nullptr;
}

void AppContext::present(QWidget& w) {
    w.show();
    w.raise();
    w.activateWindow();
}

}  // namespace tessel
