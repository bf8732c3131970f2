#pragma once
// The catalog queries of the inquiry windows. Every versions query ends in
// the row's rowid (kept beside the row, not shown) so that an edited state
// code is written back to exactly that row. A click narrows a versions
// query with a WHERE clause on the same ordered query; the key is bound as
// ?1. The orders are served by the FILEKANRI indexes (BYRUN for the order
// by run, BYFILE for the order by directory and name), so the first rows
// come at once however large the table is.
#include <string>

#include "catalog/version_state.h"

namespace tessel::inquiry {

inline const std::string kVersionColumns = "select BKPNO,DIRNO,LVL,DIR,FILENM,FUPDAYD,FUPTIMED,FSIZE,FVERNO,PVERNO,KBN1";

// By backup run.
inline std::string RunVersionsQuery(bool filtered) {
    return kVersionColumns + ",rowid from FILEKANRI" + (filtered ? " WHERE BKPNO = ?1" : "") +
           " Order by BKPNO,DIRNO,FILENM,LVL";
}

// By directory.
inline std::string DirectoryVersionsQuery(bool filtered) {
    return kVersionColumns + ",rowid from FILEKANRI" + (filtered ? " WHERE DIRNO = ?1" : "") +
           " Order by DIRNO,FILENM,LVL";
}
inline const std::string kDirectoriesQuery =
    "SELECT DIRNO, DIR,BKPDIR, KBNDEF.NAIYOU, BIKOU FROM BKPDIR LEFT JOIN KBNDEF ON BKPDIR.KBN = KBNDEF.ID "
    "WHERE (KBNDEF.KBN=2 AND BKPDIR.DIRNO <> 0)";

// Latest file state. filterMode "1": every latest version of the clicked
// directory; "2": only those whose KBN1 is "8" or above, compared as text.
inline std::string LatestVersionsQuery(bool filtered, const std::string& filterMode = "1") {
    std::string where = " WHERE CHK1<>'0'";
    if (filtered) {
        where += " AND DIRNO = ?1 AND CHK1 = '1'";
        if (filterMode != "1") where += std::string(" AND ") + kErrorStatesSql;
    }
    return kVersionColumns + ",CHK1,rowid from FILEKANRI" + where + " Order by DIRNO,FILENM,LVL";
}

}  // namespace tessel::inquiry
