#include "ui/help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QWidget>

#include "core/installation.h"
#include "ui/app_context.h"

namespace tessel {
namespace {

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
    return ShareFolderBeside(programFolder) + "/help/index.html";
}

std::string InstalledHelpFile() { return HelpFileBeside(QCoreApplication::applicationDirPath().toStdString()); }

bool OpenInDesktop(const QUrl& url) { return QDesktopServices::openUrl(url); }

std::string HelpPageOf(const std::string& helpFile, const std::string& window) {
    if (window.empty()) return helpFile;
    const QFileInfo index(QString::fromStdString(helpFile));
    const QString page = index.dir().filePath(QString::fromStdString(window) + ".html");
    return QFileInfo(page).isFile() ? page.toStdString() : helpFile;
}

void OpenHelp(QWidget* parent, AppContext& context) {
    const std::string& index = context.helpFile;
    if (!QFileInfo(QString::fromStdString(index)).isFile()) {
        context.state.ui.showMessage(kHelpMissing + index);
        return;
    }
    // A page of its own, not a section of one page: openers that drop the
    // "#" part of a file URL still land on the window's help.
    const std::string path = HelpPageOf(index, parent ? parent->window()->objectName().toStdString() : std::string());
    if (!context.openInBrowser(QUrl::fromLocalFile(QString::fromStdString(path)))) context.state.ui.showMessage(kHelpNotOpened + path);
}

std::unique_ptr<QObject> InstallHelpKey(AppContext& context) {
    auto filter = std::make_unique<HelpKey>(context);
    QCoreApplication::instance()->installEventFilter(filter.get());
    return filter;
}

}  // namespace tessel
