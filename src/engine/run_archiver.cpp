#include "engine/run_archiver.h"

#include <cstdio>
#include <vector>

#include "archiver/unlha.h"

namespace tessel {

std::int32_t RunArchiver(SharedState& state, const std::string& ownerCode) {
    // On this platform the owner is only a name handed to the archiver.
    const char* owner = ownerCode == "1" ? "DIRSET" : ownerCode == "2" ? "FILEREV" : "BKPGO";
    std::vector<char> output(30000, '\0');
    const std::int32_t rc = Unlha(owner, state.archiverCommand.c_str(), output.data(), output.size());
    if (rc != 0) state.ui.showMessage(ArchiverErrorText(rc));
    return rc;
}

std::string ArchiverErrorText(std::int32_t rc) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<std::uint32_t>(rc));
    return std::string("UNLHA32.DLL error return rc = ") + hex;
}

std::vector<std::int32_t> RunArchiverAddEach(const std::string& archive, const std::vector<std::string>& files) {
    return UnlhaAddEach(archive, files);
}

}  // namespace tessel
