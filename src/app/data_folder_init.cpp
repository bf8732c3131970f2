#include "app/data_folder_init.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/startup.h"
#include "core/installation.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

namespace tessel {

InitOutcome InitDataFolder(SharedState& state, const std::string& folder, const std::string& shareFolder) {
    auto fail = [&](const std::string& message) {
        state.ui.showMessage(message);
        return InitOutcome::kFailed;
    };
    const bool exists = PathExists(folder);
    if (exists && !IsDirectory(folder)) return fail("データフォルダーにするパスはフォルダーではありません: " + folder);
    if (exists) {
        if (std::optional<std::string> catalog = FindNoCase(folder, "filebkp.mdb")) {
            state.ui.showMessage("このフォルダーにはすでにカタログがあります: " + *catalog);
            return InitOutcome::kHoldsCatalog;
        }
    }
    // Every installation file is looked for before anything is made.
    for (const char* name : kInstallationFiles) {
        const std::string source = JoinPath(shareFolder, name);
        struct stat st {};
        if (::stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return fail(std::string("インストールされたファイルが見つかりません: ") + source);
    }
    if (!exists) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(folder).parent_path(), ec);
        // The catalog names every file backed up: the folder is the user's own.
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return fail("データフォルダー " + folder + " を作成できません: " + std::strerror(errno));
    }
    for (const char* name : kInstallationFiles) {
        if (FindNoCase(folder, name)) continue;  // a file the user already put there is kept
        const std::string target = JoinPath(folder, name);
        const std::string rc = CopyFile(JoinPath(shareFolder, name), target, SourceLinks::kFollow).resultText();
        if (rc != kSuccess) return fail("ファイル " + target + " を作成できません: " + rc);
    }
    switch (OpenDataFolder(state, folder)) {
    case StartupOutcome::Ready: return InitOutcome::kReady;
    case StartupOutcome::Failed: return InitOutcome::kFailed;
    default: return fail("インストールされたカタログのひな形が古いため、データフォルダーを作れません: " + JoinPath(shareFolder, "bkpDEF.mdb"));
    }
}

}  // namespace tessel
