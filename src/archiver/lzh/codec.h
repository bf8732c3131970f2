#pragma once
// The compressed data formats of LHA members: -lh5- and -lh7- written;
// -lh5-, -lh6- and -lh7- read (they differ only in dictionary size). Data flows through
// callbacks so that members of any size stream without being held in memory.
#include <cstddef>
#include <cstdint>
#include <functional>

namespace tessel::lzh {

// Fills buf with up to size bytes; returns the count, 0 at the end, -1 on error.
using ReadFn = std::function<std::ptrdiff_t(void* buf, std::size_t size)>;
// Takes size bytes; false stops the work (the caller's sink failed).
using WriteFn = std::function<bool(const void* buf, std::size_t size)>;

struct EncodeResult {
    enum class Status { Ok, ReadFailed, WriteFailed, NotSmaller } status = Status::Ok;
    std::uint64_t originalSize = 0;
    std::uint64_t compressedSize = 0;
    std::uint16_t crc = 0;  // CRC-16 of the original bytes read
    bool stored = false;    // NotSmaller, and the input went to `store` as it is
};

// Compresses everything read from `read` into `write` with dictionary size
// 2^dictBits: 13 for -lh5-, 16 for -lh7- (any other value fails at once).
// Gives up with NotSmaller, before writing the block that would get there,
// as soon as the output could no longer end below `limit` bytes, or when the
// first few thousand tokens do not shrink (a cheap test that spares the work
// on data already compressed); the caller then stores the member instead.
// The output depends on the input bytes alone (not on how `read` splits
// them), so the same file always gives the same member.
// When it gives up having read the whole input into its buffer (inputs of up
// to 512 KiB), it hands those bytes to `store` in one call, if given, and
// sets `stored`: the caller stores them without reading the input again.
// With probe off, the first tokens are not taken for the rest: for input
// known to hold runs that shrink later (a file with holes, or mostly zero
// bytes further on), where only the limit decides.
EncodeResult EncodeLh(int dictBits, const ReadFn& read, const WriteFn& write, std::uint64_t limit,
                      const WriteFn* store = nullptr, bool probe = true);

enum class DecodeStatus { Ok, Corrupt, ReadFailed, WriteFailed };

// Decodes one member compressed with dictionary size 2^dictBits (13 for
// -lh5-, 15 for -lh6-, 16 for -lh7-). `read` delivers the compressed bytes;
// never more than compressedSize of them are consumed. Exactly originalSize
// bytes go to `write`; *crc receives their CRC-16.
DecodeStatus DecodeLh(int dictBits, const ReadFn& read, std::uint64_t compressedSize,
                      std::uint64_t originalSize, const WriteFn& write, std::uint16_t* crc);

}  // namespace tessel::lzh
