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

// True when the destination really holds the copy of the FILEKANRI row with
// the given rowid: the member of its full path in the level's archive (the
// directory's bulk archive too at level 0), or a plain copy in the level's
// folder with the recorded last-write time and size (a plain copy under the
// same name may belong to another file of that name).
bool VersionCopyExists(Connection& db, std::int64_t rowid);

// Stores `entered` as KBN1 of the FILEKANRI row with the given rowid.
// Returns the message to show the user when the change is refused; nothing
// when it was stored (or the row already had that code).
//
// Refused: anything but the five codes; and a code that claims a copy ("0"
// or "7") for a version whose copy is not in its destination, whatever code
// the row carries now: the backup run would then stop copying the unchanged
// file again, and a restore would put back or delete files on the word of a
// copy that does not exist.
std::optional<std::string> ChangeVersionCode(Connection& db, std::int64_t rowid, const std::string& entered);

}  // namespace tessel
