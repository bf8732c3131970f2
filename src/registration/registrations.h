#pragma once
// Registered directories and the prefix row in BKPDIR: what the
// registration window reads and writes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "catalog/catalog_rows.h"
#include "catalog/connection.h"

namespace tessel {

bool RegistrationListEmpty(Connection& db);
// The listed registration (never the prefix row) whose DIR is exactly dir.
std::optional<Registration> FindRegistrationByDir(Connection& db, const std::string& dir);
std::optional<Registration> FindRegistrationByNumber(Connection& db, std::int64_t dirNo);

// The values the edit fields give a registration.
struct RegistrationFields {
    std::string dir;  // as typed; a final "/" is dropped when stored
    std::string dest;
    std::string kind;
    std::string remark;
    std::string abkp;
    std::string chk2;
};

// Updates the registration of the same source (existing) or adds a new one
// under the next directory number with CHK1 "0". Returns its number.
std::int64_t SaveRegistration(Connection& db, const std::optional<Registration>& existing, const RegistrationFields& f);

// The next directory number from the AUTODEF counter.
int CTSET(Connection& db);

void DeleteRegistration(Connection& db, std::int64_t dirNo);

// Stores the destination prefix (ending in "/") and the compression flag in
// the prefix row, adding the row when there is none.
void SavePrefix(Connection& db, const std::string& prefix, const std::string& compressFlag);
// Stores the compression flag in the prefix row when there is one.
void SaveCompression(Connection& db, const std::string& compressFlag);

// The destination of a source: the prefix followed by the source's last
// path component, or "ROOT" when the source ends in "/" or has none.
std::string DestinationFor(const std::string& source, const std::string& prefix);

// Creates a directory with its missing parents. Empty on success, else the
// system's description of the failure.
std::string CreateDirectories(const std::string& path);

}  // namespace tessel
