// The -lh5- and -lh7- codecs and CRC on their own: round trips, giving up
// on what does not shrink, and damaged input.
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

Encoded Encode(const std::string& in, std::uint64_t limit = ~0ull, int dictBits = 13) {
    std::size_t pos = 0;
    Encoded e;
    e.result = EncodeLh(
        dictBits,
        [&](void* buf, std::size_t n) -> std::ptrdiff_t {
            std::size_t take = std::min(n, in.size() - pos);
            std::memcpy(buf, in.data() + pos, take);
            pos += take;
            return static_cast<std::ptrdiff_t>(take);
        },
        [&](const void* buf, std::size_t n) { e.bytes.append(static_cast<const char*>(buf), n); return true; }, limit);
    return e;
}

DecodeStatus Decode(const std::string& comp, std::uint64_t size, std::string* out, std::uint16_t* crc, int dictBits = 13) {
    std::size_t pos = 0;
    return DecodeLh(dictBits,
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

std::string Noise(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += static_cast<char>(rng());
    return out;
}

TEST(LhCodec, BothWrittenMethodsRoundTripDataOfEveryShape) {
    std::string mixed = test::MixedBytes(6 << 20, 7);  // several window slides and blocks
    // Repeats 20 KB apart: beyond the -lh5- window, inside the -lh7- one.
    std::string far = test::MixedBytes(20000, 3);
    far += far + far;
    const std::vector<std::string> inputs = {
        "a", "abcabcabcabcabcabc", std::string(100000, 'z'), std::string(70000, '\0') + "end",
        test::MixedBytes(50000, 1), mixed, far,
    };
    for (int dictBits : {13, 16}) {
        for (const auto& in : inputs) {
            Encoded e = Encode(in, ~0ull, dictBits);
            ASSERT_EQ(e.result.status, EncodeResult::Status::Ok) << dictBits << " " << in.size();
            EXPECT_EQ(e.result.originalSize, in.size());
            EXPECT_EQ(e.result.crc, Crc16Update(0, in.data(), in.size()));
            std::string out;
            std::uint16_t crc = 0;
            ASSERT_EQ(Decode(e.bytes, in.size(), &out, &crc, dictBits), DecodeStatus::Ok) << dictBits << " " << in.size();
            EXPECT_TRUE(out == in) << dictBits << " size " << in.size();
            EXPECT_EQ(crc, e.result.crc);
        }
        EXPECT_LT(Encode(mixed, ~0ull, dictBits).bytes.size(), mixed.size() / 2);
    }
    EXPECT_LT(Encode(far, ~0ull, 16).bytes.size() * 2, Encode(far, ~0ull, 13).bytes.size());
    EXPECT_NE(Encode("abc", ~0ull, 15).result.status, EncodeResult::Status::Ok);  // -lh6- is read only
}

TEST(LhCodec, GivesUpEarlyOnWhatDoesNotShrink) {
    for (int dictBits : {13, 16}) {
        // Noise fails the test on its first tokens: nothing is written.
        Encoded e = Encode(Noise(3 << 20, 5), ~0ull, dictBits);
        EXPECT_EQ(e.result.status, EncodeResult::Status::NotSmaller);
        EXPECT_EQ(e.bytes.size(), 0u);
        EXPECT_LT(e.result.originalSize, 1u << 20);  // stopped reading long before the end
        // Text followed by more noise than the text saves passes the first
        // test and gives up once the output cannot end below the limit.
        std::string late = test::MixedBytes(8000, 4) + Noise(8 << 20, 6);
        e = Encode(late, late.size(), dictBits);
        EXPECT_EQ(e.result.status, EncodeResult::Status::NotSmaller);
        EXPECT_LT(e.bytes.size(), late.size());
        // Compressible data gives up as soon as it reaches a tighter limit.
        std::string mixed = test::MixedBytes(1 << 20, 8);
        e = Encode(mixed, 1000, dictBits);
        EXPECT_EQ(e.result.status, EncodeResult::Status::NotSmaller);
        EXPECT_LT(e.bytes.size(), 1000u);
    }
}

TEST(LhCodec, DamagedStreamsFailWithoutCrashing) {
    for (int dictBits : {13, 16}) {
        std::string in = test::MixedBytes(300000, 11);
        Encoded e = Encode(in, ~0ull, dictBits);
        std::mt19937 rng(9);
        int failures = 0;
        for (int trial = 0; trial < 150; ++trial) {
            std::string bad = e.bytes;
            // The last byte may hold padding bits that carry nothing: leave it.
            if (trial % 3 == 0) bad.resize(rng() % (bad.size() - 2));
            else bad[rng() % (bad.size() - 1)] ^= static_cast<char>(1 << (rng() % 8));
            std::string out;
            std::uint16_t crc = 0;
            DecodeStatus st = Decode(bad, in.size(), &out, &crc, dictBits);
            EXPECT_LE(out.size(), in.size());
            // A flipped distance inside a run of one byte may decode to the
            // same bytes: harmless. Any other damage must be noticed.
            if (st != DecodeStatus::Ok || crc != e.result.crc || out == in) ++failures;
        }
        EXPECT_EQ(failures, 150) << dictBits;  // every harmful damage is noticed by the decoder or the CRC
        // An absurd original size with little data ends as damage, not a hang.
        std::string out;
        std::uint16_t crc;
        EXPECT_EQ(Decode(e.bytes, 1ull << 40, &out, &crc, dictBits), DecodeStatus::Corrupt);
    }
}

}  // namespace
}  // namespace tessel::lzh
