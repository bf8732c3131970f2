#pragma once
// The statements the backup engine runs once per file, directory or version row.
// Each must be answered by one index seek or a rowid range, never by a
// scan or a sort of FILEKANRI: catalogs hold millions of rows.
#include <string>

#include "catalog/version_state.h"
#include "engine/copy_claims.h"

namespace tessel::backup {

// The latest version of one file recorded with one form of its directory.
inline constexpr const char* kLatestVersionSql =
    "SELECT rowid, LVL, KBN1, FUPDATE, FUPTIME, FSIZE, FMVER, FLVER, PMVER, PLVER, FUPDAYD, FVERNO, PVERNO "
    "FROM FILEKANRI WHERE DIRNO = ?1 AND FILENM = ?2 AND DIR = ?3 ORDER BY LVL DESC, rowid DESC LIMIT 1";
// Every version of one directory's files, by name, the latest of each name
// last (highest level, the last added among equal levels): read from the
// index alone, once per directory.
inline constexpr const char* kDirectoryVersionsSql =
    "SELECT FILENM, rowid FROM FILEKANRI WHERE DIRNO = ?1 AND DIR = ?2 ORDER BY FILENM, LVL, rowid";
// One version's columns, in the order of kLatestVersionSql.
inline constexpr const char* kVersionByRowidSql =
    "SELECT rowid, LVL, KBN1, FUPDATE, FUPTIME, FSIZE, FMVER, FLVER, PMVER, PLVER, FUPDAYD, FVERNO, PVERNO "
    "FROM FILEKANRI WHERE rowid = ?1";
// Whether a directory has rows recorded without the final "/".
inline constexpr const char* kBareRowsSql = "SELECT 1 FROM FILEKANRI WHERE DIRNO = ?1 AND DIR = ?2 LIMIT 1";
// A superseded latest version.
inline constexpr const char* kSupersedeSql = "UPDATE FILEKANRI SET CHK1 = '0' WHERE rowid = ?1";
// The rows the call added, by rowid (the unary plus keeps the planner from
// sorting a run index instead).
inline constexpr const char* kNextRowsSql =
    "SELECT rowid, LVL, DIR, FILENM, KBN1, FUPDATE, FUPTIME, FSIZE FROM FILEKANRI "
    "WHERE rowid > ?3 AND +BKPNO = ?1 AND +DIRNO = ?2 "
    "ORDER BY rowid LIMIT 256";
inline constexpr const char* kWriteBackSql = "UPDATE FILEKANRI SET LVL = ?1, KBN1 = ?2 WHERE rowid = ?3";
inline const std::string kMarkFailedSql =
    "UPDATE FILEKANRI SET KBN1 = '" + CodeText(VersionState::kNoCopy) + "' WHERE rowid = ?1";
// The rows of this call after ?3 that still wait for their copy.
inline const std::string kMarkUnstoredSql = "UPDATE FILEKANRI SET KBN1 = '" + CodeText(VersionState::kNoCopy) +
                                            "' WHERE rowid > ?3 AND +BKPNO = ?1 AND +DIRNO = ?2 AND KBN1 IN ('" +
                                            CodeText(VersionState::kStored) + "', '" +
                                            CodeText(VersionState::kStoredOlder) + "')";

}  // namespace tessel::backup
