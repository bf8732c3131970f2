#include "app/catalog_upgrade.h"

#include "catalog/table_files.h"

namespace tessel {
namespace {

// The one version record: "V" + version.
void SetVersionRecord(Connection& db, const std::string& version) {
    db.exec("DELETE FROM DBVERSION");
    db.prepare("INSERT INTO DBVERSION (VNUM) VALUES (?1)").bind(1, "V" + version).run();
}

}  // namespace

bool UpgradeCatalog(SharedState& state, const UpgradeProbe& probe) {
    // Only a catalog is ever moved into a new one: the move replaces the
    // file, and a database of another program would lose its contents.
    if (std::optional<std::string> missing = MissingCatalogTable(state.db())) {
        state.ui.showMessage(kUpgradeFailed + "\nファイル " + state.db().path() + " はこのプログラムのカタログではありません（" +
                             *missing + " がありません）。ファイルには手を加えていません。");
        return false;
    }
    state.ui.showMessage(kUpgradeStarting);
    const std::string oldVersion = state.catalogVersion;
    try {
        if (VersionBelow(oldVersion, "1.04") && !VersionBelow(state.versionText, "1.03")) {
            RemoveUnfinishedImport(state.dataFolder);
            ExportedCatalog exported = ExportCatalog(state.db(), state.dataFolder, oldVersion, probe);
            // The version is written inside the import, before the new
            // catalog replaces the old one: a catalog in place under the
            // catalog's name is either the untouched old one or a complete
            // new one that says so.
            ImportCatalog(state.catalog, state.dataFolder, state.providerClause, state.versionText, exported,
                          [&](Connection& db) { SetVersionRecord(db, state.versionText); }, probe);
        } else {
            Transaction t(state.db());
            SetVersionRecord(state.db(), state.versionText);
            t.commit();
        }
    } catch (const std::exception& e) {
        std::string where = state.catalog ? "\n元のカタログ " + state.catalog->path() + " はそのまま残っています。" : "";
        state.ui.showMessage(kUpgradeFailed + where + "\n" + e.what());
        return false;
    }
    state.catalogVersion = state.versionText;
    state.ui.showMessage(kUpgradeFinished);
    return true;
}

}  // namespace tessel
