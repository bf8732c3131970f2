#include "engine/program_places.h"

#include <filesystem>

#include "platform/real_location.h"

namespace tessel {

std::vector<ProgramPlace> ProgramPlaces(Connection& db) {
    std::vector<ProgramPlace> places;
    Statement q = db.prepare(
        "SELECT CASE WHEN DIRNO = 0 THEN DIR ELSE BKPDIR END FROM BKPDIR WHERE DIRNO = 0 OR KBN = '0' OR BKPDIR <> ''");
    while (q.step())
        if (!q.isNull(0) && !q.text(0).empty() && q.text(0)[0] == '/') places.push_back({q.text(0), false});
    const std::string catalog = std::filesystem::absolute(db.path()).lexically_normal().string();
    if (const auto slash = catalog.rfind('/'); slash != std::string::npos)
        places.push_back({catalog.substr(0, slash == 0 ? 1 : slash), true});
    return places;
}

ProgramPlaceGuard::ProgramPlaceGuard(Connection& db, const std::string& root) {
    const RealLocation where = LocateReally(root);
    for (const ProgramPlace& p : ProgramPlaces(db)) {
        const RealLocation place = LocateReally(p.path);
        if (!place.exists || place.chain.empty()) continue;
        if (p.dataFolder && IsSameOrInside(where, place) && !IsSameOrInside(place, where)) continue;
        places_.push_back(place.chain.front());
    }
}

bool ProgramPlaceGuard::covers(const std::string& folder) {
    if (places_.empty()) return false;
    if (const auto it = known_.find(folder); it != known_.end()) return it->second;
    const RealLocation at = LocateReally(folder);
    bool inside = false;
    for (const auto& id : at.chain)
        for (const auto& place : places_) inside = inside || id == place;
    known_.emplace(folder, inside);
    return inside;
}

}  // namespace tessel
