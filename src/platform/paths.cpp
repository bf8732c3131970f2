#include "platform/paths.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>

namespace tessel {

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (out.empty() || out.back() != kSep) out += kSep;
    out += name;
    return out;
}

std::optional<std::string> FindNoCase(const std::string& folder, std::string_view name) {
    std::string exact = JoinPath(folder, name);
    if (PathExists(exact)) return exact;
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(folder.c_str()), closedir);
    if (!d) return std::nullopt;
    std::string want(name);
    while (dirent* e = readdir(d.get())) {
        if (strcasecmp(e->d_name, want.c_str()) == 0) return JoinPath(folder, e->d_name);
    }
    return std::nullopt;
}

bool IsSafeRelativePath(std::string_view rel) {
    if (rel.empty() || rel.find('\0') != std::string_view::npos) return false;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t next = rel.find(kSep, pos);
        const std::string_view part = rel.substr(pos, next == std::string_view::npos ? rel.npos : next - pos);
        if (part.empty() || part == "." || part == "..") return false;
        if (next == std::string_view::npos) return true;
        pos = next + 1;
    }
}

bool IsSafeAbsolutePath(std::string_view path) {
    return path.size() > 1 && path[0] == kSep && IsSafeRelativePath(path.substr(1));
}

std::string WithSlash(std::string_view dir) {
    std::string out(dir);
    if (out.empty() || out.back() != kSep) out += kSep;
    return out;
}

bool CleanPath(const std::string& in, std::string* out) {
    std::string r;
    const bool absolute = !in.empty() && in[0] == kSep;
    std::size_t i = 0;
    while (i <= in.size()) {
        std::size_t j = in.find(kSep, i);
        if (j == std::string::npos) j = in.size();
        const std::string_view comp = std::string_view(in).substr(i, j - i);
        if (comp == "..") return false;
        if (!comp.empty() && comp != ".") {
            if (!r.empty() || absolute) r += kSep;
            r += comp;
        }
        i = j + 1;
    }
    if (r.empty() && absolute) r = "/";
    *out = r;
    return true;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CurrentDirectory() {
    std::unique_ptr<char, void (*)(void*)> p(getcwd(nullptr, 0), free);
    if (!p) throw std::runtime_error("カレントディレクトリーを取得できません");
    return p.get();
}

}  // namespace tessel
