#pragma once
// Names of the files and folders the program itself writes. The scan never
// records them and the archiver never takes them as members: version
// folders hold copies. Temporary files are named in platform/safe_write.h.
#include <cctype>
#include <string_view>

namespace tessel {

// The archive every version folder and bulk backup holds.
inline constexpr std::string_view kArchiveName = "bkpcmp.lzh";

// True for the name of a version folder: "V" and five digits. Callers also
// check that the folder holds an archive or copies before treating it so.
inline bool IsVersionFolderName(std::string_view name) {
    if (name.size() != 6 || name[0] != 'V') return false;
    for (char c : name.substr(1))
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace tessel
