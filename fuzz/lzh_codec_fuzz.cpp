// Feeds arbitrary bytes to the -lh5-/-lh7- codec. The input compressed and
// decoded again must give the same bytes; the compressed stream with one bit
// flipped, and the raw input read as a compressed stream, must decode without
// a crash and never to more bytes than the member's size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archiver/lzh/codec.h"

namespace {

tessel::lzh::ReadFn Reader(const std::string& in, std::size_t& pos) {
    return [&in, &pos](void* buf, std::size_t n) -> std::ptrdiff_t {
        const std::size_t take = std::min(n, in.size() - pos);
        std::memcpy(buf, in.data() + pos, take);
        pos += take;
        return static_cast<std::ptrdiff_t>(take);
    };
}

std::string Decode(int dictBits, const std::string& comp, std::uint64_t size, tessel::lzh::DecodeStatus* status) {
    std::string out;
    std::size_t pos = 0;
    std::uint16_t crc = 0;
    *status = tessel::lzh::DecodeLh(dictBits, Reader(comp, pos), comp.size(), size,
                                    [&](const void* buf, std::size_t n) {
                                        out.append(static_cast<const char*>(buf), n);
                                        return out.size() <= size;
                                    },
                                    &crc);
    if (out.size() > size) std::abort();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    for (int dictBits : {13, 16}) {
        tessel::lzh::DecodeStatus status;
        Decode(dictBits, in, size * 4 + 1, &status);

        auto encode = [&](std::string& comp) {
            std::size_t pos = 0;
            return tessel::lzh::EncodeLh(dictBits, Reader(in, pos), [&](const void* buf, std::size_t n) {
                comp.append(static_cast<const char*>(buf), n);
                return true;
            }, ~0ull);
        };
        // The first encoding follows another input on this thread, the
        // second this same one: what an input leaves behind must not
        // change the next one's output.
        std::string comp, again;
        const auto result = encode(comp);
        if (encode(again).status != result.status || again != comp) std::abort();
        if (result.status != tessel::lzh::EncodeResult::Status::Ok) continue;
        if (Decode(dictBits, comp, size, &status) != in || status != tessel::lzh::DecodeStatus::Ok) std::abort();
        if (comp.empty()) continue;
        comp[size % comp.size()] ^= static_cast<char>(1 << (size % 8));
        Decode(dictBits, comp, size, &status);
    }
    return 0;
}
