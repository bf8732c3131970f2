#pragma once
// Temporary folders for tests, removed with everything in them at the end,
// and small file, catalog and shell helpers.
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/shared_state.h"

namespace tessel::test {

// Runs a shell command; returns its exit status.
inline int Shell(const std::string& command) {
    int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// Single-quotes a text for the shell.
inline std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class TempDir {
public:
    TempDir() {
        std::string templ = (std::filesystem::temp_directory_path() / "tessel-test-XXXXXX").string();
        if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
        path_ = templ;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
        // Tests leave read-only folders behind: make everything writable first.
        if (ec) Shell("chmod -R u+rwx " + ShellQuote(path_) + " && rm -rf " + ShellQuote(path_));
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A data folder holding the installation files (catalog template,
// settings template, provider file) as a fresh installation has them.
class TempDataFolder : public TempDir {
public:
    TempDataFolder() {
        for (const char* f : {"bkpDEF.mdb", "Bkpdef.def", "JETDB.VER"})
            std::filesystem::copy_file(std::string(TESSEL_SHARE_BUILD_DIR) + "/" + f, path() + "/" + f);
    }
};

// Makes the catalog filebkp.mdb of a data folder from its template and
// opens it as the program does: state's data folder and connection are set.
inline void OpenFreshCatalog(const TempDataFolder& folder, SharedState& state) {
    std::filesystem::copy_file(folder / "bkpDEF.mdb", folder / "filebkp.mdb");
    state.dataFolder = folder.path();
    state.catalog = Connection::openFile(folder / "filebkp.mdb");
}

// The first column of every row of a query, as text ("" for NULL).
inline std::vector<std::string> Column(Connection& db, const std::string& sql) {
    Statement q = db.prepare(sql);
    std::vector<std::string> out;
    while (q.step()) out.push_back(q.text(0));
    return out;
}

// Sets a file's last-write (and access) time, seconds since 1970 UTC; a
// link itself, not its target.
inline void SetMtime(const std::string& path, std::int64_t seconds, long nanoseconds = 0) {
    const struct timespec t[2] = {{static_cast<time_t>(seconds), nanoseconds}, {static_cast<time_t>(seconds), nanoseconds}};
    utimensat(AT_FDCWD, path.c_str(), t, AT_SYMLINK_NOFOLLOW);
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!(out << bytes)) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Makes folders of 200-character names below root, one in another, until
// the path is longer than the system allows (PATH_MAX), with the file
// `name` holding "x" in the deepest one. Returns the deepest folder's path.
inline std::string MakeTooLongFolder(const std::string& root, const std::string& name) {
    const std::string leaf(200, 'd');
    std::string path = root;
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd >= 0 && path.size() <= PATH_MAX + 100) {
        if (::mkdirat(fd, leaf.c_str(), 0755) != 0) break;
        int next = ::openat(fd, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
        path += "/" + leaf;
    }
    int file = fd >= 0 ? ::openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644) : -1;
    if (file < 0 || ::write(file, "x", 1) != 1) throw std::runtime_error("cannot make a too long path below " + root);
    ::close(file);
    ::close(fd);
    return path;
}

// The names of the entries of a folder.
inline std::set<std::string> NamesIn(const std::string& dir) {
    std::set<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) out.insert(e.path().filename().string());
    return out;
}

// Every entry below a folder by relative path: a file's bytes, a link as
// "-> target" (never followed), a folder as "/".
inline std::map<std::string, std::string> FilesBelow(const std::string& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        const std::string rel = std::filesystem::relative(e.path(), root).string();
        if (e.is_symlink()) out[rel] = "-> " + std::filesystem::read_symlink(e.path()).string();
        else if (e.is_regular_file()) out[rel] = ReadFile(e.path().string());
        else out[rel] = "/";
    }
    return out;
}

}  // namespace tessel::test
