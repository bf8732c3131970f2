#pragma once
// The program's manual: a Japanese HTML file installed with the program,
// opened in the desktop's browser by "ヘルプ" and by F1 in every window.
#include <QObject>
#include <QUrl>

#include <memory>
#include <string>

class QWidget;

namespace tessel {

class AppContext;

inline const std::string kHelpMissing = "ヘルプファイルが見つかりません: ";
inline const std::string kHelpNotOpened = "ヘルプファイルを開けませんでした。ブラウザーで次のファイルを開いてください: ";

// The manual beside a program in `programFolder`: help/index.html of the
// installation files' folder (ShareFolderBeside).
std::string HelpFileBeside(const std::string& programFolder);

// The page of the manual (whose index is helpFile) for the window named
// `window`: the page of that name beside the index, else the index.
std::string HelpPageOf(const std::string& helpFile, const std::string& window);

// The manual of the running program.
std::string InstalledHelpFile();

// Opens a URL with the desktop's default program (the browser for HTML).
bool OpenInDesktop(const QUrl& url);

// Opens the manual (context.helpFile) through context.openInBrowser, at the
// page of the window `parent` belongs to. A missing manual, or one that
// nothing could open, is reported with the file's path.
void OpenHelp(QWidget* parent, AppContext& context);

// Makes F1 open the manual in every window of the program, at the page of
// the window that has the focus. The key is taken before any window sees
// it, so no window needs its own F1 handling. Active while the returned
// object lives.
std::unique_ptr<QObject> InstallHelpKey(AppContext& context);

}  // namespace tessel
