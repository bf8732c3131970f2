#pragma once
// Qt's own texts (the buttons of message boxes, the folder dialog, the
// context menus of text fields) in Japanese, as every text of the program
// is: the translations Qt ships for Japanese (Debian's
// qt6-translations-l10n), whatever the desktop's locale.

namespace tessel {

// Installs the translations on the application; false when they are not
// installed on the machine (Qt's texts stay in English then).
bool InstallQtTranslations();

}  // namespace tessel
