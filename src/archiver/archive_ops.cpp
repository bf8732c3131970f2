#include "archiver/archive_ops.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "archiver/add_pipeline.h"
#include "archiver/unlha.h"

namespace tessel::archive {
namespace {

using lzh::ArchiveIndex;
using lzh::Member;

struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const Identity&) const = default;
};

Identity IdentityOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size,
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

struct CachedIndex {
    Identity id;
    ArchiveIndex index;
    std::unordered_map<std::string, std::size_t> byPath;  // last member of each path
};

std::mutex gCacheMutex;
std::map<std::string, CachedIndex> gCache;

void Reindex(CachedIndex& c) {
    c.byPath.clear();
    for (std::size_t i = 0; i < c.index.members.size(); ++i) c.byPath[c.index.members[i].path] = i;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { if (fd_ >= 0) ::close(fd_); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { int f = fd_; fd_ = -1; return f; }

private:
    int fd_;
};

bool WriteAllAt(int fd, std::uint64_t off, const void* data, std::size_t n) {
    auto* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = ::pwrite(fd, p, n, static_cast<off_t>(off));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
        off += static_cast<std::uint64_t>(w);
    }
    return true;
}

std::string ParentOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Reads the index of the open archive, from the cache when the file is
// unchanged.
std::int32_t IndexFor(const std::string& path, int fd, CachedIndex** out) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return kUnlhaNotArchive;
    if (!S_ISREG(st.st_mode)) return kUnlhaNotArchive;
    Identity id = IdentityOf(st);
    auto it = gCache.find(path);
    if (it == gCache.end() || !(it->second.id == id)) {
        lzh::FileSource src(fd, static_cast<std::uint64_t>(st.st_size));
        CachedIndex c;
        c.id = id;
        c.index = lzh::ScanArchive(src);
        if (c.index.status != ArchiveIndex::Status::Ok) {
            gCache.erase(path);
            return kUnlhaNotArchive;
        }
        Reindex(c);
        it = gCache.insert_or_assign(path, std::move(c)).first;
    }
    *out = &it->second;
    return kUnlhaOk;
}

// Writes one member into the open archive at `at`. Order of writes: data
// first (after room for the header), then the end mark, and the header
// last, so that until the header lands the byte at `at` still reads as the
// end of the archive.
class ArchiveAppender : public MemberOutput {
public:
    ArchiveAppender(int afd, std::uint64_t at) : afd_(afd), at_(at) {}

    bool begin(const lzh::MemberAttributes& attr, bool wide) override {
        attr_ = attr;
        wide_ = wide;
        headerLen_ = lzh::BuildHeader(attr, "-lh0-", 0, 0, 0, wide).size();
        return true;
    }
    bool data(const void* buf, std::size_t n) override {
        if (!WriteAllAt(afd_, at_ + headerLen_ + written_, buf, n)) return false;
        written_ += n;
        return true;
    }
    void restart() override { written_ = 0; }

    // After the data: the end mark and the header; the member in *added.
    std::int32_t finish(const EncodedMember& enc, Member* added) {
        if (enc.rc != kUnlhaOk) return enc.rc;
        if (written_ != enc.compressedSize) return kUnlhaCannotWrite;
        const std::uint64_t dataAt = at_ + headerLen_;
        const std::uint64_t end = dataAt + enc.compressedSize;
        const std::uint8_t endMark = 0;
        if (!WriteAllAt(afd_, end, &endMark, 1) || ::ftruncate(afd_, static_cast<off_t>(end + 1)) != 0)
            return kUnlhaCannotWrite;
        auto header = lzh::BuildHeader(attr_, enc.method, enc.compressedSize, enc.originalSize, enc.crc, wide_);
        if (header.size() != headerLen_ || !WriteAllAt(afd_, at_, header.data(), header.size())) return kUnlhaCannotWrite;
        Member m;
        m.headerOffset = at_;
        m.dataOffset = dataAt;
        m.compressedSize = enc.compressedSize;
        m.originalSize = enc.originalSize;
        m.method = enc.method;
        m.crc = enc.crc;
        m.level = 2;
        m.mtime = attr_.mtime;
        m.hasMode = true;
        m.mode = attr_.mode;
        m.path = attr_.path;
        m.safePath = true;
        *added = std::move(m);
        return kUnlhaOk;
    }

private:
    int afd_;
    std::uint64_t at_;
    lzh::MemberAttributes attr_;
    bool wide_ = false;
    std::size_t headerLen_ = 0;
    std::uint64_t written_ = 0;
};

// Appends the files in order from `at` on, each member passed to
// `appended` as it lands; stops at the first failure and returns its code.
// Files are read and compressed on options.jobs threads; the archive's
// bytes are the same for any number of them.
std::int32_t AppendAll(int afd, std::uint64_t at, const std::vector<FileToAdd>& files, const AddOptions& options,
                       const std::function<void(Member&&)>& appended) {
    std::int32_t rc = kUnlhaOk;
    std::optional<ArchiveAppender> out;
    EncodeInOrder(
        files, options.method, options.jobs,
        [&](std::size_t) -> MemberOutput& { return out.emplace(afd, at); },
        [&](std::size_t i, const EncodedMember& enc) {
            // A per-file decision to skip a file, with a report line, belongs
            // in EncodeMember, before anything is read.
            Member m;
            const std::int32_t result = out->finish(enc, &m);
            if (options.outcomes) (*options.outcomes)[i] = result;
            if (result != kUnlhaOk) {
                // What the failed member wrote lies past the end mark at
                // `at`; the next member is written over it.
                if (rc == kUnlhaOk) rc = result;
                return options.outcomes != nullptr;
            }
            at = m.end();
            appended(std::move(m));
            return true;
        });
    return rc;
}

bool CopyRange(int from, int to, std::uint64_t off, std::uint64_t len, std::uint64_t toOff) {
    std::vector<char> buf(1 << 20);
    while (len > 0) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(len, buf.size()));
        lzh::FileSource s(from, off + n);
        if (!s.readAt(off, buf.data(), n) || !WriteAllAt(to, toOff, buf.data(), n)) return false;
        off += n;
        toOff += n;
        len -= n;
    }
    return true;
}

// Rewrites the archive without the members whose paths are replaced, then
// appends the new files; the copy takes the archive's name at the end.
std::int32_t RewriteWith(const std::string& path, int afd, CachedIndex& c, const std::vector<FileToAdd>& files,
                         const AddOptions& options) {
    std::vector<bool> drop(c.index.members.size(), false);
    for (const auto& f : files)
        for (std::size_t i = 0; i < c.index.members.size(); ++i)
            if (c.index.members[i].path == f.memberPath) drop[i] = true;
    // The copy is the safe write's temporary file in the archive's folder.
    Fd dirFd(::open(ParentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() < 0) return kUnlhaCannotWrite;
    TempFile tmp;
    if (tmp.create(dirFd.get()) != 0) return kUnlhaCannotWrite;
    Fd tfd(::dup(tmp.fd()));
    if (tfd.get() < 0) return kUnlhaCannotWrite;
    auto fail = [&](std::int32_t code) { tmp.discard(); return code; };
    struct stat st;
    if (::fstat(afd, &st) == 0) ::fchmod(tfd.get(), st.st_mode & 07777);

    CachedIndex fresh;
    std::uint64_t at = 0;
    for (std::size_t i = 0; i < c.index.members.size(); ++i) {
        if (drop[i]) continue;
        Member m = c.index.members[i];
        const std::uint64_t len = m.end() - m.headerOffset;
        if (!CopyRange(afd, tfd.get(), m.headerOffset, len, at)) return fail(kUnlhaCannotWrite);
        const std::uint64_t shift = m.headerOffset - at;
        m.headerOffset -= shift;
        m.dataOffset -= shift;
        at += len;
        fresh.index.members.push_back(std::move(m));
    }
    const std::uint8_t endMark = 0;
    if (!WriteAllAt(tfd.get(), at, &endMark, 1)) return fail(kUnlhaCannotWrite);
    std::int32_t rc = AppendAll(tfd.get(), at, files, options, [&](Member&& m) {
        at = m.end();
        fresh.index.members.push_back(std::move(m));
    });
    if (rc != kUnlhaOk) return fail(rc);
    if (::fsync(tfd.get()) != 0) return fail(kUnlhaCannotWrite);
    const auto slash = path.rfind('/');
    if (tmp.commit(slash == std::string::npos ? path : path.substr(slash + 1), {}) != 0) return kUnlhaCannotWrite;
    fresh.index.validEnd = at;
    if (::fstat(tfd.get(), &st) == 0) fresh.id = IdentityOf(st);
    Reindex(fresh);
    gCache[path] = std::move(fresh);
    return kUnlhaOk;
}

}  // namespace

}  // namespace tessel::archive

namespace tessel {
void UnlhaDropIndexCache() {
    std::lock_guard<std::mutex> lock(archive::gCacheMutex);
    archive::gCache.clear();
}
}  // namespace tessel

namespace tessel::archive {

bool CleanPath(const std::string& in, std::string* out) {
    std::string r;
    bool absolute = !in.empty() && in[0] == '/';
    std::size_t i = 0;
    while (i <= in.size()) {
        std::size_t j = in.find('/', i);
        if (j == std::string::npos) j = in.size();
        std::string comp = in.substr(i, j - i);
        if (comp == "..") return false;
        if (!comp.empty() && comp != ".") {
            if (!r.empty() || absolute) r += '/';
            r += comp;
        }
        i = j + 1;
    }
    if (r.empty() && absolute) r = "/";
    *out = r;
    return true;
}

std::int32_t AddFiles(const std::string& archivePath, const std::vector<FileToAdd>& files, std::string* report,
                      const AddOptions& options) {
    // A failure before the first member is every file's outcome.
    if (options.outcomes) options.outcomes->assign(files.size(), kUnlhaCannotWrite);
    auto failAll = [&](std::int32_t code) {
        if (options.outcomes) options.outcomes->assign(files.size(), code);
        return code;
    };
    if (!IsWritableMethod(options.method)) return failAll(kUnlhaBadCommand);
    std::lock_guard<std::mutex> lock(gCacheMutex);
    // Never through a link: a link at the archive's name (a dangling one
    // too) is refused rather than written through or created at its target.
    struct stat before;
    const bool created = ::lstat(archivePath.c_str(), &before) != 0;
    Fd afd(::open(archivePath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (afd.get() < 0) return failAll(kUnlhaCannotWrite);
    // Other processes adding to the same archive wait for this one.
    if (::flock(afd.get(), LOCK_EX) != 0) return failAll(kUnlhaCannotWrite);
    CachedIndex* c = nullptr;
    std::int32_t rc = IndexFor(archivePath, afd.get(), &c);
    if (rc != kUnlhaOk) return failAll(rc);

    bool replaces = false;
    for (const auto& f : files) replaces = replaces || c->byPath.count(f.memberPath) > 0;
    for (std::size_t i = 0; i < files.size() && !replaces; ++i)
        for (std::size_t k = 0; k < i; ++k)
            if (files[k].memberPath == files[i].memberPath) replaces = true;
    if (replaces) {
        // The rewrite takes all files or none.
        rc = RewriteWith(archivePath, afd.get(), *c, files, options);
        failAll(rc);
        if (report) *report = rc == kUnlhaOk ? std::to_string(files.size()) + " member(s) written" : "add failed";
        return rc;
    }

    // Append in place, after cutting off what a crashed add may have left.
    std::uint64_t at = c->index.validEnd;
    if (c->index.damagedTail && ::ftruncate(afd.get(), static_cast<off_t>(at)) != 0) rc = failAll(kUnlhaCannotWrite);
    if (c->index.damagedTail) c->index.damagedTail = false;
    std::size_t added = 0;
    if (rc == kUnlhaOk)
        rc = AppendAll(afd.get(), at, files, options, [&](Member&& m) {
            at = m.end();
            c->index.validEnd = at;
            c->byPath[m.path] = c->index.members.size();
            c->index.members.push_back(std::move(m));
            ++added;
        });
    if (rc != kUnlhaOk) {
        // Whatever a failed member wrote lies past the end mark; drop it.
        const std::uint8_t endMark = 0;
        if (WriteAllAt(afd.get(), at, &endMark, 1)) (void)::ftruncate(afd.get(), static_cast<off_t>(at + 1));
    }
    if (rc == kUnlhaOk && added == 0 && c->index.members.empty()) {
        const std::uint8_t endMark = 0;  // an empty archive is just the end mark
        if (!WriteAllAt(afd.get(), 0, &endMark, 1)) rc = kUnlhaCannotWrite;
    }
    if (created && added == 0 && rc != kUnlhaOk) {
        // Do not leave an empty archive behind a failed first add.
        ::unlink(archivePath.c_str());
        gCache.erase(archivePath);
        return rc;
    }
    struct stat st;
    if (::fstat(afd.get(), &st) == 0) c->id = IdentityOf(st);
    else gCache.erase(archivePath);
    if (report) *report = std::to_string(added) + " member(s) added";
    return rc;
}

std::optional<ArchiveIndex> LoadIndex(const std::string& archivePath, std::int32_t* code) {
    std::lock_guard<std::mutex> lock(gCacheMutex);
    Fd fd(::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        *code = errno == ENOENT ? kUnlhaArchiveMissing : kUnlhaNotArchive;
        return std::nullopt;
    }
    CachedIndex* c = nullptr;
    *code = IndexFor(archivePath, fd.get(), &c);
    if (*code != kUnlhaOk) return std::nullopt;
    return c->index;
}

std::int32_t FindMemberForFolder(const std::string& archivePath, const std::string& folder, const std::string& name,
                                 Member* out) {
    std::lock_guard<std::mutex> lock(gCacheMutex);
    Fd fd(::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return errno == ENOENT ? kUnlhaArchiveMissing : kUnlhaNotArchive;
    CachedIndex* c = nullptr;
    std::int32_t rc = IndexFor(archivePath, fd.get(), &c);
    if (rc != kUnlhaOk) return rc;
    auto it = c->byPath.find(folder.empty() ? name : folder + "/" + name);
    if (it == c->byPath.end() || c->index.members[it->second].isDirectory())
        return c->index.damagedTail ? kUnlhaNotArchive : kUnlhaNoSuchMember;
    *out = c->index.members[it->second];
    return kUnlhaOk;
}

std::int32_t ExtractMemberTo(const std::string& archivePath, const Member& m, WriteRoot& root, const std::string& rel,
                             const ExtractOptions& options) {
    if (!m.safePath) return kUnlhaRefusedPath;
    Fd afd(::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (afd.get() < 0) return errno == ENOENT ? kUnlhaArchiveMissing : kUnlhaNotArchive;
    struct stat ast;
    if (::fstat(afd.get(), &ast) != 0) return kUnlhaNotArchive;

    std::int32_t rc = kUnlhaOk;
    auto fill = [&](int out) -> int {
        // Runs of zero bytes become holes, so large sparse files stay sparse.
        std::uint64_t size = 0;
        lzh::WriteFn sink = [&](const void* buf, std::size_t n) {
            const auto* p = static_cast<const unsigned char*>(buf);
            std::size_t i = 0;
            while (i < n) {
                std::size_t piece = std::min<std::size_t>(n - i, 65536);
                bool zero = p[i] == 0 && std::memcmp(p + i, p + i + 1, piece - 1) == 0;
                if (!zero && !WriteAllAt(out, size, p + i, piece)) return false;
                size += piece;
                i += piece;
            }
            return true;
        };
        lzh::FileSource src(afd.get(), static_cast<std::uint64_t>(ast.st_size));
        switch (lzh::ExtractMemberData(src, m, sink)) {
        case lzh::DataStatus::Ok: break;
        case lzh::DataStatus::Corrupt:
        case lzh::DataStatus::CrcMismatch: rc = kUnlhaCrcMismatch; break;
        case lzh::DataStatus::Unsupported: rc = kUnlhaUnsupportedMethod; break;
        case lzh::DataStatus::ReadFailed: rc = kUnlhaNotArchive; break;
        case lzh::DataStatus::WriteFailed: rc = kUnlhaCannotWrite; break;
        }
        if (rc == kUnlhaOk && ::ftruncate(out, static_cast<off_t>(size)) != 0) rc = kUnlhaCannotWrite;
        return rc == kUnlhaOk ? 0 : EIO;
    };
    FileStamp stamp;
    stamp.mode = m.hasMode ? (m.mode & 0777) : 0644;
    stamp.mtime = options.mtime ? *options.mtime : timespec{static_cast<time_t>(m.mtime), 0};
    const int err = WriteFileBelow(root, rel, fill, stamp, options.replace);
    if (rc != kUnlhaOk) return rc;
    if (err == EEXIST && !options.replace) return kUnlhaTargetExists;
    if (err == ELOOP || err == EINVAL) return kUnlhaRefusedPath;
    return err ? kUnlhaCannotWrite : kUnlhaOk;
}

std::int32_t ExtractMembers(const std::string& archivePath,
                            const std::function<std::optional<Placement>(const Member&)>& place,
                            std::string* report) {
    std::int32_t rc = kUnlhaOk;
    auto index = LoadIndex(archivePath, &rc);
    if (!index) return rc;
    std::map<std::string, std::unique_ptr<WriteRoot>> roots;
    std::size_t done = 0;
    for (const auto& m : index->members) {
        if (m.isDirectory()) continue;
        std::int32_t r;
        if (!m.safePath) {
            r = kUnlhaRefusedPath;
        } else {
            auto target = place(m);
            if (!target) continue;
            auto& root = roots[target->root];
            if (!root) root = std::make_unique<WriteRoot>(target->root);
            r = ExtractMemberTo(archivePath, m, *root, target->rel);
        }
        if (r == kUnlhaOk) ++done;
        else if (rc == kUnlhaOk) rc = r;
    }
    if (rc == kUnlhaOk && index->damagedTail) rc = kUnlhaNotArchive;
    if (report) *report = std::to_string(done) + " member(s) extracted";
    return rc;
}

}  // namespace tessel::archive
