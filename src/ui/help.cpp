#include "ui/help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QWidget>

#include "ui/app_context.h"

namespace tessel {
namespace {

const char* const kHelpPath = "share/tessel-backup/help/index.html";

class HelpKey : public QObject {
public:
    explicit HelpKey(AppContext& context) : ctx_(context) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier || !widget) return false;
        if (type == QEvent::ShortcutOverride) {
            // Claimed as a key press, so that no shortcut of a window takes it.
            event->accept();
            return true;
        }
        if (!key->isAutoRepeat()) OpenHelp(widget->window(), ctx_);
        return true;
    }

private:
    AppContext& ctx_;
};

}  // namespace

std::string HelpFileBeside(const std::string& programFolder) {
    const QDir folder(QString::fromStdString(programFolder));
    const QString installed = QDir::cleanPath(folder.filePath(QStringLiteral("../") + kHelpPath));
    const QString buildTree = QDir::cleanPath(folder.filePath(kHelpPath));
    for (const QString& candidate : {installed, buildTree})
        if (QFileInfo(candidate).isFile()) return candidate.toStdString();
    return installed.toStdString();
}

std::string InstalledHelpFile() { return HelpFileBeside(QCoreApplication::applicationDirPath().toStdString()); }

bool OpenInDesktop(const QUrl& url) { return QDesktopServices::openUrl(url); }

void OpenHelp(QWidget* parent, AppContext& context) {
    const std::string& path = context.helpFile;
    if (!QFileInfo(QString::fromStdString(path)).isFile()) {
        context.state.ui.showMessage(kHelpMissing + path);
        return;
    }
    QUrl url = QUrl::fromLocalFile(QString::fromStdString(path));
    // Each window has its own section, named like the window.
    if (parent && !parent->window()->objectName().isEmpty()) url.setFragment(parent->window()->objectName());
    if (!context.openInBrowser(url)) context.state.ui.showMessage(kHelpNotOpened + path);
}

std::unique_ptr<QObject> InstallHelpKey(AppContext& context) {
    auto filter = std::make_unique<HelpKey>(context);
    QCoreApplication::instance()->installEventFilter(filter.get());
    return filter;
}

}  // namespace tessel
