#include "platform/real_location.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>

namespace tessel {
namespace {

std::string ParentOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string Resolved(const std::string& path) {
    std::unique_ptr<char, void (*)(void*)> real(realpath(path.c_str(), nullptr), free);
    return real ? std::string(real.get()) : path;
}

}  // namespace

std::string NormalizePath(const std::string& path, const std::string& base) {
    std::string whole = !path.empty() && path[0] == '/' ? path : base + "/" + path;
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= whole.size()) {
        size_t j = whole.find('/', i);
        if (j == std::string::npos) j = whole.size();
        std::string part = whole.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        i = j + 1;
    }
    std::string out;
    for (const std::string& p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

RealLocation LocateReally(const std::string& path) {
    RealLocation loc;
    std::string existing = NormalizePath(path, "/");
    std::string rest;
    struct stat st {};
    // Walk up to the deepest part that exists; what lies below it is kept
    // as written.
    while (stat(existing.c_str(), &st) != 0 && existing != "/") {
        size_t slash = existing.rfind('/');
        rest = existing.substr(slash) + rest;
        existing = ParentOf(existing);
    }
    loc.exists = rest.empty() && stat(existing.c_str(), &st) == 0;
    std::string real = Resolved(existing);
    loc.resolved = real == "/" && !rest.empty() ? rest : real + rest;
    for (std::string p = real;; p = ParentOf(p)) {
        if (stat(p.c_str(), &st) == 0) loc.chain.emplace_back(st.st_dev, st.st_ino);
        if (p == "/") break;
    }
    return loc;
}

bool IsSameOrInside(const RealLocation& a, const RealLocation& b) {
    const std::string& x = a.resolved;
    const std::string& y = b.resolved;
    if (x == y || y == "/" || (x.size() > y.size() && x.compare(0, y.size(), y) == 0 && x[y.size()] == '/'))
        return true;
    // The same folder reached by another way (a bind mount): b's identity
    // among a's folders. Only an existing b has an identity of its own.
    if (!b.exists || b.chain.empty()) return false;
    for (const auto& id : a.chain)
        if (id == b.chain.front()) return true;
    return false;
}

}  // namespace tessel
