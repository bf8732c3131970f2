#pragma once
// Where the installed files are: the catalog and settings templates, the
// provider file and the manual lie in share/tessel-backup of the
// installation (beside its bin/ folder) or of the build tree (beside the
// built programs).
#include <string>

namespace tessel {

// The installation files' folder for a program in programFolder: the
// installation's (programFolder/../share/tessel-backup) or the build
// tree's (programFolder/share/tessel-backup), whichever exists; the
// installation's when neither does.
std::string ShareFolderBeside(const std::string& programFolder);

// The folder of the running program's executable.
std::string RunningProgramFolder();

// The data folder's installation files, copied from the share folder into
// a new data folder; the catalog and the settings are made from the first
// two at start-up.
inline constexpr const char* kInstallationFiles[] = {"bkpDEF.mdb", "Bkpdef.def", "JETDB.VER"};

}  // namespace tessel
