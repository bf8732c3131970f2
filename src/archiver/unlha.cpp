#include "archiver/unlha.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "archiver/archive_request.h"

namespace tessel {

std::int32_t Unlha(const void* /*owner*/, const char* commandLine, char* output, std::size_t outputSize) {
    std::string report;
    std::int32_t rc;
    auto request = commandLine ? archive::ParseCommandLine(commandLine) : std::nullopt;
    if (!request) {
        rc = kUnlhaBadCommand;
        report = "command line not understood";
    } else {
        rc = archive::Perform(*request, &report);
    }
    if (output && outputSize > 0) {
        char code[32];
        std::snprintf(code, sizeof code, "rc=%X ", static_cast<unsigned>(rc));
        std::string text = code + report;
        std::size_t n = std::min(text.size(), outputSize - 1);
        std::memcpy(output, text.data(), n);
        output[n] = '\0';
    }
    return rc;
}

const char* UnlhaResultText(std::int32_t rc) {
    switch (rc) {
    case kUnlhaOk: return "done";
    case kUnlhaArchiveMissing: return "archive not found";
    case kUnlhaNotArchive: return "not an LZH archive, or damaged";
    case kUnlhaCrcMismatch: return "member data damaged";
    case kUnlhaCannotWrite: return "cannot write";
    case kUnlhaBadCommand: return "command not understood";
    case kUnlhaRefusedPath: return "path refused";
    case kUnlhaCannotReadSource: return "cannot read a file to add";
    case kUnlhaNoSuchMember: return "no such member";
    case kUnlhaAmbiguousMember: return "several members match";
    case kUnlhaUnsupportedMethod: return "compression method not supported";
    case kUnlhaSourceChanged: return "the file changed while it was read";
    case kUnlhaStopped: return "stopped before the file was added";
    case kUnlhaCannotReadArchive: return "the archive cannot be read";
    default: return "failed";
    }
}

}  // namespace tessel
