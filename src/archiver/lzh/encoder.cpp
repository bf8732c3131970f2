// -lh5- and -lh7- compression: LZ77 over an 8 KiB or 64 KiB window with a
// hash-chain matcher and lazy evaluation, then static Huffman coding per
// block of tokens. The two methods differ only in the window and in the
// position table (14 classes in 4 bits, or 17 in 5 bits).
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "archiver/lzh/codec.h"
#include "archiver/lzh/crc16.h"
#include "archiver/lzh/huffman.h"

namespace tessel::lzh {
namespace {

constexpr int kMaxDictBits = 16;
constexpr int kMaxMatch = 256;
constexpr int kMinMatch = 3;
constexpr int kNC = 256 + kMaxMatch - kMinMatch + 1;  // literals and lengths
static_assert(kNC <= kMaxSymbols);
constexpr int kMaxNP = kMaxDictBits + 1;               // position classes, at most
constexpr int kNT = kMaxCodeBits + 3;                  // code-length symbols
constexpr int kTBits = 5, kCBits = 9;
constexpr int kHashBits = 15;
constexpr std::int32_t kNil = -1;
constexpr std::int32_t kBufSize = 1 << 19;
constexpr std::int32_t kMinLookahead = kMaxMatch + kMinMatch + 1;
constexpr std::size_t kBlockTokens = 1 << 15;  // tokens gathered before planning blocks
constexpr std::size_t kMinBlockTokens = 1024;

// Matcher tuning, per window: the small window searches deeper to make up
// for its size; the large one about as deep as gzip -6.
struct Tuning {
    int maxChain, goodLength, niceLength, maxLazy;
};
constexpr Tuning kSmallWindowTuning{256, 8, 256, 32};
constexpr Tuning kLargeWindowTuning{32, 8, 64, 8};
// Data whose first kProbeTokens tokens code to more than this share of
// their bytes (in 1/1024) is taken as incompressible and stored instead.
constexpr std::size_t kProbeTokens = 4096;
constexpr std::uint64_t kIncompressibleShare = 1000;
constexpr std::int32_t kMaxInsertLength = 256;
constexpr std::int32_t kTooFar = 1024;

class BitWriter {
public:
    explicit BitWriter(const WriteFn& write, std::uint64_t limit) : write_(write), limit_(limit) { out_.reserve(1 << 17); }
    // Bits go out most significant first; whole 32-bit words leave the
    // accumulator at once.
    void put(int n, std::uint32_t v) {
        acc_ = (acc_ << n) | (v & ((1u << n) - 1));
        bits_ += n;
        if (bits_ >= 32) {
            bits_ -= 32;
            const auto w = static_cast<std::uint32_t>(acc_ >> bits_);
            const std::uint8_t b[4] = {static_cast<std::uint8_t>(w >> 24), static_cast<std::uint8_t>(w >> 16),
                                       static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w)};
            out_.insert(out_.end(), b, b + 4);
        }
    }
    bool drain(bool final) {
        if (final) {
            while (bits_ >= 8) {
                bits_ -= 8;
                out_.push_back(static_cast<std::uint8_t>(acc_ >> bits_));
            }
            if (bits_ > 0) out_.push_back(static_cast<std::uint8_t>(acc_ << (8 - bits_)));
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
    std::uint64_t limit() const { return limit_; }
    // Bits produced so far, written or not.
    std::uint64_t bits() const { return (total_ + out_.size()) * 8 + static_cast<std::uint64_t>(bits_); }
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

// The matcher's large tables, kept per thread from one member to the next:
// fresh ones cost a megabyte of zero-filling and page faults per member,
// however small the file. An encoder leaves the heads empty, as a fresh
// one would find them; the buffer and the links are read only where the
// member being encoded wrote them. So the output never depends on what the
// thread encoded before.
struct MatcherTables {
    std::vector<std::uint8_t> buf;
    std::vector<std::int32_t> head;
    std::vector<std::uint16_t> prev;
    bool inUse = false;
};
thread_local MatcherTables tTables;

class Encoder {
public:
    Encoder(int dictBits, const ReadFn& read, BitWriter& out)
        : window_(1 << dictBits), windowMask_(window_ - 1), np_(dictBits + 1), pbits_(dictBits <= 13 ? 4 : 5),
          tune_(dictBits <= 13 ? kSmallWindowTuning : kLargeWindowTuning), read_(read), out_(out),
          own_(tTables.inUse ? std::make_unique<MatcherTables>() : nullptr), tables_(own_ ? *own_ : tTables),
          buf_(tables_.buf), head_(tables_.head), prev_(tables_.prev) {
        if (buf_.size() != kBufSize + 16) buf_.assign(kBufSize + 16, 0);
        if (head_.size() != 1u << kHashBits) head_.assign(1 << kHashBits, kNil);
        if (prev_.size() != static_cast<std::size_t>(window_)) prev_.assign(static_cast<std::size_t>(window_), 0);
        tables_.inUse = true;
        codes_.reserve(kBlockTokens);
        offsets_.reserve(kBlockTokens);
    }

    ~Encoder() {
        // Only the heads need emptying: a chain is entered from a head and
        // each link was written when its position was entered. Only
        // positions up to pos_ with kMinMatch bytes ahead were entered;
        // unless the data moved, their heads are found again by their hash,
        // which is quicker than emptying the whole table for a few.
        const std::int32_t entered = std::min(pos_ + 1, end_ - kMinMatch + 1);
        if (slid_ || entered > (1 << kHashBits) / 8) {
            std::fill(head_.begin(), head_.end(), kNil);
        } else {
            for (std::int32_t p = 0; p < entered; ++p) head_[hashAt(p)] = kNil;
        }
        tables_.inUse = false;
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

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
            if (candidate != kNil && prevLen < tune_.maxLazy && pos_ - candidate < window_) {
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
    // The whole input, when it all fit in the buffer; else null.
    const std::uint8_t* wholeInput() const { return eof_ && !slid_ ? buf_.data() : nullptr; }
    bool incompressible() const { return incompressible_; }
    void skipProbe() { probed_ = true; }
    std::uint16_t crc() const { return crc_; }
    bool readFailed() const { return readFailed_; }

private:
    std::uint32_t hashAt(std::int32_t p) const {
        std::uint32_t v;
        std::memcpy(&v, &buf_[p], 4);
        return (v * 2654435761u) >> (32 - kHashBits);
    }
    std::int32_t insert(std::int32_t p) {
        std::uint32_t h = hashAt(p);
        std::int32_t old = head_[h];
        const std::int32_t d = p - old;
        prev_[p & windowMask_] = static_cast<std::uint16_t>(old == kNil || d >= window_ ? 0 : d);
        head_[h] = p;
        return old;
    }

    std::int32_t longestMatch(std::int32_t cur, std::int32_t prevLen, std::int32_t lookahead, std::int32_t* matchPos) {
        int chain = tune_.maxChain;
        if (prevLen >= tune_.goodLength) chain >>= 2;
        // Distances stay below the window size, and the chain's end (kNil)
        // is never taken for a position before the buffer.
        const std::int32_t limit = std::max(pos_ - window_, kNil);
        const std::int32_t maxLen = std::min<std::int32_t>(kMaxMatch, lookahead);
        const std::int32_t nice = std::min<std::int32_t>(tune_.niceLength, maxLen);
        std::int32_t best = prevLen;
        const std::uint8_t* s = &buf_[pos_];
        while (cur > limit && cur < pos_) {
            // The next link is loaded before the compare below, whose
            // branch is often mispredicted, so that its latency overlaps.
            const std::uint16_t d = prev_[cur & windowMask_];
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
            if (d == 0) break;
            cur -= d;
        }
        return best > prevLen ? best : kMinMatch - 1;
    }

    bool emitLiteral(std::uint8_t c) {
        ++tokenBytes_;
        codes_.push_back(c);
        offsets_.push_back(0);
        return afterToken();
    }
    bool emitMatch(std::int32_t len, std::int32_t offset) {
        tokenBytes_ += static_cast<std::uint64_t>(len);
        codes_.push_back(static_cast<std::uint16_t>(256 + len - kMinMatch));
        offsets_.push_back(static_cast<std::uint16_t>(offset));
        return afterToken();
    }
    bool afterToken() {
        if (!probed_ && codes_.size() == kProbeTokens && !probe()) return false;
        return codes_.size() < kBlockTokens || flushBlock();
    }

    static int positionClass(std::uint32_t offset) { return offset ? 32 - __builtin_clz(offset) : 0; }

    // Huffman codes of one block of tokens.
    struct BlockCode {
        std::uint32_t cFreq[kNC] = {}, pFreq[kMaxNP] = {}, tFreq[kNT] = {};
        std::uint8_t cLen[kNC], pLen[kMaxNP], tLen[kNT];
        std::uint16_t cCode[kNC] = {}, pCode[kMaxNP] = {}, tCode[kNT] = {};
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

    // Counts the tokens of [b, e) and builds the code lengths; the codes
    // themselves only when the block is to be written.
    void prepare(std::size_t b, std::size_t e, BlockCode& bc, bool withCodes = true) const {
        for (std::size_t i = b; i < e; ++i) {
            ++bc.cFreq[codes_[i]];
            if (codes_[i] >= 256) ++bc.pFreq[positionClass(offsets_[i])];
        }
        bc.cUsed = BuildLengths(bc.cFreq, kNC, kMaxCodeBits, bc.cLen, &bc.cSingle);
        bc.pUsed = BuildLengths(bc.pFreq, np_, kMaxCodeBits, bc.pLen, &bc.pSingle);
        if (withCodes) {
            BuildCodes(bc.cLen, kNC, bc.cCode);
            BuildCodes(bc.pLen, np_, bc.pCode);
        }
        bc.n = kNC;
        while (bc.n > 0 && bc.cLen[bc.n - 1] == 0) --bc.n;
        ForEachLengthSymbol(bc, [&](int sym, int) { ++bc.tFreq[sym]; });
        bc.tUsed = BuildLengths(bc.tFreq, kNT, kMaxCodeBits, bc.tLen, &bc.tSingle);
        if (withCodes) BuildCodes(bc.tLen, kNT, bc.tCode);
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
    void writeBlockHead(Out& out, std::size_t count, const BlockCode& bc) const {
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
            out.put(pbits_, 0);
            out.put(pbits_, static_cast<std::uint32_t>(bc.pSingle));
        } else {
            WritePtLengths(out, bc.pLen, np_, pbits_, -1);
        }
    }

    std::uint64_t cost(std::size_t b, std::size_t e) const {
        auto bc = std::make_unique<BlockCode>();
        prepare(b, e, *bc, false);
        BitCounter counter;
        writeBlockHead(counter, e - b, *bc);
        std::uint64_t bits = counter.bits;
        for (int c = 0; c < kNC; ++c) bits += static_cast<std::uint64_t>(bc->cFreq[c]) * bc->cLen[c];
        for (int p = 0; p < np_; ++p) bits += static_cast<std::uint64_t>(bc->pFreq[p]) * (bc->pLen[p] + (p > 1 ? p - 1 : 0));
        return bits;
    }

    struct PlannedBlock {
        std::size_t b, e;
        std::uint64_t bits;  // its coded size
    };
    // Splits [b, e), which codes to `bits`, in halves while that makes the
    // coded size smaller, so that each block's codes fit the statistics of
    // its part of the data.
    void plan(std::size_t b, std::size_t e, std::uint64_t bits, std::vector<PlannedBlock>& blocks) const {
        if (e - b >= 2 * kMinBlockTokens) {
            const std::size_t m = b + (e - b) / 2;
            const std::uint64_t left = cost(b, m), right = cost(m, e);
            if (left + right < bits) {
                plan(b, m, left, blocks);
                plan(m, e, right, blocks);
                return;
            }
        }
        blocks.push_back({b, e, bits});
    }

    bool writeBlock(std::size_t b, std::size_t e) {
        auto bc = std::make_unique<BlockCode>();
        prepare(b, e, *bc);
        writeBlockHead(out_, e - b, *bc);
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

    // Codes the tokens gathered so far, or gives up without writing them
    // when the output could no longer end smaller than the limit.
    bool flushBlock() {
        std::vector<PlannedBlock> blocks;
        plan(0, codes_.size(), cost(0, codes_.size()), blocks);
        std::uint64_t bits = out_.bits();
        for (const auto& block : blocks) bits += block.bits;
        if (bits / 8 >= out_.limit()) {
            incompressible_ = true;
            return false;
        }
        for (const auto& block : blocks)
            if (!writeBlock(block.b, block.e)) return false;
        codes_.clear();
        offsets_.clear();
        return true;
    }

    // The cheap test on the first tokens of the input: when they do not
    // shrink, the rest is taken to be no better and is not worked on.
    bool probe() {
        probed_ = true;
        if (cost(0, codes_.size()) / 8 * 1024 > tokenBytes_ * kIncompressibleShare) incompressible_ = true;
        return !incompressible_;
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
        std::int32_t shift = ((pos_ - window_) / window_) * window_;
        if (shift > 0) {
            slid_ = true;
            std::memmove(&buf_[0], &buf_[shift], static_cast<std::size_t>(end_ - shift));
            end_ -= shift;
            pos_ -= shift;
            *matchPos -= shift;
            for (auto& h : head_) h = h >= shift ? h - shift : kNil;
        }
        return fill();
    }

    const std::int32_t window_, windowMask_;
    const int np_, pbits_;
    const Tuning tune_;
    const ReadFn& read_;
    BitWriter& out_;
    std::unique_ptr<MatcherTables> own_;  // when the thread's tables are taken
    MatcherTables& tables_;
    std::vector<std::uint8_t>& buf_;
    std::vector<std::int32_t>& head_;
    std::vector<std::uint16_t>& prev_;
    bool slid_ = false;
    std::vector<std::uint16_t> codes_, offsets_;
    std::int32_t pos_ = 0, end_ = 0;
    bool eof_ = false, readFailed_ = false, probed_ = false, incompressible_ = false;
    std::uint64_t tokenBytes_ = 0;  // input bytes the tokens so far cover
    std::uint64_t total_ = 0;
    std::uint16_t crc_ = 0;
};

}  // namespace

EncodeResult EncodeLh(int dictBits, const ReadFn& read, const WriteFn& write, std::uint64_t limit, const WriteFn* store,
                      bool probe) {
    EncodeResult result;
    if (dictBits != 13 && dictBits != 16) {
        result.status = EncodeResult::Status::WriteFailed;
        return result;
    }
    BitWriter out(write, limit);
    auto enc = std::make_unique<Encoder>(dictBits, read, out);
    if (!probe) enc->skipProbe();
    bool ok = enc->run() && out.drain(true);
    result.originalSize = enc->originalSize();
    result.crc = enc->crc();
    result.compressedSize = out.total();
    if (!ok) {
        if (enc->readFailed()) result.status = EncodeResult::Status::ReadFailed;
        else if (out.exceeded() || enc->incompressible()) result.status = EncodeResult::Status::NotSmaller;
        else result.status = EncodeResult::Status::WriteFailed;
    }
    if (result.status == EncodeResult::Status::NotSmaller && store && enc->wholeInput()) {
        result.stored = true;
        result.compressedSize = result.originalSize;
        if (!(*store)(enc->wholeInput(), static_cast<std::size_t>(result.originalSize)))
            result.status = EncodeResult::Status::WriteFailed;
    }
    return result;
}

}  // namespace tessel::lzh
