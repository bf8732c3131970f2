#pragma once
// Moving the contents of a catalog into a fresh catalog made from the empty
// template: the export writes every table into a table file (see
// table_files.h) in the data folder, the import builds the new catalog from
// those files and puts it in place of the old one.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/connection.h"

namespace tessel {

// Lets tests stop an upgrade at a named point, as a kill would. Points:
// "exported" (all table files written), "<TABLE> <n>" (the n-th record of a
// table file stored in the new catalog), "built" (new catalog complete and
// closed), "kept" (old catalog closed and kept under its second name),
// "replaced" (new catalog in place, not yet reopened).
using UpgradeProbe = std::function<void(std::string_view point)>;

// File names in the data folder.
inline const std::string kCatalogName = "filebkp.mdb";
inline const std::string kTemplateName = "bkpDEF.mdb";
// The new catalog while it is being built, and the old one while the new one
// is being put in place. Neither is ever opened by start-up.
inline const std::string kBuildingName = "filebkp-upgrade.mdb";
inline const std::string kKeptName = "filebkp-old.mdb";

// What the export read of the catalog's version record: the text of its
// VNUM, nullopt when there is no record (or no version table) or VNUM is null.
struct ExportedCatalog {
    std::optional<std::string> versionRecord;
};

// Writes AUTODEF.DAT, BKPDIR.DAT, BKPNAME.DAT, FILEKANRI.DAT and, when the
// version is not below "1.03", SUBDIR.DAT from the open catalog into the data
// folder, replacing files of those names. With a version not above "1.02"
// the FILEKANRI rows are numbered 1, 2, 3, ... in `ano`; otherwise `ano` is
// copied. Columns that the old catalog lacks are written as null values.
// Throws CatalogError (nothing in the catalog changes) when a value cannot be
// written: a text that code page 932 cannot hold, a number beyond 32 bits,
// a date that is not "yyyy-mm-dd" or a time that is not "hh:mm:ss".
ExportedCatalog ExportCatalog(Connection& db, const std::string& dataFolder, const std::string& version,
                              const UpgradeProbe& probe = {});

// Called on the new catalog, inside the import's transaction, after the last
// table file has been read and before the new catalog replaces the old one.
using ImportFinish = std::function<void(Connection& newCatalog)>;

// Builds a new catalog from the template and the table files present in the
// data folder (AUTODEF, BKPDIR, BKPNAME, FILEKANRI, KBNDEF, then SUBDIR when
// the version is not below "1.03") and the scan choices of the open old
// catalog (see scan_rules.h), gives it the single version record the
// export read, runs `finish`, and then puts it in place of the old catalog
// under the name filebkp.mdb and reopens `catalog` on it (through the
// provider clause). The table files
// read are deleted once the new catalog is in place.
//
// The old catalog stays untouched until the new one is complete: on any
// failure `catalog` is open on the old catalog again, the table files
// are left where they are, and CatalogError says what failed.
void ImportCatalog(std::unique_ptr<Connection>& catalog, const std::string& dataFolder,
                   const std::string& providerClause, const std::string& version, const ExportedCatalog& exported,
                   const ImportFinish& finish = {}, const UpgradeProbe& probe = {});

// Removes what an interrupted import left in the data folder: the new
// catalog being built (with its -wal, -shm and -journal files) and the
// second name of the old catalog. Only to be called while filebkp.mdb holds
// a complete catalog of an older version, as it does whenever an upgrade is due.
void RemoveUnfinishedImport(const std::string& dataFolder);

}  // namespace tessel
