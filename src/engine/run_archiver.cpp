#include "engine/run_archiver.h"

#include <cstdio>

#include "engine/version_store.h"

namespace tessel {

std::string ArchiverErrorText(std::int32_t rc) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<std::uint32_t>(rc));
    return std::string("UNLHA32.DLL error return rc = ") + hex;
}

std::string ArchiverResultText(std::int32_t rc) { return "エラー　" + FiveDigits(rc); }

std::int32_t ShowArchiverResult(UserInterface& ui, std::int32_t rc) {
    if (rc != 0) ui.showMessage(ArchiverErrorText(rc));
    return rc;
}

std::int32_t RunArchiver(UserInterface& ui, const ArchiverCall& call, const archive::ArchiveRequest& request) {
    return ShowArchiverResult(ui, call(request));
}

}  // namespace tessel
