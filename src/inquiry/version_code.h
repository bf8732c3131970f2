#pragma once
// Changing the state code (KBN1) of one recorded file version by hand: the
// way a user excludes a file from further backups ("8") or takes the mark
// off again.
#include <cstdint>
#include <optional>
#include <string>

#include "catalog/connection.h"

namespace tessel {

// True for the codes a version can carry: "0", "2", "7", "8", "9".
bool IsVersionCode(const std::string& code);

// Stores `entered` as KBN1 of the FILEKANRI row with the given rowid.
// Returns the message to show the user when the change is refused; nothing
// when it was stored (or the row already had that code).
//
// Refused: anything but the five codes; and giving a version recorded
// without a usable copy ("2" or "9") a code that claims one ("0" or "7"):
// the backup run would then stop copying the unchanged file again, and a
// restore to an earlier run would delete the file on disk although no copy
// of it exists.
std::optional<std::string> ChangeVersionCode(Connection& db, std::int64_t rowid, const std::string& entered);

}  // namespace tessel
