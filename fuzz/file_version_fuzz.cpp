// Feeds arbitrary bytes to the PE version-resource reader: truncated images,
// directory entries pointing anywhere (themselves included), sizes past the
// end. It must return, without a crash or a hang.
#include <cstdint>
#include <string_view>

#include "platform/file_version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tessel::ParseFileVersion(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
