#include "archiver/member_encoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "archiver/lzh/codec.h"
#include "archiver/lzh/crc16.h"
#include "archiver/unlha.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"

namespace tessel::archive {
namespace {

EncodedMember Failed(std::int32_t rc) {
    EncodedMember r;
    r.rc = rc;
    return r;
}

// Whether a large file holds what shrinks beyond its start: holes, or
// blocks of zero bytes sampled across it. Such a file is compressed to the
// end even when its first bytes do not shrink (a disk image with data up
// front, say).
bool ShrinksFurtherOn(int fd, const struct stat& st) {
    constexpr off_t kLarge = 16 << 20;
    if (st.st_size < kLarge) return false;
    if (static_cast<std::uint64_t>(st.st_blocks) * 512 + (1 << 20) < static_cast<std::uint64_t>(st.st_size)) return true;
    constexpr int kSamples = 32;
    constexpr std::size_t kSample = 4096;
    std::unique_ptr<char[]> buf(new char[kSample]);
    int zero = 0;
    for (int i = 1; i <= kSamples; ++i) {
        const off_t at = st.st_size / (kSamples + 1) * i;
        const ssize_t n = ::pread(fd, buf.get(), kSample, at);
        if (n <= 0) continue;
        bool allZero = true;
        for (ssize_t k = 0; k < n && allZero; ++k) allZero = buf[k] == 0;
        zero += allZero;
    }
    return zero * 4 >= kSamples;
}

}  // namespace

bool IsWritableMethod(const std::string& method) { return method == "-lh5-" || method == "-lh7-"; }

EncodedMember EncodeMember(const FileToAdd& f, const std::string& method, MemberOutput& out, const StopAsked& stopped) {
    if (!IsWritableMethod(method)) return Failed(kUnlhaBadCommand);
    // A path readers going by names refuse is stored only when asked for,
    // and never one that is not a plain relative path.
    if (f.memberPath.size() > 16000 || !IsSafeRelativePath(f.memberPath) ||
        (!f.byCatalogOnly && !lzh::IsSafeMemberPath(f.memberPath)))
        return Failed(kUnlhaRefusedPath);
    UniqueFd src(::open(f.source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (src.get() < 0) return Failed(kUnlhaCannotReadSource);
    struct stat st;
    if (::fstat(src.get(), &st) != 0 || !S_ISREG(st.st_mode)) return Failed(kUnlhaCannotReadSource);

    lzh::MemberAttributes attr;
    attr.path = f.memberPath;
    attr.mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    attr.mode = st.st_mode & 07777;
    const std::uint64_t statSize = static_cast<std::uint64_t>(st.st_size);
    const bool wide = statSize >= 0xFFFF0000ull;
    if (!out.begin(attr, wide)) return Failed(kUnlhaCannotWrite);

    bool writeFailed = false;
    lzh::WriteFn sink = [&](const void* buf, std::size_t n) {
        if (!out.data(buf, n)) { writeFailed = true; return false; }
        return true;
    };
    // A stop is looked at with every chunk read, so that a large file does
    // not hold up a stop for as long as it takes to compress it.
    bool stoppedHere = false;
    lzh::ReadFn source = [&](void* buf, std::size_t n) -> std::ptrdiff_t {
        if (stopped && stopped()) {
            stoppedHere = true;
            return -1;
        }
        for (;;) {
            ssize_t r = ::read(src.get(), buf, n);
            if (r < 0 && errno == EINTR) continue;
            return r;
        }
    };
    // Input the encoder gave up on, still in its buffer: stored from there.
    lzh::WriteFn store = [&](const void* buf, std::size_t n) {
        out.restart();
        return sink(buf, n);
    };
    EncodedMember result;
    result.method = method;
    lzh::EncodeResult enc;
    if (statSize > 0)
        enc = lzh::EncodeLh(method == "-lh5-" ? 13 : 16, source, sink, statSize, &store, !ShrinksFurtherOn(src.get(), st));
    else enc.status = lzh::EncodeResult::Status::NotSmaller;
    if (stoppedHere) return Failed(kUnlhaStopped);
    if (enc.status == lzh::EncodeResult::Status::ReadFailed) return Failed(kUnlhaCannotReadSource);
    if (enc.status == lzh::EncodeResult::Status::WriteFailed || writeFailed) return Failed(kUnlhaCannotWrite);
    if (enc.stored) {
        result.method = "-lh0-";
    } else if (enc.status == lzh::EncodeResult::Status::NotSmaller) {
        // Store the bytes as they are, read again from the start.
        result.method = "-lh0-";
        out.restart();
        if (::lseek(src.get(), 0, SEEK_SET) != 0) return Failed(kUnlhaCannotReadSource);
        enc = {};
        std::unique_ptr<char[]> buf(new char[1 << 18]);
        for (;;) {
            std::ptrdiff_t r = source(buf.get(), std::size_t{1} << 18);
            if (r < 0) return Failed(stoppedHere ? kUnlhaStopped : kUnlhaCannotReadSource);
            if (r == 0) break;
            enc.crc = lzh::Crc16Update(enc.crc, buf.get(), static_cast<std::size_t>(r));
            enc.originalSize += static_cast<std::uint64_t>(r);
            if (!out.data(buf.get(), static_cast<std::size_t>(r))) return Failed(kUnlhaCannotWrite);
        }
        enc.compressedSize = enc.originalSize;
    }
    // The member must be the file as its header describes it: a file that
    // was written to while it was read is refused, and the caller may try
    // again.
    struct stat after;
    if (::fstat(src.get(), &after) != 0 || after.st_size != st.st_size || enc.originalSize != statSize ||
        after.st_mtim.tv_sec != st.st_mtim.tv_sec || after.st_mtim.tv_nsec != st.st_mtim.tv_nsec ||
        after.st_ctim.tv_sec != st.st_ctim.tv_sec || after.st_ctim.tv_nsec != st.st_ctim.tv_nsec)
        return Failed(kUnlhaSourceChanged);
    if (!wide && (enc.originalSize >= 0xFFFFFFFFull || enc.compressedSize >= 0xFFFFFFFFull))
        return Failed(kUnlhaSourceChanged);  // the file grew past 4 GiB while being read
    result.compressedSize = enc.compressedSize;
    result.originalSize = enc.originalSize;
    result.crc = enc.crc;
    return result;
}

}  // namespace tessel::archive
