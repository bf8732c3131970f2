#pragma once
// Which catalog a destination belongs to. The first write into a
// destination leaves a small mark at its top naming the catalog (by the
// identity kept in the catalog, and where that catalog was then); a run of
// another catalog refuses to write there, so that two data folders can
// never replace each other's copies, nor one destination lie inside
// another catalog's. A destination without a mark is adopted by the first
// catalog that writes to it when it holds no copies, or only copies that
// catalog recorded. Reading (restore, verify) is open to every catalog.
#include <optional>
#include <string>

#include "catalog/connection.h"
#include "platform/safe_write.h"

namespace tessel {

// The name of the mark at the top of a destination.
inline constexpr const char* kOwnerMarkName = ".tessel-owner";

// The owner a destination's mark names.
struct DestinationOwner {
    std::string identity;  // the catalog's identity
    std::string catalog;   // where that catalog was when it made the mark
    std::string token;     // the write token of the last run (see destination_tokens.h)
};

// The mark of the destination open as root; nullopt when there is none (or
// no destination yet). A mark that cannot be read is an owner nobody is.
std::optional<DestinationOwner> ReadOwnerMark(WriteRoot& destination);

// Before the first write of a run into the destination: its mark is made
// for this catalog when there is none, and given the run's new write
// token. Returns empty when the destination is this catalog's (and no copy
// of its data folder wrote there since), else the message that refuses it,
// naming both catalogs (or saying why the mark cannot be made or read).
std::string ClaimDestination(WriteRoot& destination, Connection& db);

// Before a forget removes anything in the destination: besides what
// ForeignDestination refuses, a mark that names this catalog's identity but
// another data folder's place, or a write token this catalog never gave (a
// copy of the data folder wrote there since), is refused: a destructive
// sweep from a copied data folder would remove copies its twin still needs.
// Empty when the forget may go on.
std::string SweepRefusal(const std::string& destination, Connection& db);

// For a registration: the message that refuses the destination because
// another catalog's mark is there; empty when it is free or this
// catalog's. Nothing is written.
std::string ForeignDestination(const std::string& destination, Connection& db);

}  // namespace tessel
