#pragma once
// Typed reads of the small catalog tables that several engines and windows
// share: the BKPDIR rows (the prefix row and the registered directories)
// and the list of backup runs.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "catalog/connection.h"

namespace tessel {

// One BKPDIR row as stored. The prefix row has DIRNO 0 and KBN "0"; its
// ABKP holds the compression flag.
struct DirectoryRow {
    std::int64_t rowid = 0;
    std::optional<std::int64_t> dirNo;
    std::optional<std::string> dir;     // DIR: the source (the prefix in the prefix row)
    std::optional<std::string> dest;    // BKPDIR: the destination
    std::optional<std::string> kind;    // KBN
    std::optional<std::string> remark;  // BIKOU
    std::optional<std::string> abkp;    // ABKP: automatic backup "1"/"9" (compression in the prefix row)
    std::optional<std::string> chk1;    // CHK1: initial backup done
    std::optional<std::string> chk2;    // CHK2: sub-directories "01"/"00"
};

enum class DirectoryOrder { kByNumber, kAsAdded };

// Every BKPDIR row, by DIRNO or in the order the rows were added. The
// engines read the list before they start, since they write to the catalog
// while the directories are walked.
std::vector<DirectoryRow> ReadDirectoryRows(Connection& db, DirectoryOrder order);
// The row of one directory number.
std::optional<DirectoryRow> ReadDirectoryRow(Connection& db, std::int64_t dirNo);

// The compression flag every engine runs with: the ABKP of the prefix row
// (the first by DIRNO when there are several), "0" (plain copies) when
// there is none or it is empty. Read once, when a run starts.
std::string CompressionFlag(Connection& db);

// One BKPDIR row as the registration list shows it, with its kind's name.
struct Registration {
    std::int64_t dirNo = 0;
    std::optional<std::string> dir, dest, kindName, remark, kind, abkp, chk1, chk2;
};

// The registration list: BKPDIR rows whose kind has a category-2 name.
inline const char* const kRegistrationListQuery =
    "select BKPDIR.DIRNO,BKPDIR.DIR,BKPDIR.BKPDIR,KBNDEF.NAIYOU,BIKOU,BKPDIR.KBN,ABKP,CHK1,CHK2 from BKPDIR "
    "LEFT JOIN KBNDEF ON BKPDIR.KBN = KBNDEF.ID WHERE KBNDEF.KBN=2";
// The current row of a statement running kRegistrationListQuery (or a
// narrowed form of it).
Registration RegistrationOf(const Statement& s);
std::vector<Registration> ListedRegistrations(Connection& db);

// The backup runs as the run lists of the windows show them: number, title,
// kind name, date, time, kind code; runs whose kind has a category-1 name.
inline const char* const kRunListQuery =
    "SELECT BKPNAME.BKPNO, BKPNAME.BKPNAME, KBNDEF.NAIYOU, BKPNAME.DAY1, BKPNAME.TIME1, BKPNAME.KBN FROM BKPNAME "
    "LEFT JOIN KBNDEF ON BKPNAME.KBN = KBNDEF.ID WHERE KBNDEF.KBN=1";

// The catalog's identity: 32 hexadecimal digits, kept in the remark of the
// AUTODEF counter row ("TESSEL-ID " + the digits) so that export, import
// and upgrade carry it along. Made (and committed) on first use.
std::string CatalogIdentity(Connection& db);

}  // namespace tessel
