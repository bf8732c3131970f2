// The -lh5- codec and CRC on their own: round trips and damaged input.
#include <gtest/gtest.h>

#include <cstring>

#include "archiver/lzh/codec.h"
#include "archiver/lzh/crc16.h"
#include "archiver_test_util.h"

namespace tessel::lzh {
namespace {

struct Encoded {
    EncodeResult result;
    std::string bytes;
};

Encoded Encode(const std::string& in, std::uint64_t limit = ~0ull) {
    std::size_t pos = 0;
    Encoded e;
    e.result = EncodeLh5(
        [&](void* buf, std::size_t n) -> std::ptrdiff_t {
            std::size_t take = std::min(n, in.size() - pos);
            std::memcpy(buf, in.data() + pos, take);
            pos += take;
            return static_cast<std::ptrdiff_t>(take);
        },
        [&](const void* buf, std::size_t n) { e.bytes.append(static_cast<const char*>(buf), n); return true; }, limit);
    return e;
}

DecodeStatus Decode(const std::string& comp, std::uint64_t size, std::string* out, std::uint16_t* crc) {
    std::size_t pos = 0;
    return DecodeLh(13,
                    [&](void* buf, std::size_t n) -> std::ptrdiff_t {
                        std::size_t take = std::min(n, comp.size() - pos);
                        std::memcpy(buf, comp.data() + pos, take);
                        pos += take;
                        return static_cast<std::ptrdiff_t>(take);
                    },
                    comp.size(), size,
                    [&](const void* buf, std::size_t n) {
                        out->append(static_cast<const char*>(buf), n);
                        return out->size() <= size + 1;
                    },
                    crc);
}

TEST(Crc16, MatchesTheArcCheckValue) {
    EXPECT_EQ(Crc16Update(0, "123456789", 9), 0xBB3D);
    // Folding in pieces gives the same as at once.
    std::string data = test::MixedBytes(1000, 3);
    std::uint16_t split = Crc16Update(Crc16Update(0, data.data(), 333), data.data() + 333, 667);
    EXPECT_EQ(split, Crc16Update(0, data.data(), data.size()));
}

TEST(Lh5Codec, RoundTripsDataOfEveryShape) {
    std::string mixed = test::MixedBytes(6 << 20, 7);  // several window slides and blocks
    const std::vector<std::string> inputs = {
        "a", "abcabcabcabcabcabc", std::string(100000, 'z'), std::string(70000, '\0') + "end",
        test::MixedBytes(50000, 1), mixed,
    };
    for (const auto& in : inputs) {
        Encoded e = Encode(in);
        ASSERT_EQ(e.result.status, EncodeResult::Status::Ok);
        EXPECT_EQ(e.result.originalSize, in.size());
        EXPECT_EQ(e.result.crc, Crc16Update(0, in.data(), in.size()));
        std::string out;
        std::uint16_t crc = 0;
        ASSERT_EQ(Decode(e.bytes, in.size(), &out, &crc), DecodeStatus::Ok) << in.size();
        EXPECT_TRUE(out == in) << "size " << in.size();
        EXPECT_EQ(crc, e.result.crc);
    }
    EXPECT_LT(Encode(mixed).bytes.size(), mixed.size() / 2);
}

TEST(Lh5Codec, GivesUpWhenOutputReachesTheLimit) {
    std::string noise = test::MixedBytes(0, 0);
    std::mt19937 rng(5);
    for (int i = 0; i < 200000; ++i) noise += static_cast<char>(rng());
    Encoded e = Encode(noise, noise.size());
    EXPECT_EQ(e.result.status, EncodeResult::Status::NotSmaller);
}

TEST(Lh5Codec, DamagedStreamsFailWithoutCrashing) {
    std::string in = test::MixedBytes(300000, 11);
    Encoded e = Encode(in);
    std::mt19937 rng(9);
    int failures = 0;
    for (int trial = 0; trial < 300; ++trial) {
        std::string bad = e.bytes;
        // The last byte may hold padding bits that carry nothing: leave it.
        if (trial % 3 == 0) bad.resize(rng() % (bad.size() - 2));
        else bad[rng() % (bad.size() - 1)] ^= static_cast<char>(1 << (rng() % 8));
        std::string out;
        std::uint16_t crc = 0;
        DecodeStatus st = Decode(bad, in.size(), &out, &crc);
        EXPECT_LE(out.size(), in.size());
        if (st != DecodeStatus::Ok || crc != e.result.crc) ++failures;
    }
    EXPECT_EQ(failures, 300);  // every damage is noticed by the decoder or the CRC
    // An absurd original size with little data ends as damage, not a hang.
    std::string out;
    std::uint16_t crc;
    EXPECT_EQ(Decode(e.bytes, 1ull << 40, &out, &crc), DecodeStatus::Corrupt);
}

}  // namespace
}  // namespace tessel::lzh
