#include "engine/file_versions.h"

#include <algorithm>
#include <map>
#include <utility>

#include "engine/version_store.h"

namespace tessel {
namespace {

constexpr const char* kColumns =
    "SELECT rowid, BKPNO, LVL, DIR, FILENM, KBN1, FUPDATE, FUPTIME, FSIZE FROM FILEKANRI WHERE DIRNO = ?1 "
    "AND BKPNO <= ?2 ";

VersionRow ReadVersion(const Statement& q) {
    return {q.int64(0), q.int64(1), q.int64(2), q.text(3), q.text(4), q.text(5), q.optInt(6), q.optInt(7), q.optInt(8)};
}

// The part of a query that picks the rows of the scope's path, with the
// texts it binds from ?3 on. A folder's rows lie in one range of DIR
// ("/a/b/" up to "/a/b0", "0" being the character after "/"), its own
// files' bare rows at DIR = "/a/b"; a file's rows at its directory (both
// forms) and name.
struct Pick {
    std::string where;
    std::vector<std::string> binds;
};
std::vector<Pick> PicksOf(const VersionScope& scope) {
    if (!scope.path) return {{"", {}}};
    const std::string& p = *scope.path;
    if (p == "/") return {{"", {}}};
    const std::string folder = p + "/";
    std::string after = p;
    after += static_cast<char>('/' + 1);
    const auto slash = p.rfind('/');
    const std::string parent = p.substr(0, slash + 1), leaf = p.substr(slash + 1);
    std::string bareParent = parent;
    if (bareParent.size() > 1) bareParent.pop_back();
    return {{"AND DIR >= ?3 AND DIR < ?4 ", {folder, after}},
            {"AND DIR = ?3 ", {p}},
            {"AND DIR IN (?3, ?4) AND FILENM = ?5 ", {parent, bareParent, leaf}}};
}

bool LaterFirst(const VersionRow& a, const VersionRow& b) {
    return a.lvl != b.lvl ? a.lvl > b.lvl : a.rowid > b.rowid;
}

}  // namespace

void WalkFileVersions(Connection& db, std::int64_t dirNo, const VersionScope& scope,
                      const std::function<bool(std::vector<VersionRow>& rows)>& onFile) {
    const std::int64_t upTo = scope.upToRun.value_or(INT64_MAX);
    const std::vector<Pick> picks = PicksOf(scope);
    auto bound = [&](Statement& q, const Pick& pick) {
        q.bind(1, dirNo).bind(2, upTo);
        for (std::size_t i = 0; i < pick.binds.size(); ++i) q.bind(static_cast<int>(i) + 3, pick.binds[i]);
    };
    // Rows recorded without the final "/" (older catalogs only): held until
    // the rows of their file with it come, or given on their own at the end.
    std::map<std::pair<std::string, std::string>, std::vector<VersionRow>> bare;
    for (const Pick& pick : picks) {
        Statement b = db.prepare(std::string(kColumns) + pick.where + "AND substr(DIR, -1) <> '/'");
        bound(b, pick);
        while (b.step()) {
            VersionRow r = ReadVersion(b);
            bare[{r.dir + "/", r.name}].push_back(std::move(r));
        }
    }
    auto give = [&](std::vector<VersionRow>& rows) {
        std::sort(rows.begin(), rows.end(), LaterFirst);
        return onFile(rows);
    };
    // The walk in index order, one file at a time.
    for (const Pick& pick : picks) {
        Statement q = db.prepare(std::string(kColumns) + pick.where + "AND substr(DIR, -1) = '/' ORDER BY DIR, FILENM, LVL");
        bound(q, pick);
        std::vector<VersionRow> rows;
        auto flush = [&] {
            if (rows.empty()) return true;
            // Files with bare rows only come in their place among the others.
            const std::pair<std::string, std::string> key{rows.front().dir, rows.front().name};
            while (!bare.empty() && bare.begin()->first < key) {
                if (!give(bare.begin()->second)) return false;
                bare.erase(bare.begin());
            }
            if (auto it = bare.find(key); it != bare.end()) {
                rows.insert(rows.end(), it->second.begin(), it->second.end());
                bare.erase(it);
            }
            const bool go = give(rows);
            rows.clear();
            return go;
        };
        while (q.step()) {
            VersionRow r = ReadVersion(q);
            if (!rows.empty() && (rows.front().dir != r.dir || rows.front().name != r.name) && !flush()) return;
            rows.push_back(std::move(r));
        }
        if (!flush()) return;
    }
    for (auto& [key, only] : bare)
        if (!give(only)) return;
}

}  // namespace tessel
