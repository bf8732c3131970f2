#pragma once
// The rules every registration obeys, whoever stores it (the registration
// window or the companion): paths are stored absolute and normalised, and
// no source, destination or prefix overlaps another in a way that would make
// a backup take in its own copies.
#include <string>

#include "catalog/connection.h"

namespace tessel {

// A source or destination as stored: absolute (relative texts are taken
// from base), without "." or ".." parts and without a trailing "/" except
// for "/" itself.
std::string StoredDirectory(const std::string& typed, const std::string& base);
// The prefix as stored: the same, always ending in "/".
std::string StoredPrefix(const std::string& typed, const std::string& base);
// A destination (or the prefix) as the catalog keeps it: the stored form
// with every link of its existing part resolved, so that copies are written
// to it without following any link.
std::string RealDestination(const std::string& stored);

// Why the registration of source with destination dest must be refused, as
// the message to show; empty when it may be stored. Both paths are stored
// forms. The source must be an existing folder; the destination must not be
// marked as another catalog's. Neither may overlap the data
// folder (the catalog's folder) and the source may not overlap the prefix,
// its destination or another registration's source or destination; the
// destination may not overlap another registration's either. The
// registration of the same source (an update) is not "another". Compares
// real locations: links resolved, device and inode.
std::string RegistrationConflict(Connection& db, const std::string& source, const std::string& dest);

// Why prefix must be refused as the destination prefix (it overlaps a
// registered source, or lies in the data folder); empty when it may be
// stored.
std::string PrefixConflict(Connection& db, const std::string& prefix);

// True when a registration other than the one of source has dest as its
// destination (the same real location), or another catalog's mark is there.
bool DestinationTaken(Connection& db, const std::string& dest, const std::string& source);

// dest when it is free, else the first of dest_2, dest_3, ... that is.
std::string FreeDestination(Connection& db, const std::string& dest, const std::string& source);

// The message the window shows when the destination it derived is taken.
std::string DestinationTakenMessage(const std::string& dest);

}  // namespace tessel
