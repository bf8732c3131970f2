#pragma once
// The state of a recorded version, as FILEKANRI.KBN1 holds it: the codes
// are the catalog's texts, compared as text, and are read and written only
// through this header.
#include <string>
#include <string_view>

namespace tessel {

enum class VersionState {
    kStored,        // "0": stored, its copy is its own
    kRecordedOnly,  // "2": recorded without a copy of its own (a bulk archive may hold it)
    kStoredOlder,   // "7": stored, older than the version before it
    kExcluded,      // "8": left out of every later backup
    kNoCopy,        // "9": its copy failed or was lost
    kOther,         // no code, or one the program never writes
};

// The state a code stands for.
constexpr VersionState VersionStateOf(std::string_view code) {
    if (code == "0") return VersionState::kStored;
    if (code == "2") return VersionState::kRecordedOnly;
    if (code == "7") return VersionState::kStoredOlder;
    if (code == "8") return VersionState::kExcluded;
    if (code == "9") return VersionState::kNoCopy;
    return VersionState::kOther;
}

// The code of a state (kOther has none: "").
constexpr std::string_view CodeOf(VersionState state) {
    switch (state) {
    case VersionState::kStored: return "0";
    case VersionState::kRecordedOnly: return "2";
    case VersionState::kStoredOlder: return "7";
    case VersionState::kExcluded: return "8";
    case VersionState::kNoCopy: return "9";
    case VersionState::kOther: break;
    }
    return "";
}
inline std::string CodeText(VersionState state) { return std::string(CodeOf(state)); }

// Whether a version in this state claims a copy of its own (a version
// without a code is taken to, as older catalogs wrote none).
constexpr bool ClaimsOwnCopy(VersionState state) {
    return state != VersionState::kRecordedOnly && state != VersionState::kExcluded && state != VersionState::kNoCopy;
}
inline bool ClaimsOwnCopy(std::string_view code) { return ClaimsOwnCopy(VersionStateOf(code)); }

// The same as a condition on KBN1, for queries.
inline constexpr const char* kClaimsOwnCopySql = "(KBN1 IS NULL OR KBN1 NOT IN ('2', '8', '9'))";

// The versions an errors-only listing shows: excluded or without a copy
// ("8" and above, compared as text, as the catalog's own listings do).
inline constexpr const char* kErrorStatesSql = "KBN1 >= '8'";

}  // namespace tessel
