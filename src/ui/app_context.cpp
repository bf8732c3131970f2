#include "ui/app_context.h"

#include "platform/engine_lock.h"

namespace tessel {

AppContext::~AppContext() {
    for (auto& [type, w] : windows_) delete w.data();
}

bool AppContext::runEngine(const std::function<void()>& work) {
    EngineLock lock(state.dataFolder);
    if (!lock.tryLock()) {
        state.ui.showMessage(kEngineBusy + "\n" + state.dataFolder);
        return false;
    }
    work();
    return true;
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
