#include "registration/registration_rules.h"

#include <sys/stat.h>

#include <optional>
#include <vector>

#include "engine/destination_owner.h"
#include "platform/paths.h"
#include "platform/real_location.h"

namespace tessel {
namespace {

struct Stored {
    std::string dir, dest;
};

// Every registration other than the one of source, with its paths.
std::vector<Stored> OtherRegistrations(Connection& db, const std::string& source) {
    std::vector<Stored> rows;
    Statement s = db.prepare("SELECT DIR, BKPDIR FROM BKPDIR WHERE DIRNO <> 0 AND (KBN IS NULL OR KBN <> '0') AND (DIR IS NULL OR DIR <> ?1)");
    s.bind(1, source);
    while (s.step()) rows.push_back({s.isNull(0) ? "" : s.text(0), s.isNull(1) ? "" : s.text(1)});
    return rows;
}

// The folder of the catalog: the data folder.
std::string DataFolderOf(Connection& db) {
    const std::string& catalog = db.path();
    const auto slash = catalog.rfind(kSep);
    if (slash == std::string::npos) return NormalizePath(".", CurrentDirectory());
    return NormalizePath(catalog.substr(0, slash == 0 ? 1 : slash), CurrentDirectory());
}

std::optional<std::string> PrefixOf(Connection& db) {
    Statement s = db.prepare("SELECT DIR FROM BKPDIR WHERE DIRNO = 0 LIMIT 1");
    if (!s.step() || s.isNull(0) || s.text(0).empty()) return std::nullopt;
    return s.text(0);
}

}  // namespace

std::string StoredDirectory(const std::string& typed, const std::string& base) { return NormalizePath(typed, base); }

std::string RealDestination(const std::string& stored) {
    if (stored.empty()) return stored;
    std::string real = LocateReally(stored).resolved;
    if (stored.back() == kSep && (real.empty() || real.back() != kSep)) real += kSep;
    return real;
}

std::string StoredPrefix(const std::string& typed, const std::string& base) {
    std::string p = NormalizePath(typed, base);
    if (p.back() != kSep) p += kSep;
    return p;
}

std::string RegistrationConflict(Connection& db, const std::string& source, const std::string& dest) {
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return " バックアップ対象 " + source + " が見つからないか、フォルダーではないため登録できません！";
    const RealLocation s = LocateReally(source);
    const RealLocation d = LocateReally(dest);
    const std::string data = DataFolderOf(db);
    const RealLocation df = LocateReally(data);
    if (Overlaps(s, df))
        return " バックアップ対象 " + source + " はデータフォルダー " + data + " と重なっているため登録できません！";
    if (Overlaps(d, df))
        return " バックアップ先 " + dest + " はデータフォルダー " + data + " と重なっているため登録できません！";
    if (auto prefix = PrefixOf(db); prefix && Overlaps(s, LocateReally(*prefix)))
        return " バックアップ対象 " + source + " はバックアップ先プレフィックス " + *prefix + " と重なっているため登録できません！";
    if (Overlaps(s, d))
        return " バックアップ対象 " + source + " とバックアップ先 " + dest + " が重なっているため登録できません！";
    const std::vector<Stored> others = OtherRegistrations(db, source);
    for (const Stored& other : others) {
        if (other.dest.empty()) continue;
        const RealLocation od = LocateReally(other.dest);
        if (Overlaps(s, od))
            return " バックアップ対象 " + source + " は登録済のバックアップ先 " + other.dest + " と重なっているため登録できません！";
        if (Overlaps(d, od))
            return " バックアップ先 " + dest + " は登録済のバックアップ先 " + other.dest + " と重なっているため登録できません！";
    }
    for (const Stored& other : others) {
        if (other.dir.empty()) continue;
        const RealLocation os = LocateReally(other.dir);
        if (Overlaps(d, os))
            return " バックアップ先 " + dest + " は登録済のバックアップ対象 " + other.dir + " と重なっているため登録できません！";
        // Two registrations of one file would put back each other's older
        // copies.
        if (Overlaps(s, os))
            return " バックアップ対象 " + source + " は登録済のバックアップ対象 " + other.dir + " と重なっているため登録できません！";
    }
    // The destination is stored, and later written to, as the place it
    // really is.
    return ForeignDestination(d.resolved, db);
}

std::string PrefixConflict(Connection& db, const std::string& prefix) {
    const RealLocation p = LocateReally(prefix);
    const std::string data = DataFolderOf(db);
    if (IsSameOrInside(p, LocateReally(data)))
        return " バックアップ先プレフィックス " + prefix + " はデータフォルダー " + data + " の中にあるため指定できません！";
    for (const Stored& other : OtherRegistrations(db, "")) {
        if (other.dir.empty()) continue;
        if (Overlaps(p, LocateReally(other.dir)))
            return " バックアップ先プレフィックス " + prefix + " は登録済のバックアップ対象 " + other.dir +
                   " と重なっているため指定できません！";
    }
    return {};
}

bool DestinationTaken(Connection& db, const std::string& dest, const std::string& source) {
    if (!ForeignDestination(dest, db).empty()) return true;  // another data folder's
    const RealLocation d = LocateReally(dest);
    for (const Stored& other : OtherRegistrations(db, source)) {
        if (other.dest.empty()) continue;
        const RealLocation od = LocateReally(other.dest);
        if (IsSameOrInside(d, od) && IsSameOrInside(od, d)) return true;
    }
    return false;
}

std::string FreeDestination(Connection& db, const std::string& dest, const std::string& source) {
    std::string candidate = dest;
    for (int n = 2; DestinationTaken(db, candidate, source); ++n) candidate = dest + "_" + std::to_string(n);
    return candidate;
}

std::string DestinationTakenMessage(const std::string& dest) {
    return " バックアップ先 " + dest + " はすでに他の登録で使われています。別のバックアップ先を指定してください！";
}

}  // namespace tessel
