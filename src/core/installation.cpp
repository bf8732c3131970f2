#include "core/installation.h"

#include <filesystem>
#include <system_error>

namespace tessel {

std::string ShareFolderBeside(const std::string& programFolder) {
    namespace fs = std::filesystem;
    const fs::path folder(programFolder);
    const fs::path installed = (folder / ".." / "share" / "tessel-backup").lexically_normal();
    const fs::path buildTree = (folder / "share" / "tessel-backup").lexically_normal();
    std::error_code ec;
    for (const fs::path& candidate : {installed, buildTree})
        if (fs::is_directory(candidate, ec)) return candidate.string();
    return installed.string();
}

std::string RunningProgramFolder() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
}

}  // namespace tessel
