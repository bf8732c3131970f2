#pragma once
// A complete program state for window tests: a temporary data folder with
// an open catalog, a recording user interface, a private instance lock and
// an end-of-program recorder in place of ending the process.
#include <QDir>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

#include "catalog/connection.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"
#include "app/MAINF.h"
#include "ui/app_context.h"
#include "ui/help.h"

namespace tessel::test {

struct GuiHarness {
    GuiHarness() {
        OpenFreshCatalog(folder, state);
        // The manual of the build tree; the browser is never really started.
        InstallMainMenu(context);
        context.helpFile = std::string(TESSEL_SHARE_BUILD_DIR) + "/help/index.html";
        context.openInBrowser = [this](const QUrl& url) {
            browserAsked.push_back(url);
            return true;
        };
    }

    TempDataFolder folder;
    TempDir runtime;
    RecordingUi ui;
    FakeSystem system;
    SharedState state{ui, system};
    InstanceLock lock{runtime / "tessel.lock"};
    std::optional<int> endedWith;
    AppContext context{state, lock, [this](int status) { endedWith = status; }};
    std::vector<QUrl> browserAsked;
    // F1 in every window, as in the program.
    std::unique_ptr<QObject> helpKey = InstallHelpKey(context);

    // Saves a picture of a window under the build tree's screenshots folder.
    static QString screenshot(QWidget& w, const QString& name) {
        QDir().mkpath(QString(TESSEL_BINARY_DIR) + "/screenshots");
        QString path = QString(TESSEL_BINARY_DIR) + "/screenshots/" + name + ".png";
        w.grab().save(path);
        return path;
    }
};

}  // namespace tessel::test
