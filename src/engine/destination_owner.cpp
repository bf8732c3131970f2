#include "engine/destination_owner.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "catalog/catalog_rows.h"
#include "catalog/destination_tokens.h"
#include "engine/version_store.h"
#include "platform/paths.h"

namespace tessel {
namespace {

constexpr const char* kHeading = "Tesselバックアップ管理 destination\n";

std::string MarkText(const std::string& identity, const std::string& catalog, const std::string& token) {
    return std::string(kHeading) + "id=" + identity + "\ncatalog=" + catalog + "\ntoken=" + token + "\n";
}

std::optional<DestinationOwner> ParseMark(const std::string& text) {
    if (text.compare(0, std::strlen(kHeading), kHeading) != 0) return DestinationOwner{};
    DestinationOwner owner;
    std::size_t pos = std::strlen(kHeading);
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        if (line.rfind("id=", 0) == 0) owner.identity = line.substr(3);
        else if (line.rfind("catalog=", 0) == 0) owner.catalog = line.substr(8);
        else if (line.rfind("token=", 0) == 0) owner.token = line.substr(6);
        pos = end + 1;
    }
    return owner;
}

std::string CatalogName(const DestinationOwner& owner) {
    return owner.catalog.empty() ? std::string("不明") : owner.catalog;
}

std::string Refusal(const std::string& destination, const DestinationOwner& owner, const std::string& ours) {
    return "バックアップ先 " + destination + " は別のカタログ (" + CatalogName(owner) + ") のものです。このカタログ (" +
           ours + ") からは書き込みません！";
}

// The mark of one folder read by its path; nullopt when there is none.
std::optional<DestinationOwner> MarkAt(const std::string& folder) {
    const int fd = ::open(JoinPath(folder, kOwnerMarkName).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? std::nullopt : std::optional<DestinationOwner>(DestinationOwner{});
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n < 0) return DestinationOwner{};
    return ParseMark(std::string(buf, static_cast<std::size_t>(n)));
}

// Another catalog's destination that holds this one: copies written here
// would lie among that catalog's, where its runs and a forget treat what
// they do not know as theirs to clean up. Empty when there is none.
std::string ForeignAbove(const std::string& destination, const std::string& identity, const std::string& ours) {
    std::string folder = destination;
    while (folder.size() > 1) {
        const std::size_t slash = folder.rfind('/');
        folder = slash == 0 || slash == std::string::npos ? std::string("/") : folder.substr(0, slash);
        // Only a mark that reads as one counts: anything else of that name
        // (a FIFO, junk someone left) is no catalog's.
        const std::optional<DestinationOwner> owner = MarkAt(folder);
        if (owner && !owner->identity.empty() && owner->identity != identity)
            return "バックアップ先 " + destination + " は別のカタログ (" + CatalogName(*owner) + ") のバックアップ先 " +
                   folder + " の中にあります。このカタログ (" + ours + ") からは書き込みません！";
    }
    return {};
}

// Whether the top of the destination open as root holds level folders or a
// bulk archive.
bool HoldsCopies(WriteRoot& destination) {
    int fd = -1;
    if (destination.openFolder("", &fd, false) != 0) return false;
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return true;  // cannot tell: taken as holding some
    DIR* dir = ::fdopendir(own);
    if (!dir) {
        ::close(own);
        return true;
    }
    bool holds = false;
    struct stat st {};
    while (const dirent* e = ::readdir(dir))
        if (IsVersionStoreName(e->d_name) && ::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))) {
            holds = true;
            break;
        }
    ::closedir(dir);
    return holds;
}

// Whether this catalog has recorded versions for the destination: it wrote
// there before the mark existed, or the mark was lost.
bool RecordedHere(Connection& db, const std::string& destination) {
    Statement q = db.prepare(
        "SELECT 1 FROM FILEKANRI WHERE DIRNO IN (SELECT DIRNO FROM BKPDIR WHERE BKPDIR IN (?1, ?2)) LIMIT 1");
    q.bind(1, destination).bind(2, WithSlash(destination));
    return q.step();
}

// Whether the mark's write token is one this catalog gave: the token kept
// for this destination or the one before it, or, when none is kept for it
// (a destination now reached by another path), any this catalog gave. A
// mark from before tokens has none and is this catalog's by its identity.
bool TokenOurs(Connection& db, const DestinationOwner& owner, const std::optional<DestinationToken>& kept) {
    if (owner.token.empty()) return true;
    if (kept) return owner.token == kept->current || owner.token == kept->previous;
    return GaveDestinationToken(db, owner.token);
}

}  // namespace

std::optional<DestinationOwner> ReadOwnerMark(WriteRoot& destination) {
    std::string text;
    const int err = destination.readFile(kOwnerMarkName, &text, 4096);
    if (err == ENOENT) return std::nullopt;
    if (err) return DestinationOwner{};
    return ParseMark(text);
}

std::string ClaimDestination(WriteRoot& destination, Connection& db) {
    const std::string identity = CatalogIdentity(db);
    const std::string where = destination.path();
    const std::string ours = std::filesystem::absolute(db.path()).lexically_normal().string();
    if (std::string refusal = ForeignAbove(where, identity, ours); !refusal.empty()) return refusal;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::optional<DestinationOwner> owner = ReadOwnerMark(destination);
        const std::optional<DestinationToken> kept = ReadDestinationToken(db, where);
        if (owner) {
            if (owner->identity.empty())
                return "バックアップ先 " + where + " の所有の印 (" + destination.pathOf(kOwnerMarkName) +
                       ") が壊れているか読めないため書き込みません！このカタログのバックアップ先なら、"
                       "印を削除してから実行し直してください。";
            if (owner->identity != identity) return Refusal(where, *owner, ours);
            // The same catalog by identity: a copy of its data folder may
            // have written here since this one last did.
            if (!TokenOurs(db, *owner, kept))
                return "バックアップ先 " + where + " には、このカタログの複製 (" + CatalogName(*owner) +
                       ") が後から書き込んでいるため、このカタログ (" + ours +
                       ") からは書き込みません！このカタログのものに戻すには、印 (" + destination.pathOf(kOwnerMarkName) +
                       ") を削除してください。";
        } else if (attempt == 0 && HoldsCopies(destination) && !RecordedHere(db, where)) {
            // Copies without a mark are adopted only when this catalog
            // recorded them; anyone else's would be cleaned away as leftovers.
            return "バックアップ先 " + where +
                   " には所有の印がなく、このカタログが記録していないバージョンフォルダーがあります。"
                   "別のカタログのものかもしれないため書き込みません！空のフォルダーを指定してください。";
        }
        // A new token for this run: in the catalog first, then in the mark.
        // A kill in between leaves the mark with the token before, which
        // is still taken as this catalog's.
        const DestinationToken next{RandomToken(), owner && !owner->token.empty() ? owner->token
                                                   : kept                         ? kept->current
                                                                                  : std::string()};
        SaveDestinationToken(db, where, next);
        const std::string text = MarkText(identity, ours, next.current);
        const int err = destination.writeFile(
            kOwnerMarkName,
            [&](int fd) {
                return ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : errno ? errno : EIO;
            },
            FileStamp{0644, std::nullopt}, owner.has_value());
        if (err == 0) return {};
        // A mark that is this catalog's and cannot be rewritten (a
        // destination that takes no new entries) keeps its token, which
        // the catalog still holds as the one before.
        if (owner) return {};
        // Another run made its mark first: read that one.
        if (err != EEXIST) return "バックアップ先 " + where + " に所有の印を書けません: " + std::strerror(err);
    }
    return "バックアップ先 " + where + " の所有の印を読めません";
}

std::string SweepRefusal(const std::string& destination, Connection& db) {
    if (std::string foreign = ForeignDestination(destination, db); !foreign.empty()) return foreign;
    WriteRoot root(destination, {Ownership::kUser, RootLinks::kRefuse});
    const std::optional<DestinationOwner> owner = ReadOwnerMark(root);
    if (!owner) return {};
    const std::string ours = std::filesystem::absolute(db.path()).lexically_normal().string();
    if (owner->catalog == ours && TokenOurs(db, *owner, ReadDestinationToken(db, root.path()))) return {};
    return "バックアップ先 " + destination + " の所有の印は、このカタログの別の場所のデータフォルダー (" + CatalogName(*owner) +
           ") を指しています。複製されたデータフォルダーかもしれないため整理しません。このデータフォルダーからバックアップを"
           "一度実行してから整理してください。";
}

std::string ForeignDestination(const std::string& destination, Connection& db) {
    const std::string identity = CatalogIdentity(db);
    if (std::string refusal = ForeignAbove(destination, identity, db.path()); !refusal.empty()) return refusal;
    WriteRoot root(destination, {Ownership::kUser, RootLinks::kRefuse});
    std::optional<DestinationOwner> owner = ReadOwnerMark(root);
    if (!owner || owner->identity == identity) return {};
    return Refusal(destination, *owner, db.path());
}

}  // namespace tessel
