#pragma once
// The catalog upgrade run by start-up when the catalog's version record is
// missing or names another version than the program's.
#include <string>

#include "catalog/catalog_transfer.h"
#include "engine/shared_state.h"

namespace tessel {

inline const std::string kUpgradeStarting = "バージョンアップ作業を開始します。　少し時間がかかるかもしれません！";
inline const std::string kUpgradeFinished = "バージョンアップを完了しました!";
inline const std::string kUpgradeFailed = "バージョンアップに失敗しました。";

// Shows kUpgradeStarting; when the catalog version is below "1.04" (and the
// program's version text not below "1.03") moves the catalog's contents into
// a fresh catalog made from the template; leaves the catalog with the one
// version record "V" + version text; shows kUpgradeFinished. state.catalog
// is then open on the upgraded catalog and state.catalogVersion is the
// program's version text.
//
// Returns false after showing kUpgradeFailed with the reason when anything
// failed; the old catalog is then still in place and open, unchanged. An
// upgrade cut short by a kill left the old catalog in place as well (the new
// one only replaces it once complete); its leftovers are removed here before
// the upgrade starts over.
bool UpgradeCatalog(SharedState& state, const UpgradeProbe& probe = {});

}  // namespace tessel
