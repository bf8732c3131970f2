#include "archiver/run_archiver.h"

#include <cstdio>
#include <vector>

#include "archiver/unlha.h"

namespace tessel {

std::int32_t RunArchiver(SharedState& state, const std::string& ownerCode) {
    // On this platform the owner is only a name handed to the archiver.
    const char* owner = ownerCode == "1" ? "DIRSET" : ownerCode == "2" ? "FILEREV" : "BKPGO";
    std::vector<char> output(30000, '\0');
    const std::int32_t rc = Unlha(owner, state.archiverCommand.c_str(), output.data(), output.size());
    if (rc != 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X", static_cast<std::uint32_t>(rc));
        state.ui.showMessage(std::string("UNLHA32.DLL error return rc = ") + hex);
    }
    return rc;
}

}  // namespace tessel
