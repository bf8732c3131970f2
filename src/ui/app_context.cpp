#include "ui/app_context.h"

namespace tessel {

AppContext::~AppContext() {
    for (auto& [type, w] : windows_) delete w.data();
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
