#include "engine/version_store.h"

#include <sys/stat.h>

#include <cstdio>

#include "archiver/archive_ops.h"
#include "archiver/unlha.h"
#include "platform/paths.h"

namespace tessel {
namespace {

std::string WithSlash(const std::string& dir) { return !dir.empty() && dir.back() == kSep ? dir : dir + kSep; }

bool HasMember(const std::string& archive, const std::string& dir, const std::string& name, std::int32_t* code) {
    lzh::Member m;
    *code = archive::FindMemberForFolder(archive, MemberFolderOf(dir), name, &m);
    return *code == kUnlhaOk;
}

// No other version of this level and name in the destination lacks its
// archive member.
bool PlainCopyIsOwn(Connection& db, const VersionCopy& v, const std::string& archive) {
    Statement& q = db.cached(
        "SELECT F.DIR FROM FILEKANRI AS F WHERE F.DIRNO IN (SELECT DIRNO FROM BKPDIR WHERE BKPDIR = ?1) "
        "AND F.FILENM = ?2 AND F.LVL = ?3 AND F.DIR <> ?4 AND F.DIR <> ?5 "
        "AND (F.KBN1 IS NULL OR F.KBN1 NOT IN ('2', '8', '9'))");
    std::string bare = WithSlash(v.dir);
    bare.pop_back();
    q.bind(1, v.destination).bind(2, v.name).bind(3, v.level).bind(4, WithSlash(v.dir)).bind(5, bare);
    bool own = true;
    std::int32_t code = 0;
    while (own && q.step())
        if (!HasMember(archive, q.text(0), v.name, &code)) own = false;
    q.reset();
    return own;
}

}  // namespace

std::string VersionFolderOf(const VersionCopy& v) {
    char level[32];
    std::snprintf(level, sizeof level, v.level < 0 ? "V-%05lld" : "V%05lld",
                  static_cast<long long>(v.level < 0 ? -v.level : v.level));
    return JoinPath(v.destination, level);
}

std::string PlainCopyOf(const VersionCopy& v) { return VersionFolderOf(v) + kSep + v.name; }

std::string LevelArchiveOf(const VersionCopy& v) { return VersionFolderOf(v) + "/bkpcmp.lzh"; }

std::string MemberFolderOf(const std::string& dir) {
    std::string d = WithSlash(dir);
    d.pop_back();
    return d.empty() ? d : d.substr(1);
}

Storage StorageOf(Connection& db, const VersionCopy& v, const std::string& compression) {
    const std::string archive = LevelArchiveOf(v);
    std::int32_t code = 0;
    if (HasMember(archive, v.dir, v.name, &code)) return Storage::kArchive;
    const bool archiveThere = code != kUnlhaArchiveMissing;
    struct stat st {};
    if (::lstat(PlainCopyOf(v).c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return PlainCopyIsOwn(db, v, archive) ? Storage::kPlain : Storage::kMissing;
    if (archiveThere) return Storage::kArchive;
    return compression == "0" ? Storage::kPlain : Storage::kArchive;
}

}  // namespace tessel
