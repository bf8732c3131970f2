#pragma once
// Which copies in a destination a recorded version claims. A copy that no
// version claims was left by a run killed before its rows were committed,
// or was let go by a forget: the backup's recovery and the forget remove
// such copies, and only those.
#include <string>

#include "catalog/version_state.h"

namespace tessel {

// The registrations storing in the destination ?1, however its final "/"
// was stored.
inline const std::string kStoringInDestinationSql = "SELECT DIRNO FROM BKPDIR WHERE rtrim(BKPDIR, '/') = rtrim(?1, '/')";

// Whether a version with a copy of its own claims the member dir/name at a
// level of a destination: ?2 and ?3 are the directory with and without its
// final "/", ?6 the last rowid that counts. One index seek per directory
// number storing there.
// ?7 is the call's own directory number, which counts whatever BKPDIR says.
inline const std::string kCopyClaimedSql =
    "SELECT 1 FROM FILEKANRI WHERE DIRNO IN (" + kStoringInDestinationSql + " UNION ALL SELECT ?7) " +
    "AND DIR IN (?2, ?3) AND FILENM = ?4 AND LVL = ?5 AND rowid <= ?6 AND " +
    kClaimsOwnCopySql + " LIMIT 1";
// The same for a plain copy, known by level and name alone.
inline const std::string kPlainCopyClaimedSql =
    "SELECT 1 FROM FILEKANRI WHERE DIRNO IN (" + kStoringInDestinationSql + " UNION ALL SELECT ?5) " +
    "AND FILENM = ?2 AND LVL = ?3 AND rowid <= ?4 AND " +
    kClaimsOwnCopySql + " LIMIT 1";
// The directories of the versions with a copy of their own at a level and
// name of a destination: the plain copy level/name is the one of them whose
// member the level archive lacks.
inline const std::string kPlainCopyClaimantsSql =
    "SELECT DIR FROM FILEKANRI WHERE DIRNO IN (" + kStoringInDestinationSql + ") " +
    "AND FILENM = ?2 AND LVL = ?3 AND " +
    kClaimsOwnCopySql;

}  // namespace tessel
