#include "engine/version_store.h"

#include <sys/stat.h>

#include "catalog/version_state.h"
#include "archiver/archive_ops.h"
#include "archiver/unlha.h"
#include "platform/paths.h"
#include "platform/program_files.h"
#include "platform/safe_write.h"

namespace tessel {
namespace {

bool HasMember(const std::string& archive, const std::string& dir, const std::string& name, std::int32_t* code) {
    lzh::Member m;
    *code = archive::FindMember(archive, MemberPathOf(dir, name), &m);
    return *code == kUnlhaOk;
}

// No other version of this level and name in the destination lacks its
// archive member.
bool PlainCopyIsOwn(Connection& db, const VersionCopy& v, const std::string& archive) {
    Statement& q = db.cached(
        "SELECT F.DIR FROM FILEKANRI AS F WHERE F.DIRNO IN (SELECT DIRNO FROM BKPDIR WHERE BKPDIR = ?1) "
        "AND F.FILENM = ?2 AND F.LVL = ?3 AND F.DIR <> ?4 AND F.DIR <> ?5 AND " + std::string(kClaimsOwnCopySql));
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

std::string FiveDigits(std::int64_t value) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    if (digits.size() < 5) digits.insert(0, 5 - digits.size(), '0');
    return value < 0 ? "-" + digits : digits;
}

std::string VersionFolderName(std::int64_t level) { return "V" + FiveDigits(level); }

std::string VersionFolder(const std::string& destination, std::int64_t level) {
    return JoinPath(destination, VersionFolderName(level));
}

std::string LevelArchive(const std::string& destination, std::int64_t level) {
    return JoinPath(VersionFolder(destination, level), kArchiveName);
}

std::string BulkArchive(const std::string& destination) { return JoinPath(destination, kArchiveName); }

bool IsVersionStoreName(std::string_view name) {
    if (name == kArchiveName) return true;
    if (name.size() < 6 || name[0] != 'V') return false;
    std::string_view digits = name.substr(name[1] == '-' ? 2 : 1);
    return digits.size() >= 4 && digits.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string SourcePathOf(const std::string& dir, const std::string& name) { return WithSlash(dir) + name; }

std::string MemberPathOf(const std::string& dir, const std::string& name) {
    return lzh::MemberPathOfSource(SourcePathOf(dir, name));
}

std::string PlainCopy(const std::string& destination, std::int64_t level, const std::string& name) {
    return VersionFolder(destination, level) + kSep + name;
}

NewCopy NewCopyFor(const std::string& dir, const std::string& name, bool compress, std::uint64_t size) {
    const bool archivable = lzh::IsSafeMemberPath(MemberPathOf(dir, name)) && size < 0xFFFFFFFFull;
    const bool plainName = name != kArchiveName && !IsTempFileName(name) && name.find(kSep) == std::string::npos &&
                           IsSafeRelativePath(name);
    if (archivable && (compress || !plainName)) return NewCopy::kArchive;
    return plainName ? NewCopy::kPlain : NewCopy::kArchiveByCatalog;
}

std::optional<Storage> FoundCopy(Connection& db, const VersionCopy& v, bool* archiveThere) {
    const std::string archive = v.archive();
    std::int32_t code = 0;
    if (HasMember(archive, v.dir, v.name, &code)) return Storage::kArchive;
    if (archiveThere) *archiveThere = code != kUnlhaArchiveMissing;
    // An archive the disk cannot read now may hold the version: it is
    // looked for there (and fails as unreadable), and no file of its name
    // beside the archive stands in for it.
    if (code == kUnlhaCannotReadArchive) return Storage::kArchive;
    struct stat st {};
    if (::lstat(v.plainCopy().c_str(), &st) == 0 && S_ISREG(st.st_mode) && PlainCopyIsOwn(db, v, archive))
        return Storage::kPlain;
    return std::nullopt;
}

bool InBulkArchive(const VersionCopy& v) {
    std::int32_t code = 0;
    return v.level == 0 && HasMember(BulkArchive(v.destination), v.dir, v.name, &code);
}

Storage StorageOf(Connection& db, const VersionCopy& v, const std::string& compression) {
    bool archiveThere = false;
    const std::optional<Storage> found = FoundCopy(db, v, &archiveThere);
    if (found) return *found;
    struct stat st {};
    if (::lstat(v.plainCopy().c_str(), &st) == 0 && S_ISREG(st.st_mode)) return Storage::kMissing;
    if (archiveThere) return Storage::kArchive;
    return compression == "0" ? Storage::kPlain : Storage::kArchive;
}

}  // namespace tessel
