#pragma once
// Names of the files the program itself writes into a destination.
// Temporary files are named in platform/safe_write.h.
#include <string_view>

namespace tessel {

// The archive every version folder and bulk backup holds.
inline constexpr std::string_view kArchiveName = "bkpcmp.lzh";

}  // namespace tessel
