#pragma once
// LHA archive structure: member headers of levels 0, 1 and 2 read, level 2
// written; the index of an archive; member data in and out.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archiver/lzh/codec.h"

namespace tessel::lzh {

// Random access to archive bytes: a file, or memory (fuzzing, tests).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Reads exactly n bytes at off; false when they are not all there.
    virtual bool readAt(std::uint64_t off, void* buf, std::size_t n) = 0;
    // The first offset at or after off that may hold a byte other than zero
    // (a file's holes are skipped); size() when none does.
    virtual std::uint64_t dataFrom(std::uint64_t off) { return off; }
};

class FileSource : public ByteSource {
public:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool readAt(std::uint64_t off, void* buf, std::size_t n) override;
    std::uint64_t dataFrom(std::uint64_t off) override;

private:
    int fd_;
    std::uint64_t size_;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const void* data, std::size_t size) : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool readAt(std::uint64_t off, void* buf, std::size_t n) override;

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

struct Member {
    std::uint64_t headerOffset = 0;
    std::uint64_t dataOffset = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t originalSize = 0;
    std::string method;       // e.g. "-lh5-"
    std::uint16_t crc = 0;
    int level = 0;
    std::int64_t mtime = 0;   // seconds since 1970-01-01 UTC
    bool hasMode = false;
    std::uint32_t mode = 0;   // Unix permission bits
    // The stored path with "/" between components, decoded to UTF-8 where
    // the archive says how; bytes that no decoding explains are kept as
    // they are, a NUL among them. Nothing is taken out or cut.
    std::string path;
    // IsSafeMemberPath(path): only such a member is ever written anywhere.
    bool safePath = false;
    bool isDirectory() const { return method == "-lhd-"; }
    std::uint64_t end() const { return dataOffset + compressedSize; }
};

struct ArchiveIndex {
    // ReadError: a read failed (the disk, not the archive's bytes); the
    // members before the failure are known, those behind it are not.
    enum class Status { Ok, NotArchive, ReadError } status = Status::Ok;
    std::vector<Member> members;
    // Offset just after the last good member: where an end mark is, or
    // where the archive stops making sense.
    std::uint64_t validEnd = 0;
    // Something other than a clean end follows the last good member: a
    // damaged or cut-off member, or data after the end mark.
    bool damagedTail = false;
    // The damage is only a last member cut off at the end of the file (an
    // interrupted add): cutting it away loses nothing else. Otherwise the
    // bytes after validEnd may hold members that cannot be found, and the
    // archive must not be shortened or rewritten.
    bool cutOffTail = false;
};

// Whether the archive may hide members behind damage: it must then be
// neither shortened nor rewritten, and nothing is added to it. An archive
// that is not one at all counts as such damage too.
inline bool DamagedBeyondCutOff(const ArchiveIndex& index) {
    return index.status != ArchiveIndex::Status::Ok || (index.damagedTail && !index.cutOffTail);
}

// Whether a decoded member path may be written below a folder by its name:
// a plain relative path (no empty, "." or ".." component, no leading "/")
// without a NUL, a control character (C1 included) or a backslash. Every
// reader that places members by their names takes a member only when this
// holds; a restore places a member where the catalog says, having found it
// by the path the catalog records.
bool IsSafeMemberPath(std::string_view path);

// The member path a file is archived under: its absolute path without the
// leading "/".
inline std::string MemberPathOfSource(std::string_view absolutePath) {
    return std::string(absolutePath.substr(!absolutePath.empty() && absolutePath[0] == '/' ? 1 : 0));
}

// What an add writes into the place a member's header will take before it
// writes the member's data: the end mark, then a word no header holds. Until
// the header lands, readers see the archive end there; a scan that finds
// this after the end mark knows the bytes behind it are an add that did not
// finish, and may be cut away.
inline constexpr std::string_view kAddInProgress{"\0tessel-adding", 14};

// Reads the member headers from the start of the archive. A first header
// that is not an LHA header gives NotArchive (an empty source is an empty
// archive); damage after at least one good member gives damagedTail; a
// read that fails gives ReadError with the members read before it.
ArchiveIndex ScanArchive(ByteSource& src);

enum class DataStatus { Ok, Corrupt, CrcMismatch, Unsupported, ReadFailed, WriteFailed };

// Decodes one member's data into `write`, checking its CRC-16. The data is
// passed on as it is decoded; on CrcMismatch the receiver already had it
// and must throw it away.
DataStatus ExtractMemberData(ByteSource& src, const Member& m, const WriteFn& write);

// What a new member records besides its data.
struct MemberAttributes {
    std::string path;   // relative, "/"-separated, native bytes
    std::int64_t mtime = 0;
    std::uint32_t mode = 0644;
};

// The level-2 header of a member. With wide set, the sizes also go into the
// 64-bit size extension (needed from 4 GiB on; harmless below).
std::vector<std::uint8_t> BuildHeader(const MemberAttributes& attr, const std::string& method,
                                      std::uint64_t compressedSize, std::uint64_t originalSize,
                                      std::uint16_t crc, bool wide);

// Encoding of stored names (exposed for tests): the path as code page 932
// when that is exact, and the UTF-16 form for the Unicode name headers.
bool FitsCodePage932(const std::string& path);
std::u16string PathToUtf16(const std::string& bytes);
std::string Utf16ToPath(const std::u16string& text);

}  // namespace tessel::lzh
