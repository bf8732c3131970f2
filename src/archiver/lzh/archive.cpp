#include "archiver/lzh/archive.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "archiver/lzh/crc16.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/positional_io.h"

namespace tessel::lzh {
namespace {

// Operating-system mark of the headers we write. 'M' (MS-DOS/Windows)
// tells readers that the names are in code page 932.
constexpr std::uint8_t kOsId = 'M';

constexpr std::uint8_t kExtCommon = 0x00, kExtFileName = 0x01, kExtDirName = 0x02, kExtSize64 = 0x42,
                       kExtUnicodeName = 0x44, kExtUnicodeDir = 0x45, kExtUnixMode = 0x50, kExtUnixTime = 0x54;
constexpr char16_t kUnicodeDirSeparator = 0xFFFF;

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t Le64(const std::uint8_t* p) { return Le32(p) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32); }
void Put16(std::vector<std::uint8_t>& v, std::uint32_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

// Path bytes of a code-page-932 name field: 0xFF and "\" (not as the second
// byte of a double-byte character) separate directories.
std::string SplitCp932Path(const std::string& raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        auto c = static_cast<std::uint8_t>(raw[i]);
        if (IsCp932LeadByte(c) && i + 1 < raw.size()) {
            out += raw[i];
            out += raw[++i];
        } else if (c == 0xFF || c == '\\') {
            out += '/';
        } else {
            out += raw[i];
        }
    }
    return out;
}

// Text of a name field: UTF-8 when the header comes from a Unix archiver
// and is UTF-8, else code page 932 when it decodes, else the bytes.
std::string DecodeName(const std::string& raw, std::uint8_t os) {
    if (raw.empty()) return raw;
    if (os == 'U' && IsValidUtf8(raw)) return raw;
    if (auto u = Cp932ToUtf8(raw)) return *u;
    return raw;
}

// A name field without the NUL bytes that pad or end it.
std::string WithoutTrailingNuls(std::string s) {
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}
std::u16string WithoutTrailingNuls(std::u16string s) {
    while (!s.empty() && s.back() == 0) s.pop_back();
    return s;
}

// DOS date and time (local time) to seconds since 1970 UTC.
std::int64_t DosTimeToUnix(std::uint32_t v) {
    std::tm tm{};
    tm.tm_sec = static_cast<int>((v & 0x1F) * 2);
    tm.tm_min = static_cast<int>((v >> 5) & 0x3F);
    tm.tm_hour = static_cast<int>((v >> 11) & 0x1F);
    tm.tm_mday = static_cast<int>((v >> 16) & 0x1F);
    tm.tm_mon = static_cast<int>(((v >> 21) & 0x0F)) - 1;
    tm.tm_year = static_cast<int>(((v >> 25) & 0x7F)) + 80;
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    return t == static_cast<std::time_t>(-1) ? 0 : static_cast<std::int64_t>(t);
}

bool MethodLooksValid(const std::uint8_t* m) {
    return m[0] == '-' && m[4] == '-' && m[1] == 'l' && (m[2] == 'h' || m[2] == 'z');
}

struct NameParts {
    std::string name, dir;            // raw code-page bytes
    std::u16string uname, udir;       // Unicode headers
    bool hasUname = false, hasUdir = false;
};

std::u16string Utf16Le(const std::uint8_t* p, std::size_t n) {
    std::u16string s;
    for (std::size_t i = 0; i + 1 < n; i += 2) s.push_back(static_cast<char16_t>(Le16(p + i)));
    return s;
}

// Parses the chain of extended headers in buf[pos, limit); each one's size
// comes from the field before it. Returns false on a size that leaves the
// area or is too small.
bool ParseExtensions(const std::uint8_t* buf, std::size_t pos, std::size_t limit, std::size_t nextSize,
                     Member& m, NameParts& names, std::size_t* used, std::size_t* commonCrcAt) {
    std::size_t total = 0;
    while (nextSize != 0) {
        if (nextSize < 3 || pos + nextSize > limit) return false;
        const std::uint8_t* e = buf + pos;
        const std::size_t dataLen = nextSize - 3;
        const std::uint8_t* d = e + 1;
        switch (e[0]) {
        case kExtCommon:
            if (dataLen >= 2 && commonCrcAt) *commonCrcAt = pos + 1;
            break;
        case kExtFileName: names.name.assign(reinterpret_cast<const char*>(d), dataLen); break;
        case kExtDirName: names.dir.assign(reinterpret_cast<const char*>(d), dataLen); break;
        case kExtUnicodeName: names.uname = Utf16Le(d, dataLen); names.hasUname = true; break;
        case kExtUnicodeDir: names.udir = Utf16Le(d, dataLen); names.hasUdir = true; break;
        case kExtUnixMode:
            if (dataLen >= 2) { m.mode = Le16(d) & 07777; m.hasMode = true; }
            break;
        case kExtUnixTime:
            if (dataLen >= 4) m.mtime = static_cast<std::int64_t>(Le32(d));
            break;
        case kExtSize64:
            if (dataLen >= 16) { m.compressedSize = Le64(d); m.originalSize = Le64(d + 8); }
            break;
        default: break;
        }
        total += nextSize;
        nextSize = Le16(e + nextSize - 2);
        pos += (e + 1 + dataLen + 2) - (buf + pos);
    }
    *used = total;
    return true;
}

void AssemblePath(Member& m, const NameParts& names, std::uint8_t os) {
    std::string path;
    if (names.hasUdir) {
        std::u16string d = WithoutTrailingNuls(names.udir);
        bool ownSeparator = d.find(kUnicodeDirSeparator) != std::u16string::npos;
        for (auto& ch : d)
            if (ch == kUnicodeDirSeparator || (!ownSeparator && ch == u'\\')) ch = u'/';
        path = Utf16ToPath(d);
    } else if (!names.dir.empty()) {
        path = DecodeName(SplitCp932Path(WithoutTrailingNuls(names.dir)), os);
    }
    if (!path.empty() && path.back() != '/') path += '/';
    if (names.hasUname) path += Utf16ToPath(WithoutTrailingNuls(names.uname));
    else path += DecodeName(SplitCp932Path(WithoutTrailingNuls(names.name)), os);
    // A folder's own entry may end in its separator.
    if (m.isDirectory())
        while (path.size() > 1 && path.back() == '/') path.pop_back();
    m.path = std::move(path);
    m.safePath = IsSafeMemberPath(m.path);
}

// One header at off. 1: a member; 0: the end mark (or the end of the
// source); -1: not a valid header; kCutOff: fewer bytes left than any
// header needs, or a whole header, its checksum right, whose data runs past
// the end. A header whose own length runs past the end may be a damaged
// length with members behind it, so it is -1.
constexpr int kCutOff = -2;
int ReadHeaderAt(ByteSource& src, std::uint64_t off, Member& m) {
    const std::uint64_t size = src.size();
    if (off >= size) return 0;
    std::uint8_t first[2] = {};
    if (!src.readAt(off, first, 1)) return -1;
    if (first[0] == 0) return 0;
    std::uint8_t base[26];
    if (size - off < 22) return kCutOff;
    if (!src.readAt(off, base, std::min<std::uint64_t>(26, size - off))) return -1;
    if (!MethodLooksValid(base + 2)) return -1;
    m = Member{};
    m.headerOffset = off;
    m.method.assign(reinterpret_cast<const char*>(base + 2), 5);
    m.level = base[20];
    NameParts names;
    std::uint8_t os = 0;
    std::vector<std::uint8_t> h;
    if (m.level == 0 || m.level == 1) {
        const std::size_t total = static_cast<std::size_t>(base[0]) + 2;
        if (total < 24 || total > size - off) return -1;
        h.resize(total);
        if (!src.readAt(off, h.data(), total)) return -1;
        std::uint8_t sum = 0;
        for (std::size_t i = 2; i < total; ++i) sum = static_cast<std::uint8_t>(sum + h[i]);
        if (sum != h[1]) return -1;
        const std::size_t nameLen = h[21];
        if (22 + nameLen > total) return -1;
        names.name.assign(reinterpret_cast<const char*>(&h[22]), nameLen);
        if (22 + nameLen + 2 <= total) m.crc = Le16(&h[22 + nameLen]);
        m.compressedSize = Le32(&h[7]);
        m.originalSize = Le32(&h[11]);
        m.mtime = DosTimeToUnix(Le32(&h[15]));
        std::uint64_t dataOff = off + total;
        if (m.level == 1) {
            if (22 + nameLen + 5 > total) return -1;
            os = h[24 + nameLen];
            std::size_t nextSize = Le16(&h[total - 2]);
            // Extended headers follow the base header; their sizes count in
            // the skip size.
            std::uint64_t extTotal = 0;
            std::uint64_t pos = off + total;
            while (nextSize != 0) {
                if (nextSize < 3 || nextSize > size - pos) return -1;
                std::vector<std::uint8_t> e(nextSize);
                if (!src.readAt(pos, e.data(), nextSize)) return -1;
                std::size_t used = 0;
                // Parse this one extension alone (its own next-size ends it).
                std::vector<std::uint8_t> one(e);
                one[nextSize - 2] = one[nextSize - 1] = 0;
                if (!ParseExtensions(one.data(), 0, nextSize, nextSize, m, names, &used, nullptr)) return -1;
                extTotal += nextSize;
                pos += nextSize;
                nextSize = Le16(&e[nextSize - 2]);
            }
            if (extTotal > m.compressedSize) return -1;
            m.compressedSize -= extTotal;
            dataOff = pos;
        } else if (22 + nameLen + 2 < total) {
            os = h[24 + nameLen];
        }
        m.dataOffset = dataOff;
    } else if (m.level == 2) {
        const std::size_t total = Le16(base);
        if (total < 26 || total > size - off) return -1;
        h.resize(total);
        if (!src.readAt(off, h.data(), total)) return -1;
        m.compressedSize = Le32(&h[7]);
        m.originalSize = Le32(&h[11]);
        m.mtime = static_cast<std::int64_t>(Le32(&h[15]));
        m.crc = Le16(&h[21]);
        os = h[23];
        std::size_t used = 0, crcAt = 0;
        if (!ParseExtensions(h.data(), 26, total, Le16(&h[24]), m, names, &used, &crcAt)) return -1;
        if (crcAt) {
            const std::uint16_t stored = Le16(&h[crcAt]);
            h[crcAt] = h[crcAt + 1] = 0;
            if (Crc16Update(0, h.data(), total) != stored) return -1;
        }
        m.dataOffset = off + total;
    } else {
        return -1;
    }
    if (m.compressedSize > size - m.dataOffset) return kCutOff;
    AssemblePath(m, names, os);
    return 1;
}

}  // namespace

bool IsSafeMemberPath(std::string_view path) {
    if (!IsSafeRelativePath(path)) return false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto b = static_cast<unsigned char>(path[i]);
        if (b < 0x20 || b == 0x7F || b == '\\') return false;
        // A C1 control, as UTF-8.
        if (b == 0xC2 && i + 1 < path.size() && static_cast<unsigned char>(path[i + 1]) <= 0x9F &&
            static_cast<unsigned char>(path[i + 1]) >= 0x80)
            return false;
    }
    return true;
}

bool FileSource::readAt(std::uint64_t off, void* buf, std::size_t n) { return ReadAllAt(fd_, off, buf, n); }

std::uint64_t FileSource::dataFrom(std::uint64_t off) {
    if (off >= size_) return size_;
    const off_t at = ::lseek(fd_, static_cast<off_t>(off), SEEK_DATA);
    if (at < 0) return errno == ENXIO ? size_ : off;
    return std::min<std::uint64_t>(static_cast<std::uint64_t>(at), size_);
}

bool MemorySource::readAt(std::uint64_t off, void* buf, std::size_t n) {
    if (off > size_ || n > size_ - off) return false;
    std::memcpy(buf, data_ + off, n);
    return true;
}

namespace {

// Whether every byte from `from` to the end is zero (padding); false too
// when they cannot all be read.
bool ZerosFrom(ByteSource& src, std::uint64_t from) {
    std::vector<std::uint8_t> buf(1 << 20);
    for (std::uint64_t at = src.dataFrom(from); at < src.size(); at = src.dataFrom(at + buf.size())) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), src.size() - at));
        if (!src.readAt(at, buf.data(), n)) return false;
        if (std::any_of(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n), [](std::uint8_t b) { return b != 0; }))
            return false;
    }
    return true;
}

// Whether a full member header (its checksums right) starts anywhere at or
// after `from`: a member that damage before it has hidden.
bool HeaderBehind(ByteSource& src, std::uint64_t from) {
    constexpr std::size_t kChunk = 1 << 20;
    std::vector<std::uint8_t> buf(kChunk + 6);
    for (std::uint64_t at = src.dataFrom(from); at < src.size(); at = src.dataFrom(at + kChunk)) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), src.size() - at));
        if (!src.readAt(at, buf.data(), n)) return true;  // unreadable: assume the worst
        for (std::size_t i = 0; i + 7 <= n && i < kChunk; ++i) {
            if (buf[i + 2] != '-' || buf[i + 3] != 'l' || !MethodLooksValid(&buf[i + 2])) continue;
            Member m;
            if (ReadHeaderAt(src, at + i, m) == 1) return true;
        }
    }
    return false;
}

// The bytes from an end mark on that tell an add that did not finish: the
// smallest header's place.
constexpr std::size_t kHeaderPlace = 22;

// Whether the bytes from the end mark at `off` on (`head` holds the first
// kHeaderPlace of them) are only what an add that did not finish left: its
// mark in the header's place, or (from builds that left the place empty)
// zeros there and no member header anywhere behind them.
bool AddLeftOff(ByteSource& src, std::uint64_t off, const std::vector<std::uint8_t>& head) {
    if (head.size() >= kAddInProgress.size() &&
        std::equal(kAddInProgress.begin(), kAddInProgress.end(), head.begin(),
                   [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
        return true;
    return std::all_of(head.begin(), head.end(), [](std::uint8_t b) { return b == 0; }) && !HeaderBehind(src, off + 1);
}

}  // namespace

namespace {

// Notes whether any read failed. Every read of a scan lies inside the
// archive's size, so a failed one is the disk failing (or the file cut by
// someone else meanwhile), never damage to the archive's bytes.
class WatchedSource final : public ByteSource {
public:
    explicit WatchedSource(ByteSource& inner) : inner_(inner) {}
    std::uint64_t size() const override { return inner_.size(); }
    bool readAt(std::uint64_t off, void* buf, std::size_t n) override {
        const bool ok = inner_.readAt(off, buf, n);
        failed = failed || !ok;
        return ok;
    }
    std::uint64_t dataFrom(std::uint64_t off) override { return inner_.dataFrom(off); }
    bool failed = false;

private:
    ByteSource& inner_;
};

ArchiveIndex ScanReadable(ByteSource& src) {
    ArchiveIndex index;
    std::uint64_t off = 0;
    for (;;) {
        Member m;
        int r = ReadHeaderAt(src, off, m);
        if (r == 1) {
            off = m.end();
            index.members.push_back(std::move(m));
            continue;
        }
        index.validEnd = off;
        if (r == 0 && off + 1 < src.size()) {
            // Bytes after the end mark: what is left of an add that did not
            // finish, or members behind a header damaged to read as the end
            // mark. Zero padding is fine.
            std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(src.size() - off, kHeaderPlace)));
            if (!src.readAt(off, head.data(), head.size()) || !ZerosFrom(src, off + 1)) {
                index.damagedTail = true;
                index.cutOffTail = AddLeftOff(src, off, head);
            }
        }
        if (r < 0) {
            if (index.members.empty() && r != kCutOff) index.status = ArchiveIndex::Status::NotArchive;
            else index.damagedTail = true;
            index.cutOffTail = r == kCutOff;
        }
        break;
    }
    return index;
}

}  // namespace

ArchiveIndex ScanArchive(ByteSource& src) {
    WatchedSource watched(src);
    ArchiveIndex index = ScanReadable(watched);
    if (watched.failed) {
        // What was read before the failure stands; what lies behind it is
        // unknown, and not damage.
        index.status = ArchiveIndex::Status::ReadError;
        index.damagedTail = index.cutOffTail = false;
    }
    return index;
}

DataStatus ExtractMemberData(ByteSource& src, const Member& m, const WriteFn& write) {
    std::uint64_t pos = m.dataOffset;
    std::uint64_t left = m.compressedSize;
    ReadFn read = [&](void* buf, std::size_t n) -> std::ptrdiff_t {
        std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, left));
        if (take == 0) return 0;
        if (!src.readAt(pos, buf, take)) return -1;
        pos += take;
        left -= take;
        return static_cast<std::ptrdiff_t>(take);
    };
    std::uint16_t crc = 0;
    if (m.method == "-lh0-" || m.method == "-lz4-") {
        if (m.compressedSize != m.originalSize) return DataStatus::Corrupt;
        // Sized to the member: a buffer zeroed per member costs more than
        // copying a small one.
        std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::min<std::uint64_t>(1 << 20, left)));
        while (left > 0) {
            std::ptrdiff_t got = read(buf.data(), buf.size());
            if (got <= 0) return DataStatus::ReadFailed;
            crc = Crc16Update(crc, buf.data(), static_cast<std::size_t>(got));
            if (!write(buf.data(), static_cast<std::size_t>(got))) return DataStatus::WriteFailed;
        }
    } else {
        int dictBits = m.method == "-lh5-" ? 13 : m.method == "-lh6-" ? 15 : m.method == "-lh7-" ? 16 : 0;
        if (dictBits == 0) return DataStatus::Unsupported;
        switch (DecodeLh(dictBits, read, m.compressedSize, m.originalSize, write, &crc)) {
        case DecodeStatus::Ok: break;
        case DecodeStatus::Corrupt: return DataStatus::Corrupt;
        case DecodeStatus::ReadFailed: return DataStatus::ReadFailed;
        case DecodeStatus::WriteFailed: return DataStatus::WriteFailed;
        }
    }
    return crc == m.crc ? DataStatus::Ok : DataStatus::CrcMismatch;
}

bool FitsCodePage932(const std::string& path) {
    if (path.find('\\') != std::string::npos) return false;
    auto cp = Utf8ToCp932(path);
    if (!cp) return false;
    auto back = Cp932ToUtf8(*cp);
    return back && *back == path;
}

// UTF-8 to UTF-16; a byte that is not part of well-formed UTF-8 becomes the
// lone surrogate U+DC00 + byte (which well-formed text never holds), so that
// any Linux name round-trips through the Unicode name header.
std::u16string PathToUtf16(const std::string& s) {
    std::u16string out;
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<std::uint8_t>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        bool ok = n > 0 && i + n <= s.size() && IsValidUtf8(std::string_view(s).substr(i, n));
        if (!ok) {
            out.push_back(static_cast<char16_t>(0xDC00 + c));
            ++i;
            continue;
        }
        std::uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
        for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<std::uint8_t>(s[i + k]) & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += n;
    }
    return out;
}

std::string Utf16ToPath(const std::u16string& t) {
    std::string out;
    auto put = [&](std::uint32_t cp) {
        if (cp < 0x80) out += static_cast<char>(cp);
        else if (cp < 0x800) { out += static_cast<char>(0xC0 | (cp >> 6)); out += static_cast<char>(0x80 | (cp & 0x3F)); }
        else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    };
    for (std::size_t i = 0; i < t.size(); ++i) {
        std::uint32_t u = t[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] <= 0xDFFF) {
            put(0x10000 + ((u - 0xD800) << 10) + (t[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out += static_cast<char>(u - 0xDC00);  // a byte kept from a non-UTF-8 name
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            put(0xFFFD);
        } else {
            put(u);
        }
    }
    return out;
}

std::vector<std::uint8_t> BuildHeader(const MemberAttributes& attr, const std::string& method,
                                      std::uint64_t compressedSize, std::uint64_t originalSize,
                                      std::uint16_t crc, bool wide) {
    std::string dir, name = attr.path;
    if (auto slash = attr.path.rfind('/'); slash != std::string::npos) {
        dir = attr.path.substr(0, slash + 1);
        name = attr.path.substr(slash + 1);
    }
    const bool exact = FitsCodePage932(attr.path);
    auto toCp = [&](const std::string& s) {
        if (exact) return *Utf8ToCp932(s);
        std::string lossy = Utf8ToCp932Lossy(s);
        std::replace(lossy.begin(), lossy.end(), '\\', '_');
        return lossy;
    };
    std::vector<std::uint8_t> h;
    Put16(h, 0);  // total size, set below
    for (std::size_t i = 0; i < 5; ++i) h.push_back(static_cast<std::uint8_t>(i < method.size() ? method[i] : ' '));
    Put32(h, static_cast<std::uint32_t>(compressedSize));
    Put32(h, static_cast<std::uint32_t>(originalSize));
    // The header holds unsigned seconds since 1970: earlier and later times
    // are clamped to its ends, never wrapped to another date.
    Put32(h, static_cast<std::uint32_t>(std::clamp<std::int64_t>(attr.mtime, 0, 0xFFFFFFFFLL)));
    h.push_back(0x20);
    h.push_back(2);
    Put16(h, crc);
    h.push_back(kOsId);
    // Extended headers: each is type, data, then the size of the next one.
    std::size_t nextSizeAt = h.size();
    Put16(h, 0);
    auto ext = [&](std::uint8_t type, const std::vector<std::uint8_t>& data) {
        std::size_t size = 1 + data.size() + 2;
        h[nextSizeAt] = static_cast<std::uint8_t>(size);
        h[nextSizeAt + 1] = static_cast<std::uint8_t>(size >> 8);
        h.push_back(type);
        h.insert(h.end(), data.begin(), data.end());
        nextSizeAt = h.size();
        Put16(h, 0);
    };
    ext(kExtCommon, {0, 0});
    const std::size_t crcAt = h.size() - 4;
    std::string cpName = toCp(name);
    ext(kExtFileName, std::vector<std::uint8_t>(cpName.begin(), cpName.end()));
    if (!dir.empty()) {
        std::string cpDir = toCp(dir);
        std::replace(cpDir.begin(), cpDir.end(), '/', '\xFF');
        ext(kExtDirName, std::vector<std::uint8_t>(cpDir.begin(), cpDir.end()));
    }
    if (!exact) {
        auto utf16 = [](const std::u16string& s) {
            std::vector<std::uint8_t> v;
            for (char16_t c : s) { v.push_back(static_cast<std::uint8_t>(c)); v.push_back(static_cast<std::uint8_t>(c >> 8)); }
            return v;
        };
        ext(kExtUnicodeName, utf16(PathToUtf16(name)));
        if (!dir.empty()) {
            std::u16string d = PathToUtf16(dir);
            for (auto& c : d) if (c == u'/') c = kUnicodeDirSeparator;
            ext(kExtUnicodeDir, utf16(d));
        }
    }
    ext(kExtUnixMode, {static_cast<std::uint8_t>(attr.mode), static_cast<std::uint8_t>(attr.mode >> 8)});
    if (wide) {
        std::vector<std::uint8_t> v;
        for (int i = 0; i < 8; ++i) v.push_back(static_cast<std::uint8_t>(compressedSize >> (8 * i)));
        for (int i = 0; i < 8; ++i) v.push_back(static_cast<std::uint8_t>(originalSize >> (8 * i)));
        ext(kExtSize64, v);
    }
    // A total size whose low byte is 0 would read as the end mark: pad.
    if ((h.size() & 0xFF) == 0) h.push_back(0);
    h[0] = static_cast<std::uint8_t>(h.size());
    h[1] = static_cast<std::uint8_t>(h.size() >> 8);
    std::uint16_t hc = Crc16Update(0, h.data(), h.size());
    h[crcAt] = static_cast<std::uint8_t>(hc);
    h[crcAt + 1] = static_cast<std::uint8_t>(hc >> 8);
    return h;
}

}  // namespace tessel::lzh
