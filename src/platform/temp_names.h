#pragma once
// Names of the files the program writes for a moment and then renames into
// place. The scan never records them and the archiver never takes them as
// members: they belong to a write in progress.
#include <string_view>

namespace tessel {

// Temporary files of the safe-write helper.
inline constexpr std::string_view kSafeWriteTempPrefix = ".tessel-tmp-";
// Temporary files of a member being extracted.
inline constexpr std::string_view kExtractTempPrefix = ".tessel-lzh-";
// The copy of an archive being rewritten ("bkpcmp.lzh" + ".tmp-XXXXXX").
inline constexpr std::string_view kArchiveRewriteTempPrefix = "bkpcmp.lzh.tmp-";
// The archive every version folder and bulk backup holds.
inline constexpr std::string_view kArchiveName = "bkpcmp.lzh";

// True for a file name (no folder) of one of the temporary files above.
inline bool IsProgramTempName(std::string_view name) {
    return name.starts_with(kSafeWriteTempPrefix) || name.starts_with(kExtractTempPrefix) ||
           name.starts_with(kArchiveRewriteTempPrefix);
}

}  // namespace tessel
