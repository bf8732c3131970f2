// The -lh5- and -lh7- codecs on their own: giving up early on what does not
// shrink, and damaged input. Round trips of both methods are the archive
// tests' (worker pools, external readers, tessel-lzh).
#include <gtest/gtest.h>

#include <cstring>

#include "archiver/lzh/codec.h"
#include "archiver/lzh/crc16.h"
#include "archiver_test_util.h"

namespace tessel::lzh {
namespace {

using test::MixedBytes;
using test::Noise;

// Reads `in` from the front in whatever pieces are asked for.
auto Reader(const std::string& in, std::size_t& pos) {
    return [&in, &pos](void* buf, std::size_t n) -> std::ptrdiff_t {
        const std::size_t take = std::min(n, in.size() - pos);
        std::memcpy(buf, in.data() + pos, take);
        pos += take;
        return static_cast<std::ptrdiff_t>(take);
    };
}

struct Encoded {
    EncodeResult result;
    std::string bytes;
};

Encoded Encode(const std::string& in, int dictBits, std::uint64_t limit = ~0ull) {
    std::size_t pos = 0;
    Encoded e;
    auto sink = [&](const void* buf, std::size_t n) {
        e.bytes.append(static_cast<const char*>(buf), n);
        return true;
    };
    e.result = EncodeLh(dictBits, Reader(in, pos), sink, limit);
    return e;
}

DecodeStatus Decode(const std::string& comp, std::uint64_t size, std::string* out, std::uint16_t* crc, int dictBits) {
    std::size_t pos = 0;
    auto sink = [&](const void* buf, std::size_t n) {
        out->append(static_cast<const char*>(buf), n);
        return out->size() <= size + 1;
    };
    return DecodeLh(dictBits, Reader(comp, pos), comp.size(), size, sink, crc);
}

TEST(LhCodec, GivesUpEarlyOnWhatDoesNotShrink) {
    for (int dictBits : {13, 16}) {
        // Noise: nothing written, reading stops long before the end.
        Encoded e = Encode(Noise(3 << 20, 5), dictBits);
        EXPECT_EQ(e.result.status, EncodeResult::Status::NotSmaller);
        EXPECT_EQ(e.bytes.size(), 0u);
        EXPECT_LT(e.result.originalSize, 1u << 20);
        // Gives up once the output cannot end below the limit.
        const std::string late = MixedBytes(8000, 4) + Noise(8 << 20, 6);
        e = Encode(late, dictBits, late.size());
        EXPECT_EQ(e.result.status, EncodeResult::Status::NotSmaller);
        EXPECT_LT(e.bytes.size(), late.size());
        e = Encode(MixedBytes(1 << 20, 8), dictBits, 1000);
        EXPECT_EQ(e.result.status, EncodeResult::Status::NotSmaller);
        EXPECT_LT(e.bytes.size(), 1000u);
    }
}

TEST(LhCodec, RoundTripsAndDamagedStreamsFailWithoutCrashing) {
    EXPECT_EQ(Crc16Update(0, "123456789", 9), 0xBB3D);
    EXPECT_NE(Encode("abc", 15).result.status, EncodeResult::Status::Ok);  // -lh6- is read only
    for (int dictBits : {13, 16}) {
        const std::string in = MixedBytes(300000, 11);
        const Encoded e = Encode(in, dictBits);
        std::string back;
        std::uint16_t backCrc = 0;
        ASSERT_EQ(Decode(e.bytes, in.size(), &back, &backCrc, dictBits), DecodeStatus::Ok);
        EXPECT_TRUE(back == in && backCrc == e.result.crc && e.result.crc == Crc16Update(0, in.data(), in.size()));
        std::mt19937 rng(9);
        for (int trial = 0; trial < 150; ++trial) {
            std::string bad = e.bytes;
            // The last byte may hold padding bits that carry nothing: leave it.
            if (trial % 3 == 0) bad.resize(rng() % (bad.size() - 2));
            else bad[rng() % (bad.size() - 1)] ^= static_cast<char>(1 << (rng() % 8));
            std::string out;
            std::uint16_t crc = 0;
            const DecodeStatus st = Decode(bad, in.size(), &out, &crc, dictBits);
            EXPECT_LE(out.size(), in.size());
            // Damage must be noticed unless it decodes to the same bytes.
            EXPECT_TRUE(st != DecodeStatus::Ok || crc != e.result.crc || out == in) << dictBits << " trial " << trial;
        }
        std::string out;  // an absurd original size ends as damage, not a hang
        std::uint16_t crc;
        EXPECT_EQ(Decode(e.bytes, 1ull << 40, &out, &crc, dictBits), DecodeStatus::Corrupt);
    }
}

}  // namespace
}  // namespace tessel::lzh
