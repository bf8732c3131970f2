#include "engine/destination_owner.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "catalog/catalog_rows.h"

namespace tessel {
namespace {

constexpr const char* kHeading = "Tesselバックアップ管理 destination\n";

std::string MarkText(const std::string& identity, const std::string& catalog) {
    return std::string(kHeading) + "id=" + identity + "\ncatalog=" + catalog + "\n";
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
        pos = end + 1;
    }
    return owner;
}

std::string Refusal(const std::string& destination, const DestinationOwner& owner, const std::string& ours) {
    return "バックアップ先 " + destination + " は別のカタログ (" +
           (owner.catalog.empty() ? std::string("不明") : owner.catalog) + ") のものです。このカタログ (" + ours +
           ") からは書き込みません！";
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
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (std::optional<DestinationOwner> owner = ReadOwnerMark(destination)) {
            if (owner->identity == identity) return {};
            return Refusal(destination.path(), *owner, db.path());
        }
        const std::string text = MarkText(identity, db.path());
        const int err = destination.writeFile(
            kOwnerMarkName,
            [&](int fd) {
                return ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : errno ? errno : EIO;
            },
            FileStamp{0644, std::nullopt}, false);
        if (err == 0) return {};
        // Another run made its mark first: read that one.
        if (err != EEXIST)
            return "バックアップ先 " + destination.path() + " に所有の印を書けません: " + std::strerror(err);
    }
    return "バックアップ先 " + destination.path() + " の所有の印を読めません";
}

std::string ForeignDestination(const std::string& destination, Connection& db) {
    WriteRoot root(destination, {Ownership::kUser, RootLinks::kRefuse});
    std::optional<DestinationOwner> owner = ReadOwnerMark(root);
    if (!owner || owner->identity == CatalogIdentity(db)) return {};
    return Refusal(destination, *owner, db.path());
}

}  // namespace tessel
