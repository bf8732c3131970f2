#include "ui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace tessel {

bool InstallQtTranslations() {
    auto* translator = new QTranslator(QCoreApplication::instance());
    // "qt" names the catalog that pulls in qtbase and the other modules' ones.
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), "qt", "_",
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace tessel
