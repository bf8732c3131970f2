#pragma once
// Names of the files and folders the program itself writes. The scan never
// records them and the archiver never takes them as members: temporary
// files belong to a write in progress, version folders hold copies.
#include <cctype>
#include <string_view>

#include "platform/safe_write.h"

namespace tessel {

// The archive every version folder and bulk backup holds.
inline constexpr std::string_view kArchiveName = "bkpcmp.lzh";

// True for a file name (no folder) of one of the program's temporary files,
// including the archive rewrites of earlier versions ("bkpcmp.lzh.tmp-XXXXXX").
inline bool IsProgramTempName(std::string_view name) {
    return IsTempFileName(name) || name.starts_with("bkpcmp.lzh.tmp-");
}

// True for the name of a version folder: "V" and five digits. Callers also
// check that the folder holds an archive or copies before treating it so.
inline bool IsVersionFolderName(std::string_view name) {
    if (name.size() != 6 || name[0] != 'V') return false;
    for (char c : name.substr(1))
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace tessel
