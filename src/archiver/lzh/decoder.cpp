// Decoding of -lh5-, -lh6- and -lh7- data. Every length read from the
// stream is checked, so damaged input ends in Corrupt, never in a read or
// write outside the buffers.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "archiver/lzh/codec.h"
#include "archiver/lzh/crc16.h"
#include "archiver/lzh/huffman.h"

namespace tessel::lzh {
namespace {

constexpr int kMaxMatch = 256;
constexpr int kMinMatch = 3;
constexpr int kNC = 256 + kMaxMatch - kMinMatch + 1;
constexpr int kNT = kMaxCodeBits + 3;
constexpr int kTBits = 5, kCBits = 9;
constexpr std::size_t kDict = 1u << 16;     // the largest dictionary (-lh7-)
constexpr std::size_t kChunk = 1u << 20;     // output gathered before each write
constexpr std::size_t kInChunk = 1u << 16;

class BitReader {
public:
    BitReader(const ReadFn& read, std::uint64_t size) : read_(read), left_(size) { in_.resize(kInChunk + 8); }

    // Makes at least 32 bits available in the buffer (zeros past the end,
    // which counts as overrun).
    void refill() {
        if (bits_ >= 32) return;
        if (end_ - p_ >= 8) {
            std::uint64_t v;
            std::memcpy(&v, in_.data() + p_, 8);
            v = __builtin_bswap64(v);
            buf_ |= v >> bits_;
            int take = (63 - bits_) >> 3;
            p_ += static_cast<std::size_t>(take);
            bits_ += take * 8;
            return;
        }
        while (bits_ <= 56) {
            if (p_ == end_ && !load()) {
                overrun_ += 1;
                bits_ += 8;
                continue;
            }
            buf_ |= static_cast<std::uint64_t>(in_[p_++]) << (56 - bits_);
            bits_ += 8;
        }
    }
    std::uint32_t peek16() const { return static_cast<std::uint32_t>(buf_ >> 48); }
    void skip(int n) {
        buf_ <<= n;
        bits_ -= n;
    }
    std::uint32_t get(int n) {  // n <= 16
        if (n == 0) return 0;
        refill();
        std::uint32_t v = static_cast<std::uint32_t>(buf_ >> (64 - n));
        skip(n);
        return v;
    }
    // More than a few bytes past the end means the data is damaged (the last
    // refill may look ahead by up to eight bytes).
    bool overrun() const { return overrun_ > 8 || failed_; }
    bool failed() const { return failed_; }

private:
    bool load() {
        if (left_ == 0 || failed_) return false;
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left_, kInChunk));
        std::ptrdiff_t got = read_(in_.data(), want);
        if (got <= 0) { failed_ = true; return false; }
        left_ -= static_cast<std::uint64_t>(got);
        p_ = 0;
        end_ = static_cast<std::size_t>(got);
        return true;
    }

    const ReadFn& read_;
    std::uint64_t left_;
    std::vector<std::uint8_t> in_;
    std::size_t p_ = 0, end_ = 0;
    std::uint64_t buf_ = 0;
    int bits_ = 0;
    std::uint64_t overrun_ = 0;
    bool failed_ = false;
};

class Decoder {
public:
    Decoder(int dictBits, const ReadFn& read, std::uint64_t compressedSize, const WriteFn& write)
        : np_(dictBits + 1), pbits_(dictBits <= 13 ? 4 : 5), dictSize_(1u << dictBits), in_(read, compressedSize), write_(write) {
        // Only the dictionary needs a defined start: references before the
        // first byte read spaces, as LHA defines it.
        out_.reset(new std::uint8_t[kDict + kChunk + kMaxMatch + 16]);
        std::memset(out_.get(), ' ', kDict);
    }

    DecodeStatus run(std::uint64_t originalSize, std::uint16_t* crcOut) {
        std::size_t pos = kDict, flushed = kDict;
        std::uint64_t remaining = originalSize;
        std::uint32_t blockLeft = 0;
        std::uint8_t* out = out_.get();
        while (remaining > 0) {
            if (blockLeft == 0) {
                blockLeft = in_.get(16);
                if (blockLeft == 0 || !readTables()) return corrupt();
                if (in_.overrun()) return corrupt();
            }
            --blockLeft;
            in_.refill();
            int bits;
            int c = cTable_.decode(in_.peek16(), &bits);
            if (c < 0) return corrupt();
            in_.skip(bits);
            if (c < 256) {
                out[pos++] = static_cast<std::uint8_t>(c);
                --remaining;
            } else {
                std::size_t len = static_cast<std::size_t>(c - 256 + kMinMatch);
                in_.refill();
                int pc = pTable_.decode(in_.peek16(), &bits);
                if (pc < 0) return corrupt();
                in_.skip(bits);
                std::uint32_t off = pc <= 1 ? static_cast<std::uint32_t>(pc) : (1u << (pc - 1)) + in_.get(pc - 1);
                std::size_t dist = static_cast<std::size_t>(off) + 1;
                if (dist > dictSize_) return corrupt();
                if (len > remaining) len = static_cast<std::size_t>(remaining);
                remaining -= len;
                std::uint8_t* d = out + pos;
                const std::uint8_t* s = d - dist;
                if (dist >= 8) {
                    for (std::size_t k = 0; k < len; k += 8) std::memcpy(d + k, s + k, 8);
                } else {
                    for (std::size_t k = 0; k < len; ++k) d[k] = s[k];
                }
                pos += len;
            }
            if (pos >= kDict + kChunk) {
                if (!flush(flushed, pos)) return DecodeStatus::WriteFailed;
                if (in_.overrun()) return corrupt();
                std::memmove(out, out + pos - kDict, kDict);
                pos = flushed = kDict;
            }
        }
        if (!flush(flushed, pos)) return DecodeStatus::WriteFailed;
        if (in_.overrun()) return corrupt();
        *crcOut = crc_;
        return DecodeStatus::Ok;
    }

private:
    DecodeStatus corrupt() const { return in_.failed() ? DecodeStatus::ReadFailed : DecodeStatus::Corrupt; }

    bool flush(std::size_t from, std::size_t to) {
        if (to <= from) return true;
        crc_ = Crc16Update(crc_, out_.get() + from, to - from);
        return write_(out_.get() + from, to - from);
    }

    // Code lengths of the small tables (code-length symbols and positions).
    bool readPtLengths(int nn, int nbit, int special, DecodeTable& table) {
        int n = static_cast<int>(in_.get(nbit));
        if (n == 0) {
            int c = static_cast<int>(in_.get(nbit));
            if (c >= nn) return false;
            table.buildSingle(c);
            return true;
        }
        if (n > nn) return false;
        std::uint8_t len[32] = {};
        int i = 0;
        while (i < n) {
            in_.refill();
            std::uint32_t top = in_.peek16();
            int c = static_cast<int>(top >> 13);
            if (c == 7) {
                std::uint32_t mask = 1u << 12;
                while (mask & top) {
                    mask >>= 1;
                    ++c;
                }
                if (c > kMaxCodeBits) return false;
                in_.skip(c - 3);
            } else {
                in_.skip(3);
            }
            len[i++] = static_cast<std::uint8_t>(c);
            if (i == special) {
                int z = static_cast<int>(in_.get(2));
                if (i + z > nn) return false;
                while (z-- > 0) len[i++] = 0;
            }
        }
        return table.build(len, nn);
    }

    bool readCLengths() {
        int n = static_cast<int>(in_.get(kCBits));
        if (n == 0) {
            int c = static_cast<int>(in_.get(kCBits));
            if (c >= kNC) return false;
            cTable_.buildSingle(c);
            return true;
        }
        if (n > kNC) return false;
        std::uint8_t len[kNC] = {};
        int i = 0;
        while (i < n) {
            in_.refill();
            int bits;
            int c = tTable_.decode(in_.peek16(), &bits);
            if (c < 0) return false;
            in_.skip(bits);
            if (c <= 2) {
                int run = c == 0 ? 1 : c == 1 ? static_cast<int>(in_.get(4)) + 3 : static_cast<int>(in_.get(kCBits)) + 20;
                if (i + run > kNC) return false;
                while (run-- > 0) len[i++] = 0;
            } else {
                len[i++] = static_cast<std::uint8_t>(c - 2);
            }
        }
        return cTable_.build(len, kNC);
    }

    bool readTables() {
        return readPtLengths(kNT, kTBits, 3, tTable_) && readCLengths() && readPtLengths(np_, pbits_, -1, pTable_);
    }

    int np_, pbits_;
    std::size_t dictSize_;
    BitReader in_;
    const WriteFn& write_;
    std::unique_ptr<std::uint8_t[]> out_;
    DecodeTable tTable_, cTable_, pTable_;
    std::uint16_t crc_ = 0;
};

}  // namespace

DecodeStatus DecodeLh(int dictBits, const ReadFn& read, std::uint64_t compressedSize, std::uint64_t originalSize,
                      const WriteFn& write, std::uint16_t* crc) {
    if (dictBits < 13 || dictBits > 16) return DecodeStatus::Corrupt;
    auto dec = std::make_unique<Decoder>(dictBits, read, compressedSize, write);
    return dec->run(originalSize, crc);
}

}  // namespace tessel::lzh
