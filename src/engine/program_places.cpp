#include "engine/program_places.h"

#include <climits>
#include <cstdlib>
#include <filesystem>

#include "platform/paths.h"

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

std::vector<ProgramPlace> RealProgramPlaces(Connection& db) {
    std::vector<ProgramPlace> real;
    for (const ProgramPlace& p : ProgramPlaces(db)) {
        char buf[PATH_MAX];
        std::string clean;
        if (::realpath(p.path.c_str(), buf)) clean = buf;
        else if (!CleanPath(p.path, &clean)) clean = p.path;
        real.push_back({WithSlash(clean), p.dataFolder});
    }
    return real;
}

}  // namespace tessel
