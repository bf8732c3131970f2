#pragma once
// Canonical Huffman codes as the -lhN- formats use them: code lengths of at
// most 16 bits, codes assigned in order of length and then of symbol, sent
// most significant bit first.
#include <cstdint>
#include <vector>

namespace tessel::lzh {

constexpr int kMaxCodeBits = 16;
// The largest alphabet: the literals and lengths of the -lhN- formats.
constexpr int kMaxSymbols = 510;

// Computes code lengths (at most maxBits) for the n symbols (at most
// kMaxSymbols) from their frequencies. Returns the number of symbols used;
// when it is 0 or 1 every length is left 0 and *single receives the used
// symbol (0 when none), which the format then sends as a zero-bit code.
int BuildLengths(const std::uint32_t* freq, int n, int maxBits, std::uint8_t* len, int* single);

// Assigns the canonical codes for the lengths.
void BuildCodes(const std::uint8_t* len, int n, std::uint16_t* code);

// A decoding table: direct lookup for codes of up to kFastBits bits, a
// search by length for the longer ones.
class DecodeTable {
public:
    static constexpr int kFastBits = 10;
    // False when the lengths do not form a prefix code.
    bool build(const std::uint8_t* len, int n);
    void buildSingle(int symbol);

    // `top` holds the next 16 bits of the stream in its low half; returns the
    // symbol and sets *bits to its length, or -1 for an unassigned code.
    int decode(std::uint32_t top16, int* bits) const {
        if (single_ >= 0) { *bits = 0; return single_; }
        std::uint32_t e = fast_[top16 >> (16 - kFastBits)];
        if (e != kLong) {
            *bits = static_cast<int>(e & 0xFF);
            return e == kInvalid ? -1 : static_cast<int>(e >> 8);
        }
        return decodeLong(top16, bits);
    }

private:
    static constexpr std::uint32_t kInvalid = 0xFFFFFFFFu;
    static constexpr std::uint32_t kLong = 0xFFFFFFFEu;
    int decodeLong(std::uint32_t top16, int* bits) const;

    int single_ = -1;
    std::uint32_t fast_[1u << kFastBits];
    std::uint32_t first_[kMaxCodeBits + 2] = {};
    std::uint32_t count_[kMaxCodeBits + 2] = {};
    std::uint32_t offset_[kMaxCodeBits + 2] = {};
    std::vector<std::uint16_t> sorted_;
};

}  // namespace tessel::lzh
