#pragma once
// The write token of each destination a catalog writes to. Every run that
// writes a destination gives it a new random token, in the catalog first
// and then in the destination's owner mark; a copy of the data folder (same
// identity) that wrote the destination since holds another token, so the
// two never replace each other's copies.
#include <optional>
#include <string>

#include "catalog/connection.h"

namespace tessel {

struct DestinationToken {
    std::string current;   // the token last given to the destination
    std::string previous;  // the one before: the mark may still hold it after a kill
};

// The tokens kept for a destination; nullopt when this catalog has none for
// it yet (a catalog from before tokens, or a destination never written).
std::optional<DestinationToken> ReadDestinationToken(Connection& db, const std::string& destination);

// Keeps `token` for the destination (committed before the mark is written).
void SaveDestinationToken(Connection& db, const std::string& destination, const DestinationToken& token);

// Whether this catalog ever gave `token` to a destination (by any path: a
// destination now reached under another path, a disk mounted elsewhere,
// still holds its token).
bool GaveDestinationToken(Connection& db, const std::string& token);

// Copies every kept token from one catalog into another that has none yet
// (a catalog being rebuilt from table files).
void CopyDestinationTokens(Connection& from, Connection& to);

// 32 random hexadecimal digits.
std::string RandomToken();

}  // namespace tessel
