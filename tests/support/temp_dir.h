#pragma once
// Temporary folders for tests, removed with everything in them at the end.
#include <string>

#include "engine/shared_state.h"

namespace tessel::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
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
    TempDataFolder();
};

// Makes the catalog filebkp.mdb of a data folder from its template and
// opens it as the program does: state's data folder and connection are set.
void OpenFreshCatalog(const TempDataFolder& folder, SharedState& state);

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
// Makes folders of 200-character names below root, one in another, until
// the path is longer than the system allows (PATH_MAX), with the file
// `name` holding "x" in the deepest one. Returns the deepest folder's path.
std::string MakeTooLongFolder(const std::string& root, const std::string& name);
// Runs a shell command; returns its exit status.
int Shell(const std::string& command);
// Single-quotes a text for the shell.
std::string ShellQuote(const std::string& s);

}  // namespace tessel::test
