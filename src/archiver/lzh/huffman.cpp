#include "archiver/lzh/huffman.h"

#include <algorithm>
#include <vector>

namespace tessel::lzh {

int BuildLengths(const std::uint32_t* freq, int n, int maxBits, std::uint8_t* len, int* single) {
    std::fill(len, len + n, 0);
    // Symbols in use, at most kMaxSymbols; the tables below live on the stack.
    int used[kMaxSymbols];
    int leaves = 0;
    for (int i = 0; i < n; ++i)
        if (freq[i]) used[leaves++] = i;
    *single = leaves == 0 ? 0 : used[0];
    if (leaves < 2) return leaves;

    // Plain Huffman tree; depth of every leaf. Two queues stand in for a
    // priority queue: the leaves sorted by weight, and the inner nodes,
    // which are made in order of weight. On equal weights a leaf goes
    // first, and within a queue the lower index, as a heap ordered by
    // (weight, index) would take them.
    int parent[2 * kMaxSymbols];
    std::uint64_t weight[2 * kMaxSymbols];
    // Leaves by rising (weight, index), packed into one integer each: the
    // weights come from 32-bit counts and the index takes the low bits.
    constexpr int kIndexBits = 10;
    static_assert(kMaxSymbols <= 1 << kIndexBits);
    std::uint64_t sorted[kMaxSymbols];
    for (int i = 0; i < leaves; ++i) {
        weight[i] = freq[used[i]];
        sorted[i] = weight[i] << kIndexBits | static_cast<std::uint64_t>(i);
    }
    std::sort(sorted, sorted + leaves);
    auto weightOf = [](std::uint64_t key) { return key >> kIndexBits; };
    auto leafOf = [](std::uint64_t key) { return static_cast<int>(key & ((1u << kIndexBits) - 1)); };
    int nextLeaf = 0, nextInner = leaves, next = leaves;
    auto take = [&] {
        if (nextLeaf < leaves && (nextInner == next || weightOf(sorted[nextLeaf]) <= weight[nextInner]))
            return leafOf(sorted[nextLeaf++]);
        return nextInner++;
    };
    for (int k = 1; k < leaves; ++k) {
        const int a = take();
        const int b = take();
        parent[a] = next;
        parent[b] = next;
        weight[next] = weight[a] + weight[b];
        ++next;
    }
    int depth[2 * kMaxSymbols];
    depth[next - 1] = 0;
    for (int i = next - 2; i >= 0; --i) depth[i] = depth[parent[i]] + 1;

    // Lengths per depth, clamped to maxBits, then repaired so that the code
    // stays complete (Kraft sum exactly 1).
    std::uint32_t count[kMaxCodeBits + 1] = {};
    for (int i = 0; i < leaves; ++i) ++count[std::min(depth[i], maxBits)];
    std::uint64_t kraft = 0;
    for (int b = 1; b <= maxBits; ++b) kraft += static_cast<std::uint64_t>(count[b]) << (maxBits - b);
    while (kraft > (1ull << maxBits)) {
        --count[maxBits];
        for (int b = maxBits - 1; b > 0; --b) {
            if (count[b]) {
                --count[b];
                count[b + 1] += 2;
                break;
            }
        }
        --kraft;
    }
    // The most frequent symbols get the shortest codes; equal frequencies
    // in symbol order. `sorted` holds the leaves by rising (weight, symbol):
    // taken from its end, run by run of equal weight, each run from its start.
    int b = 1;
    std::uint32_t left = count[1];
    for (int end = leaves; end > 0;) {
        int start = end - 1;
        while (start > 0 && weightOf(sorted[start - 1]) == weightOf(sorted[end - 1])) --start;
        for (int i = start; i < end; ++i) {
            while (left == 0) left = count[++b];
            len[used[leafOf(sorted[i])]] = static_cast<std::uint8_t>(b);
            --left;
        }
        end = start;
    }
    return leaves;
}

void BuildCodes(const std::uint8_t* len, int n, std::uint16_t* code) {
    std::uint32_t count[kMaxCodeBits + 1] = {};
    for (int i = 0; i < n; ++i) ++count[len[i]];
    count[0] = 0;
    std::uint32_t next[kMaxCodeBits + 2] = {};
    std::uint32_t c = 0;
    for (int b = 1; b <= kMaxCodeBits; ++b) {
        c = (c + count[b - 1]) << 1;
        next[b] = c;
    }
    for (int i = 0; i < n; ++i)
        if (len[i]) code[i] = static_cast<std::uint16_t>(next[len[i]]++);
}

void DecodeTable::buildSingle(int symbol) { single_ = symbol; }

bool DecodeTable::build(const std::uint8_t* len, int n) {
    single_ = -1;
    std::fill(std::begin(count_), std::end(count_), 0u);
    for (int i = 0; i < n; ++i) {
        if (len[i] > kMaxCodeBits) return false;
        if (len[i]) ++count_[len[i]];
    }
    std::uint64_t kraft = 0;
    for (int b = 1; b <= kMaxCodeBits; ++b) kraft += static_cast<std::uint64_t>(count_[b]) << (kMaxCodeBits - b);
    if (kraft > (1u << kMaxCodeBits)) return false;

    std::uint32_t code = 0, off = 0;
    for (int b = 1; b <= kMaxCodeBits; ++b) {
        code = (code + count_[b - 1]) << 1;
        if (b == 1) code = 0;
        first_[b] = code;
        offset_[b] = off;
        off += count_[b];
    }
    sorted_.assign(off, 0);
    std::uint32_t fill[kMaxCodeBits + 1] = {};
    std::fill(std::begin(fast_), std::end(fast_), kInvalid);
    for (int i = 0; i < n; ++i) {
        int b = len[i];
        if (!b) continue;
        std::uint32_t c = first_[b] + fill[b];
        sorted_[offset_[b] + fill[b]] = static_cast<std::uint16_t>(i);
        ++fill[b];
        if (b <= kFastBits) {
            std::uint32_t start = c << (kFastBits - b);
            std::uint32_t span = 1u << (kFastBits - b);
            for (std::uint32_t k = 0; k < span; ++k) fast_[start + k] = (static_cast<std::uint32_t>(i) << 8) | static_cast<std::uint32_t>(b);
        } else {
            fast_[c >> (b - kFastBits)] = kLong;
        }
    }
    return true;
}

int DecodeTable::decodeLong(std::uint32_t top16, int* bits) const {
    for (int b = kFastBits + 1; b <= kMaxCodeBits; ++b) {
        std::uint32_t c = top16 >> (16 - b);
        if (c - first_[b] < count_[b]) {
            *bits = b;
            return sorted_[offset_[b] + c - first_[b]];
        }
    }
    *bits = 0;
    return -1;
}

}  // namespace tessel::lzh
