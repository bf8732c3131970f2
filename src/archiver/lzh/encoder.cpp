// -lh5- compression: LZ77 over an 8 KiB window with a hash-chain matcher and
// lazy evaluation, then static Huffman coding per block of tokens.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "archiver/lzh/codec.h"
#include "archiver/lzh/crc16.h"
#include "archiver/lzh/huffman.h"

namespace tessel::lzh {
namespace {

constexpr int kDictBits = 13;
constexpr std::int32_t kWindow = 1 << kDictBits;
constexpr std::int32_t kWindowMask = kWindow - 1;
constexpr int kMaxMatch = 256;
constexpr int kMinMatch = 3;
constexpr int kNC = 256 + kMaxMatch - kMinMatch + 1;  // literals and lengths
constexpr int kNP = kDictBits + 1;                     // position classes
constexpr int kNT = kMaxCodeBits + 3;                  // code-length symbols
constexpr int kPBits = 4, kTBits = 5, kCBits = 9;
constexpr int kHashBits = 15;
constexpr std::int32_t kNil = -1;
constexpr std::int32_t kBufSize = 1 << 18;
constexpr std::int32_t kMinLookahead = kMaxMatch + kMinMatch + 1;
constexpr std::size_t kBlockTokens = 1 << 15;  // tokens gathered before planning blocks
constexpr std::size_t kMinBlockTokens = 1024;

// Matcher tuning: deeper than gzip -6, to make up for the smaller window.
constexpr int kMaxChain = 256;
constexpr int kGoodLength = 8;
constexpr int kNiceLength = 256;
constexpr int kMaxLazy = 32;
constexpr std::int32_t kMaxInsertLength = 256;
constexpr std::int32_t kTooFar = 1024;

class BitWriter {
public:
    explicit BitWriter(const WriteFn& write, std::uint64_t limit) : write_(write), limit_(limit) { out_.reserve(1 << 17); }
    void put(int n, std::uint32_t v) {
        acc_ = (acc_ << n) | (v & ((1u << n) - 1));
        bits_ += n;
        while (bits_ >= 8) {
            bits_ -= 8;
            out_.push_back(static_cast<std::uint8_t>(acc_ >> bits_));
        }
    }
    bool drain(bool final) {
        if (final && bits_ > 0) {
            out_.push_back(static_cast<std::uint8_t>(acc_ << (8 - bits_)));
            bits_ = 0;
        }
        if (out_.size() >= (1 << 16) || final) {
            total_ += out_.size();
            if (total_ >= limit_) { exceeded_ = true; return false; }
            if (!out_.empty() && !write_(out_.data(), out_.size())) { failed_ = true; return false; }
            out_.clear();
        }
        return true;
    }
    std::uint64_t total() const { return total_; }
    bool exceeded() const { return exceeded_; }
    bool failed() const { return failed_; }

private:
    const WriteFn& write_;
    std::uint64_t limit_;
    std::vector<std::uint8_t> out_;
    std::uint64_t acc_ = 0;
    int bits_ = 0;
    std::uint64_t total_ = 0;
    bool exceeded_ = false, failed_ = false;
};

class Encoder {
public:
    Encoder(const ReadFn& read, BitWriter& out) : read_(read), out_(out) {
        buf_.assign(kBufSize + 16, 0);
        head_.assign(1 << kHashBits, kNil);
        prev_.assign(kWindow, kNil);
        codes_.reserve(kBlockTokens);
        offsets_.reserve(kBlockTokens);
    }

    bool run() {
        if (!fill()) return false;
        std::int32_t matchLen = kMinMatch - 1, matchPos = 0;
        bool pending = false;
        while (end_ - pos_ > 0) {
            if (end_ - pos_ < kMinLookahead && !eof_) {
                if (!slideAndFill(&matchPos)) return false;
            }
            const std::int32_t lookahead = end_ - pos_;
            std::int32_t candidate = kNil;
            if (lookahead >= kMinMatch) candidate = insert(pos_);
            std::int32_t prevLen = matchLen, prevPos = matchPos;
            matchLen = kMinMatch - 1;
            if (candidate != kNil && prevLen < kMaxLazy && pos_ - candidate < kWindow) {
                matchLen = longestMatch(candidate, prevLen, lookahead, &matchPos);
                if (matchLen == kMinMatch && pos_ - matchPos > kTooFar) matchLen = kMinMatch - 1;
            }
            if (prevLen >= kMinMatch && matchLen <= prevLen) {
                // Distance (pos_-1) - prevPos, sent as distance - 1.
                if (!emitMatch(prevLen, pos_ - 2 - prevPos)) return false;
                // The match began at pos_-1; enter the strings it covers.
                // Long matches enter only their last strings: long runs
                // then cost little, at almost no loss of compression.
                std::int32_t stop = pos_ - 1 + prevLen;
                ++pos_;
                if (prevLen > kMaxInsertLength) pos_ = std::max(pos_, stop - 2);
                while (pos_ < stop) {
                    if (end_ - pos_ >= kMinMatch) insert(pos_);
                    ++pos_;
                }
                pending = false;
                matchLen = kMinMatch - 1;
            } else if (pending) {
                if (!emitLiteral(buf_[pos_ - 1])) return false;
                ++pos_;
            } else {
                pending = true;
                ++pos_;
            }
        }
        if (pending && !emitLiteral(buf_[pos_ - 1])) return false;
        if (!codes_.empty() && !flushBlock()) return false;
        return true;
    }

    std::uint64_t originalSize() const { return total_; }
    std::uint16_t crc() const { return crc_; }
    bool readFailed() const { return readFailed_; }

private:
    std::uint32_t hashAt(std::int32_t p) const {
        std::uint32_t v;
        std::memcpy(&v, &buf_[p], 4);
        return ((v & 0xFFFFFF) * 2654435761u) >> (32 - kHashBits);
    }
    std::int32_t insert(std::int32_t p) {
        std::uint32_t h = hashAt(p);
        std::int32_t old = head_[h];
        prev_[p & kWindowMask] = old;
        head_[h] = p;
        return old;
    }

    std::int32_t longestMatch(std::int32_t cur, std::int32_t prevLen, std::int32_t lookahead, std::int32_t* matchPos) {
        int chain = kMaxChain;
        if (prevLen >= kGoodLength) chain >>= 2;
        const std::int32_t limit = pos_ - kWindow;  // distances stay below the window size
        const std::int32_t maxLen = std::min<std::int32_t>(kMaxMatch, lookahead);
        const std::int32_t nice = std::min<std::int32_t>(kNiceLength, maxLen);
        std::int32_t best = prevLen;
        const std::uint8_t* s = &buf_[pos_];
        while (cur > limit && cur < pos_) {
            const std::uint8_t* m = &buf_[cur];
            if (best < maxLen && m[best] == s[best] && m[0] == s[0] && m[1] == s[1]) {
                std::int32_t l = 0;
                while (l < maxLen) {
                    std::uint64_t a, b;
                    std::memcpy(&a, m + l, 8);
                    std::memcpy(&b, s + l, 8);
                    std::uint64_t x = a ^ b;
                    if (x) { l += __builtin_ctzll(x) >> 3; break; }
                    l += 8;
                }
                if (l > maxLen) l = maxLen;
                if (l > best) {
                    best = l;
                    *matchPos = cur;
                    if (l >= nice) break;
                }
            }
            if (--chain == 0) break;
            std::int32_t next = prev_[cur & kWindowMask];
            if (next >= cur) break;
            cur = next;
        }
        return best > prevLen ? best : kMinMatch - 1;
    }

    bool emitLiteral(std::uint8_t c) {
        codes_.push_back(c);
        offsets_.push_back(0);
        return codes_.size() < kBlockTokens || flushBlock();
    }
    bool emitMatch(std::int32_t len, std::int32_t offset) {
        codes_.push_back(static_cast<std::uint16_t>(256 + len - kMinMatch));
        offsets_.push_back(static_cast<std::uint16_t>(offset));
        return codes_.size() < kBlockTokens || flushBlock();
    }

    static int positionClass(std::uint32_t offset) { return offset ? 32 - __builtin_clz(offset) : 0; }

    // Huffman codes of one block of tokens.
    struct BlockCode {
        std::uint32_t cFreq[kNC] = {}, pFreq[kNP] = {}, tFreq[kNT] = {};
        std::uint8_t cLen[kNC], pLen[kNP], tLen[kNT];
        std::uint16_t cCode[kNC] = {}, pCode[kNP] = {}, tCode[kNT] = {};
        int cUsed = 0, pUsed = 0, tUsed = 0, cSingle = 0, pSingle = 0, tSingle = 0, n = 0;
    };

    // Counts bits instead of writing them (cost estimates).
    struct BitCounter {
        std::uint64_t bits = 0;
        void put(int n, std::uint32_t) { bits += static_cast<std::uint64_t>(n); }
    };

    // Visits the code-length symbols of the literal/length table: 0 one
    // zero, 1 a run of 3..18 zeros, 2 a run of 20..531 zeros, k+2 length k.
    template <typename Emit>
    static void ForEachLengthSymbol(const BlockCode& bc, Emit&& emit) {
        int i = 0;
        while (i < bc.n) {
            int k = bc.cLen[i++];
            if (k == 0) {
                int run = 1;
                while (i < bc.n && bc.cLen[i] == 0) { ++i; ++run; }
                if (run <= 2) { for (int r = 0; r < run; ++r) emit(0, -1); }
                else if (run <= 18) emit(1, run - 3);
                else if (run == 19) { emit(0, -1); emit(1, 15); }
                else emit(2, run - 20);
            } else {
                emit(k + 2, -1);
            }
        }
    }

    void prepare(std::size_t b, std::size_t e, BlockCode& bc) const {
        for (std::size_t i = b; i < e; ++i) {
            ++bc.cFreq[codes_[i]];
            if (codes_[i] >= 256) ++bc.pFreq[positionClass(offsets_[i])];
        }
        bc.cUsed = BuildLengths(bc.cFreq, kNC, kMaxCodeBits, bc.cLen, &bc.cSingle);
        bc.pUsed = BuildLengths(bc.pFreq, kNP, kMaxCodeBits, bc.pLen, &bc.pSingle);
        BuildCodes(bc.cLen, kNC, bc.cCode);
        BuildCodes(bc.pLen, kNP, bc.pCode);
        bc.n = kNC;
        while (bc.n > 0 && bc.cLen[bc.n - 1] == 0) --bc.n;
        ForEachLengthSymbol(bc, [&](int sym, int) { ++bc.tFreq[sym]; });
        bc.tUsed = BuildLengths(bc.tFreq, kNT, kMaxCodeBits, bc.tLen, &bc.tSingle);
        BuildCodes(bc.tLen, kNT, bc.tCode);
    }

    template <typename Out>
    static void WritePtLengths(Out& out, const std::uint8_t* len, int nn, int nbit, int special) {
        int n = nn;
        while (n > 0 && len[n - 1] == 0) --n;
        out.put(nbit, static_cast<std::uint32_t>(n));
        int i = 0;
        while (i < n) {
            int k = len[i++];
            if (k <= 6) out.put(3, static_cast<std::uint32_t>(k));
            else out.put(k - 3, (1u << (k - 3)) - 2);
            if (i == special) {
                while (i < 6 && len[i] == 0) ++i;
                out.put(2, static_cast<std::uint32_t>((i - 3) & 3));
            }
        }
    }

    // Block size and the three tables.
    template <typename Out>
    static void WriteBlockHead(Out& out, std::size_t count, const BlockCode& bc) {
        out.put(16, static_cast<std::uint32_t>(count));
        if (bc.cUsed <= 1) {
            out.put(kTBits, 0);
            out.put(kTBits, 0);
            out.put(kCBits, 0);
            out.put(kCBits, static_cast<std::uint32_t>(bc.cSingle));
        } else {
            if (bc.tUsed <= 1) {
                out.put(kTBits, 0);
                out.put(kTBits, static_cast<std::uint32_t>(bc.tSingle));
            } else {
                WritePtLengths(out, bc.tLen, kNT, kTBits, 3);
            }
            out.put(kCBits, static_cast<std::uint32_t>(bc.n));
            ForEachLengthSymbol(bc, [&](int sym, int extra) {
                if (bc.tLen[sym]) out.put(bc.tLen[sym], bc.tCode[sym]);
                if (sym == 1) out.put(4, static_cast<std::uint32_t>(extra));
                else if (sym == 2) out.put(kCBits, static_cast<std::uint32_t>(extra));
            });
        }
        if (bc.pUsed <= 1) {
            out.put(kPBits, 0);
            out.put(kPBits, static_cast<std::uint32_t>(bc.pSingle));
        } else {
            WritePtLengths(out, bc.pLen, kNP, kPBits, -1);
        }
    }

    std::uint64_t cost(std::size_t b, std::size_t e) const {
        auto bc = std::make_unique<BlockCode>();
        prepare(b, e, *bc);
        BitCounter counter;
        WriteBlockHead(counter, e - b, *bc);
        std::uint64_t bits = counter.bits;
        for (int c = 0; c < kNC; ++c) bits += static_cast<std::uint64_t>(bc->cFreq[c]) * bc->cLen[c];
        for (int p = 0; p < kNP; ++p) bits += static_cast<std::uint64_t>(bc->pFreq[p]) * (bc->pLen[p] + (p > 1 ? p - 1 : 0));
        return bits;
    }

    // Splits [b, e) in halves while that makes the coded size smaller, so
    // that each block's codes fit the statistics of its part of the data.
    void plan(std::size_t b, std::size_t e, std::vector<std::pair<std::size_t, std::size_t>>& blocks) const {
        if (e - b >= 2 * kMinBlockTokens) {
            std::size_t m = b + (e - b) / 2;
            if (cost(b, m) + cost(m, e) < cost(b, e)) {
                plan(b, m, blocks);
                plan(m, e, blocks);
                return;
            }
        }
        blocks.emplace_back(b, e);
    }

    bool writeBlock(std::size_t b, std::size_t e) {
        auto bc = std::make_unique<BlockCode>();
        prepare(b, e, *bc);
        WriteBlockHead(out_, e - b, *bc);
        for (std::size_t i = b; i < e; ++i) {
            std::uint16_t c = codes_[i];
            if (bc->cLen[c]) out_.put(bc->cLen[c], bc->cCode[c]);
            if (c >= 256) {
                std::uint32_t off = offsets_[i];
                int pc = positionClass(off);
                if (bc->pLen[pc]) out_.put(bc->pLen[pc], bc->pCode[pc]);
                if (pc > 1) out_.put(pc - 1, off);
            }
            if ((i & 1023) == 1023 && !out_.drain(false)) return false;
        }
        return out_.drain(false);
    }

    bool flushBlock() {
        std::vector<std::pair<std::size_t, std::size_t>> blocks;
        plan(0, codes_.size(), blocks);
        for (auto [b, e] : blocks)
            if (!writeBlock(b, e)) return false;
        codes_.clear();
        offsets_.clear();
        return true;
    }

    bool fill() {
        while (end_ < kBufSize && !eof_) {
            std::ptrdiff_t got = read_(&buf_[end_], static_cast<std::size_t>(kBufSize - end_));
            if (got < 0) { readFailed_ = true; return false; }
            if (got == 0) { eof_ = true; break; }
            crc_ = Crc16Update(crc_, &buf_[end_], static_cast<std::size_t>(got));
            total_ += static_cast<std::uint64_t>(got);
            end_ += static_cast<std::int32_t>(got);
        }
        std::memset(&buf_[end_], 0, 16);
        return true;
    }

    // Moves the data down; *matchPos (a pending match found before the
    // move) moves with it.
    bool slideAndFill(std::int32_t* matchPos) {
        // A whole number of windows, so that prev_ (indexed by position modulo
        // the window) stays in step.
        std::int32_t shift = ((pos_ - kWindow) / kWindow) * kWindow;
        if (shift > 0) {
            std::memmove(&buf_[0], &buf_[shift], static_cast<std::size_t>(end_ - shift));
            end_ -= shift;
            pos_ -= shift;
            *matchPos -= shift;
            for (auto& h : head_) h = h >= shift ? h - shift : kNil;
            for (auto& p : prev_) p = p >= shift ? p - shift : kNil;
        }
        return fill();
    }

    const ReadFn& read_;
    BitWriter& out_;
    std::vector<std::uint8_t> buf_;
    std::vector<std::int32_t> head_, prev_;
    std::vector<std::uint16_t> codes_, offsets_;
    std::int32_t pos_ = 0, end_ = 0;
    bool eof_ = false, readFailed_ = false;
    std::uint64_t total_ = 0;
    std::uint16_t crc_ = 0;
};

}  // namespace

EncodeResult EncodeLh5(const ReadFn& read, const WriteFn& write, std::uint64_t limit) {
    EncodeResult result;
    BitWriter out(write, limit);
    Encoder enc(read, out);
    bool ok = enc.run() && out.drain(true);
    result.originalSize = enc.originalSize();
    result.crc = enc.crc();
    result.compressedSize = out.total();
    if (!ok) {
        if (enc.readFailed()) result.status = EncodeResult::Status::ReadFailed;
        else if (out.exceeded()) result.status = EncodeResult::Status::NotSmaller;
        else result.status = EncodeResult::Status::WriteFailed;
    }
    return result;
}

}  // namespace tessel::lzh
