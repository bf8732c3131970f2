#include "support/temp_dir.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tessel::test {

TempDir::TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "tessel-test-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make everything writable first: tests leave read-only files behind.
    std::filesystem::remove_all(path_, ec);
    if (ec) Shell("chmod -R u+rwx " + ShellQuote(path_) + " && rm -rf " + ShellQuote(path_));
}

TempDataFolder::TempDataFolder() {
    for (const char* f : {"bkpDEF.mdb", "Bkpdef.def", "JETDB.VER"})
        std::filesystem::copy_file(std::string(TESSEL_SHARE_BUILD_DIR) + "/" + f, path() + "/" + f);
}

void OpenFreshCatalog(const TempDataFolder& folder, SharedState& state) {
    std::filesystem::copy_file(folder / "bkpDEF.mdb", folder / "filebkp.mdb");
    state.dataFolder = folder.path();
    state.catalog = Connection::openFile(folder / "filebkp.mdb");
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string MakeTooLongFolder(const std::string& root, const std::string& name) {
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

int Shell(const std::string& command) {
    int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

}  // namespace tessel::test
