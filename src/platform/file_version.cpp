#include "platform/file_version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <optional>

#include "platform/positional_io.h"

namespace tessel {
namespace {

// Random access to the bytes of a file or of a memory image. Every read is
// checked against the size; a short or failed read is "no version".
class Source {
public:
    virtual ~Source() = default;
    virtual std::uint64_t size() const = 0;
    virtual bool read(std::uint64_t offset, void* out, std::size_t n) const = 0;

    std::optional<std::uint16_t> u16(std::uint64_t offset) const {
        unsigned char b[2];
        if (!read(offset, b, 2)) return std::nullopt;
        return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
    }
    std::optional<std::uint32_t> u32(std::uint64_t offset) const {
        unsigned char b[4];
        if (!read(offset, b, 4)) return std::nullopt;
        return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
               (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    }
};

class MemorySource final : public Source {
public:
    explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool read(std::uint64_t offset, void* out, std::size_t n) const override {
        if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
        std::memcpy(out, bytes_.data() + offset, n);
        return true;
    }

private:
    std::string_view bytes_;
};

class FileSource final : public Source {
public:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* out, std::size_t n) const override {
        if (offset > size_ || n > size_ - offset) return false;
        return ReadAllAt(fd_, offset, out, n);
    }

private:
    int fd_;
    std::uint64_t size_;
};

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kVsVersionInfoId = 1;
constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;
constexpr std::uint32_t kMaxSections = 96;  // the most the Windows loader accepts

struct Section {
    std::uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

class PeImage {
public:
    explicit PeImage(const Source& src) : src_(src) {}

    std::optional<FileVersion> version() {
        if (!parseHeaders()) return std::nullopt;
        auto root = fileOffset(resourceRva_, 16);
        if (!root) return std::nullopt;
        // type (RT_VERSION) -> name (prefer id 1) -> first language -> data entry.
        auto typeDir = findEntry(*root, *root, kRtVersion, true);
        if (!typeDir) return std::nullopt;
        auto nameDir = findEntry(*root, *typeDir, kVsVersionInfoId, true);
        if (!nameDir) nameDir = firstEntry(*root, *typeDir, true);
        if (!nameDir) return std::nullopt;
        auto dataEntry = firstEntry(*root, *nameDir, false);
        if (!dataEntry) return std::nullopt;
        auto dataRva = src_.u32(*dataEntry);
        auto dataSize = src_.u32(*dataEntry + 4);
        if (!dataRva || !dataSize) return std::nullopt;
        return fixedInfo(*dataRva, *dataSize);
    }

private:
    bool parseHeaders() {
        unsigned char mz[2];
        if (!src_.read(0, mz, 2) || mz[0] != 'M' || mz[1] != 'Z') return false;
        auto lfanew = src_.u32(0x3C);
        if (!lfanew) return false;
        std::uint64_t pe = *lfanew;
        unsigned char sig[4];
        if (!src_.read(pe, sig, 4) || std::memcmp(sig, "PE\0\0", 4) != 0) return false;
        auto sections = src_.u16(pe + 6);
        auto optSize = src_.u16(pe + 20);
        if (!sections || !optSize) return false;
        std::uint64_t opt = pe + 24;
        auto magic = src_.u16(opt);
        if (!magic) return false;
        std::uint64_t countAt, dirsAt;
        if (*magic == 0x10b) {
            countAt = opt + 92;
            dirsAt = opt + 96;
        } else if (*magic == 0x20b) {
            countAt = opt + 108;
            dirsAt = opt + 112;
        } else {
            return false;
        }
        auto count = src_.u32(countAt);
        if (!count || *count < 3 || dirsAt + 3 * 8 > opt + *optSize) return false;
        auto rva = src_.u32(dirsAt + 2 * 8);
        auto size = src_.u32(dirsAt + 2 * 8 + 4);
        if (!rva || !size || *rva == 0 || *size == 0) return false;
        resourceRva_ = *rva;
        std::uint64_t table = opt + *optSize;
        std::uint32_t n = *sections < kMaxSections ? *sections : kMaxSections;
        for (std::uint32_t i = 0; i < n; ++i) {
            std::uint64_t at = table + static_cast<std::uint64_t>(i) * 40;
            auto vs = src_.u32(at + 8), va = src_.u32(at + 12), rs = src_.u32(at + 16), ro = src_.u32(at + 20);
            if (!vs || !va || !rs || !ro) return false;
            sections_[count_++] = {*va, *vs, *rs, *ro};
        }
        return count_ > 0;
    }

    // File offset of n bytes at a relative virtual address, when they lie
    // inside the raw data of one section.
    std::optional<std::uint64_t> fileOffset(std::uint32_t rva, std::uint64_t n) const {
        for (std::uint32_t i = 0; i < count_; ++i) {
            const Section& s = sections_[i];
            std::uint64_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
            if (rva < s.virtualAddress || rva - s.virtualAddress >= span) continue;
            std::uint64_t delta = rva - s.virtualAddress;
            if (delta + n > s.rawSize) return std::nullopt;
            std::uint64_t off = static_cast<std::uint64_t>(s.rawOffset) + delta;
            if (off + n > src_.size()) return std::nullopt;
            return off;
        }
        return std::nullopt;
    }

    // Walks the entries of the resource directory at dir (a file offset);
    // returns the file offset of the entry's target when it has the wanted
    // kind (sub-directory or data).
    std::optional<std::uint64_t> target(std::uint64_t root, std::uint64_t entry, bool wantDirectory) const {
        auto offset = src_.u32(entry + 4);
        if (!offset) return std::nullopt;
        bool isDirectory = (*offset & 0x80000000u) != 0;
        if (isDirectory != wantDirectory) return std::nullopt;
        std::uint64_t at = root + (*offset & 0x7FFFFFFFu);
        if (at + 16 > src_.size()) return std::nullopt;
        return at;
    }

    std::optional<std::uint64_t> findEntry(std::uint64_t root, std::uint64_t dir, std::uint32_t id,
                                           bool wantDirectory) const {
        auto named = src_.u16(dir + 12), ids = src_.u16(dir + 14);
        if (!named || !ids) return std::nullopt;
        std::uint32_t total = static_cast<std::uint32_t>(*named) + *ids;
        for (std::uint32_t i = 0; i < total; ++i) {
            std::uint64_t entry = dir + 16 + static_cast<std::uint64_t>(i) * 8;
            auto name = src_.u32(entry);
            if (!name) return std::nullopt;
            if (*name == id) return target(root, entry, wantDirectory);
        }
        return std::nullopt;
    }

    std::optional<std::uint64_t> firstEntry(std::uint64_t root, std::uint64_t dir, bool wantDirectory) const {
        auto named = src_.u16(dir + 12), ids = src_.u16(dir + 14);
        if (!named || !ids || static_cast<std::uint32_t>(*named) + *ids == 0) return std::nullopt;
        return target(root, dir + 16, wantDirectory);
    }

    // VS_VERSIONINFO: wLength, wValueLength, wType, L"VS_VERSION_INFO",
    // padding to 32 bits, then VS_FIXEDFILEINFO.
    std::optional<FileVersion> fixedInfo(std::uint32_t rva, std::uint32_t size) const {
        constexpr std::uint64_t kKeyAt = 6, kFixedAt = 40, kFixedSize = 52;
        if (size < kFixedAt + kFixedSize) return std::nullopt;
        auto at = fileOffset(rva, kFixedAt + kFixedSize);
        if (!at) return std::nullopt;
        auto valueLength = src_.u16(*at + 2);
        if (!valueLength || *valueLength < kFixedSize) return std::nullopt;
        static const char kKey[] = "VS_VERSION_INFO";
        for (std::uint64_t i = 0; i < sizeof kKey; ++i) {
            auto ch = src_.u16(*at + kKeyAt + 2 * i);
            if (!ch || *ch != static_cast<unsigned char>(kKey[i])) return std::nullopt;
        }
        std::uint64_t fixed = *at + kFixedAt;
        auto signature = src_.u32(fixed);
        auto fileMs = src_.u32(fixed + 8), fileLs = src_.u32(fixed + 12);
        auto prodMs = src_.u32(fixed + 16), prodLs = src_.u32(fixed + 20);
        if (!signature || *signature != kFixedSignature || !fileMs || !fileLs || !prodMs || !prodLs) return std::nullopt;
        FileVersion v;
        v.fileHigh = static_cast<std::int32_t>(*fileMs);
        v.fileLow = static_cast<std::int32_t>(*fileLs);
        v.productHigh = static_cast<std::int32_t>(*prodMs);
        v.productLow = static_cast<std::int32_t>(*prodLs);
        v.fileText = VersionText(v.fileHigh, v.fileLow);
        v.productText = VersionText(v.productHigh, v.productLow);
        return v;
    }

    const Source& src_;
    std::uint32_t resourceRva_ = 0;
    Section sections_[kMaxSections] {};
    std::uint32_t count_ = 0;
};

FileVersion Parse(const Source& src) {
    PeImage image(src);
    if (auto v = image.version()) return *v;
    return FileVersion{};
}

}  // namespace

std::string VersionText(std::int32_t high, std::int32_t low) {
    auto h = static_cast<std::uint32_t>(high), l = static_cast<std::uint32_t>(low);
    return std::to_string(h >> 16) + "." + std::to_string(h & 0xFFFF) + "." + std::to_string(l >> 16) + "." +
           std::to_string(l & 0xFFFF);
}

FileVersion ParseFileVersion(std::string_view image) { return Parse(MemorySource(image)); }

FileVersion ReadFileVersion(int fd, std::uint64_t size) {
    if (size < 64) return FileVersion{};
    return Parse(FileSource(fd, size));
}

FileVersion ReadFileVersion(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return FileVersion{};
    struct stat st {};
    FileVersion out;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 64)
        out = Parse(FileSource(fd, static_cast<std::uint64_t>(st.st_size)));
    close(fd);
    return out;
}

}  // namespace tessel
