#include "archiver/archive_ops.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <atomic>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "archiver/add_pipeline.h"
#include "archiver/extract_pipeline.h"
#include "archiver/unlha.h"
#include "platform/file_faults.h"
#include "platform/unique_fd.h"
#include "platform/safe_write.h"
#include "platform/paths.h"
#include "platform/positional_io.h"

namespace tessel::archive {
namespace {

using lzh::ArchiveIndex;
using lzh::Member;

// Appends of at least this many bytes have their write-back started at once.
constexpr std::uint64_t kStartWriteBackAt = 1 << 20;

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

// The index of one archive as last read or written, with the file identity
// it belongs to.
struct CachedIndex {
    Identity id;
    ArchiveIndex index;
    // When the archive was read: an index of a read that failed part-way
    // stands only a short while.
    std::chrono::steady_clock::time_point scanned{};
    std::unordered_map<std::string, std::size_t> byPath;  // last member of each path
    std::size_t bytes = 0;                                // memory it takes, roughly

    void add(Member&& m) {
        bytes += Cost(m);
        byPath[m.path] = index.members.size();
        index.members.push_back(std::move(m));
    }
    void reindex() {
        byPath.clear();
        bytes = sizeof(CachedIndex);
        for (std::size_t i = 0; i < index.members.size(); ++i) {
            byPath[index.members[i].path] = i;
            bytes += Cost(index.members[i]);
        }
    }
    static std::size_t Cost(const Member& m) { return sizeof(Member) + 64 + 2 * m.path.size(); }
    bool current(const struct stat& st) const {
        return id == IdentityOf(st) && (index.status != ArchiveIndex::Status::ReadError ||
                                        std::chrono::steady_clock::now() - scanned < std::chrono::seconds(10));
    }
};

// One archive's place in the cache. Its lock guards `index` and
// `handedOut` and is held only to look something up, to read the archive's
// headers again, or to put a new index in place; never while members are
// encoded or data is written. An index handed out (LoadIndex) is never
// changed again: the next add puts a copy in its place. Only an add, which
// holds the archive file's exclusive lock, changes an index in place.
struct Slot {
    std::mutex lock;
    std::shared_ptr<CachedIndex> index;
    bool handedOut = false;
    std::atomic<std::size_t> bytes{0};

    void set(std::shared_ptr<CachedIndex> c) {
        bytes = c ? c->bytes : 0;
        index = std::move(c);
        handedOut = false;
    }
};

// The member indexes of the archives used last, at most kMaxArchives of
// them and about kByteBudget bytes together; the least recently used goes
// first, but the one just asked for always stays. Its own lock guards only
// the table and the order of use, and is never held while an index is read.
class IndexCache {
public:
    static constexpr std::size_t kMaxArchives = 32;
    static constexpr std::size_t kByteBudget = std::size_t{128} << 20;

    std::shared_ptr<Slot> slot(const std::string& path) {
        std::lock_guard<std::mutex> guard(mutex_);
        auto it = slots_.find(path);
        if (it != slots_.end()) {
            order_.splice(order_.begin(), order_, it->second.pos);
        } else {
            order_.push_front(path);
            it = slots_.emplace(path, Entry{std::make_shared<Slot>(), order_.begin()}).first;
        }
        std::shared_ptr<Slot> s = it->second.slot;
        trim();
        return s;
    }
    void forget(const std::string& path) {
        std::lock_guard<std::mutex> guard(mutex_);
        auto it = slots_.find(path);
        if (it == slots_.end()) return;
        order_.erase(it->second.pos);
        slots_.erase(it);
    }
    void clear() {
        std::lock_guard<std::mutex> guard(mutex_);
        slots_.clear();
        order_.clear();
    }

private:
    struct Entry {
        std::shared_ptr<Slot> slot;
        std::list<std::string>::iterator pos;
    };
    void trim() {
        std::size_t total = 0;
        for (const auto& [path, e] : slots_) total += e.slot->bytes;
        while (slots_.size() > 1 && (slots_.size() > kMaxArchives || total > kByteBudget)) {
            auto it = slots_.find(order_.back());
            total -= std::min(total, it->second.slot->bytes.load());
            slots_.erase(it);
            order_.pop_back();
        }
    }

    std::mutex mutex_;
    std::unordered_map<std::string, Entry> slots_;
    std::list<std::string> order_;  // most recently used first
};

IndexCache gCache;

// Locks the slot of the archive open as fd, with its index current: from
// the cache while the file is unchanged, else read again under a shared
// lock of the archive file (unless the caller holds it exclusively already:
// `locked`), so that an add in progress is never indexed half-way. The
// archive file's lock is always taken before the slot's, as in an add.
// On success *guard holds the slot's lock and (*slotOut)->index is set.
// A read that failed part-way gives kUnlhaCannotReadArchive with the same
// (the members read before the failure, which only a reader of single
// members may use); that index is taken from the cache for a short while
// only, so that a disk that fails slowly is not read again for every
// member, and one that reads again is read again.
std::int32_t LockIndex(const std::string& path, int fd, bool locked, std::shared_ptr<Slot>* slotOut,
                       std::unique_lock<std::mutex>* guard) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return kUnlhaNotArchive;
    std::shared_ptr<Slot> slot = gCache.slot(path);
    *slotOut = slot;
    *guard = std::unique_lock<std::mutex>(slot->lock);
    const auto found = [&slot] {
        return slot->index->index.status == ArchiveIndex::Status::ReadError ? kUnlhaCannotReadArchive : kUnlhaOk;
    };
    if (slot->index && slot->index->current(st)) return found();
    guard->unlock();
    const bool shared = !locked && ::flock(fd, LOCK_SH) == 0;
    std::int32_t rc = ::fstat(fd, &st) == 0 ? kUnlhaOk : kUnlhaNotArchive;
    if (rc == kUnlhaOk) {
        guard->lock();
        if (!slot->index || !slot->index->current(st)) {
            lzh::FileSource src(fd, static_cast<std::uint64_t>(st.st_size));
            auto c = std::make_shared<CachedIndex>();
            c->id = IdentityOf(st);
            c->index = lzh::ScanArchive(src);
            c->scanned = std::chrono::steady_clock::now();
            if (c->index.status == ArchiveIndex::Status::NotArchive) c.reset();
            else c->reindex();
            slot->set(std::move(c));
        }
        if (!slot->index) {
            rc = kUnlhaNotArchive;
            guard->unlock();
        } else {
            rc = found();
        }
    }
    if (shared) ::flock(fd, LOCK_UN);
    return rc;
}


// Puts the index of an add in place: `base` (the index the add started
// from) with the members it appended, for the archive as it now is. `base`
// is changed in place unless it was handed out or replaced meanwhile.
void Publish(Slot& slot, const std::shared_ptr<CachedIndex>& base, std::vector<Member>&& appended,
             const Identity& id, std::uint64_t validEnd) {
    std::lock_guard<std::mutex> guard(slot.lock);
    std::shared_ptr<CachedIndex> c =
        slot.index == base && !slot.handedOut ? base : std::make_shared<CachedIndex>(*base);
    for (Member& m : appended) c->add(std::move(m));
    c->id = id;
    c->index.validEnd = validEnd;
    c->index.damagedTail = false;
    slot.set(std::move(c));
}

// Writes one member into the open archive at `at`. Order of writes: the
// add-in-progress mark in the header's place, the data after it, then the
// end mark, and the header last, so that until the header lands the byte at
// `at` still reads as the end of the archive and a scan knows what lies
// behind it may be cut away.
class ArchiveAppender : public MemberOutput {
public:
    ArchiveAppender(int afd, std::uint64_t at) : afd_(afd), at_(at) {}

    bool begin(const lzh::MemberAttributes& attr, bool wide) override {
        attr_ = attr;
        wide_ = wide;
        headerLen_ = lzh::BuildHeader(attr, "-lh0-", 0, 0, 0, wide).size();
        return WriteAllAt(afd_, at_, lzh::kAddInProgress.data(), lzh::kAddInProgress.size());
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
        },
        options.stopped);
    return rc;
}

std::int32_t CopyRange(int from, int to, std::uint64_t off, std::uint64_t len, std::uint64_t toOff) {
    std::vector<char> buf(1 << 20);
    while (len > 0) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(len, buf.size()));
        lzh::FileSource s(from, off + n);
        if (!s.readAt(off, buf.data(), n)) return kUnlhaCannotReadArchive;
        if (!WriteAllAt(to, toOff, buf.data(), n)) return kUnlhaCannotWrite;
        off += n;
        toOff += n;
        len -= n;
    }
    return kUnlhaOk;
}

// Rewrites the archive without the members whose paths are replaced, then
// appends the new files; the copy takes the archive's name at the end.
// Members whose paths are in `dropped` are left out too. Without
// options.outcomes the rewrite takes all files or none; with them, a file
// that fails is left out (its outcome says why) and the rest is kept, and a
// failure of the rewrite as a whole is every file's outcome.
std::int32_t RewriteWith(WriteRoot& root, const std::string& rel, int afd, const CachedIndex& c, Slot& slot,
                         const std::vector<FileToAdd>& files, const AddOptions& options,
                         const std::unordered_set<std::string>& dropped = {}) {
    std::unordered_set<std::string> replaced(dropped);
    for (const auto& f : files) replaced.insert(f.memberPath);
    std::vector<bool> drop(c.index.members.size(), false);
    for (std::size_t i = 0; i < c.index.members.size(); ++i) drop[i] = replaced.count(c.index.members[i].path) > 0;
    // The copy is the safe write's temporary file in the archive's folder.
    const auto slash = rel.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : rel.substr(0, slash);
    const std::string leaf = slash == std::string::npos ? rel : rel.substr(slash + 1);
    TempFile tmp;
    auto fail = [&](std::int32_t code) {
        tmp.discard();
        if (options.outcomes) options.outcomes->assign(files.size(), code);
        return code;
    };
    int dirFd = -1;
    if (root.openFolder(folder, &dirFd, false) != 0) return fail(kUnlhaCannotWrite);
    if (tmp.create(dirFd) != 0) return fail(kUnlhaCannotWrite);
    UniqueFd tfd(::dup(tmp.fd()));
    if (tfd.get() < 0) return fail(kUnlhaCannotWrite);
    struct stat st;
    if (::fstat(afd, &st) == 0) ::fchmod(tfd.get(), st.st_mode & 07777);

    auto fresh = std::make_shared<CachedIndex>();
    std::uint64_t at = 0;
    for (std::size_t i = 0; i < c.index.members.size(); ++i) {
        if (drop[i]) continue;
        Member m = c.index.members[i];
        const std::uint64_t len = m.end() - m.headerOffset;
        if (const std::int32_t copied = CopyRange(afd, tfd.get(), m.headerOffset, len, at)) return fail(copied);
        const std::uint64_t shift = m.headerOffset - at;
        m.headerOffset -= shift;
        m.dataOffset -= shift;
        at += len;
        fresh->index.members.push_back(std::move(m));
    }
    const std::uint8_t endMark = 0;
    if (!WriteAllAt(tfd.get(), at, &endMark, 1)) return fail(kUnlhaCannotWrite);
    const std::int32_t rc = AppendAll(tfd.get(), at, files, options, [&](Member&& m) {
        at = m.end();
        fresh->index.members.push_back(std::move(m));
    });
    if (rc != kUnlhaOk && !options.outcomes) return fail(rc);
    // Whatever a failed member wrote lies past the end mark: cut it off.
    if (!WriteAllAt(tfd.get(), at, &endMark, 1) || ::ftruncate(tfd.get(), static_cast<off_t>(at + 1)) != 0 ||
        ::fsync(tfd.get()) != 0)
        return fail(kUnlhaCannotWrite);
    if (tmp.commit(leaf, {}) != 0) return fail(kUnlhaCannotWrite);
    fresh->index.validEnd = at;
    if (::fstat(tfd.get(), &st) == 0) fresh->id = IdentityOf(st);
    fresh->reindex();
    std::lock_guard<std::mutex> guard(slot.lock);
    slot.set(std::move(fresh));
    return rc;
}

}  // namespace

}  // namespace tessel::archive

namespace tessel {
void UnlhaDropIndexCache() { archive::gCache.clear(); }
}  // namespace tessel

namespace tessel::archive {

std::int32_t AddFiles(WriteRoot& root, const std::string& rel, const std::vector<FileToAdd>& files,
                      std::string* report, const AddOptions& options) {
    const std::string archivePath = root.pathOf(rel);
    // A failure before the first member is every file's outcome.
    if (options.outcomes) options.outcomes->assign(files.size(), kUnlhaCannotWrite);
    auto failAll = [&](std::int32_t code) {
        if (options.outcomes) options.outcomes->assign(files.size(), code);
        return code;
    };
    if (!IsWritableMethod(options.method)) return failAll(kUnlhaBadCommand);
    // Never through a link: a link at the archive's name or on the way to
    // it (a dangling one too) is refused rather than written through.
    struct stat before;
    const bool created = root.statEntry(rel, &before) == ENOENT;
    int opened = -1;
    if (const int err = root.openFile(rel, O_RDWR | O_CREAT, 0666, &opened))
        return failAll(err == ELOOP || err == EINVAL ? kUnlhaRefusedPath : kUnlhaCannotWrite);
    UniqueFd afd(opened);
    // Other adds to the same archive, in this process or another, wait for
    // this one; adds to other archives do not.
    if (::flock(afd.get(), LOCK_EX) != 0) return failAll(kUnlhaCannotWrite);
    std::shared_ptr<Slot> slot;
    std::shared_ptr<CachedIndex> base;
    {
        std::unique_lock<std::mutex> guard;
        const std::int32_t rc = LockIndex(archivePath, afd.get(), true, &slot, &guard);
        if (rc != kUnlhaOk) return failAll(rc);
        // Only this add, which holds the archive's exclusive lock, changes
        // this index, so it is read without the slot's lock from here on.
        base = slot->index;
    }
    // Damage with more bytes behind it than a cut-off last member may hide
    // members that a repair could still find: such an archive is left
    // exactly as it is, and nothing is added to it.
    if (lzh::DamagedBeyondCutOff(base->index)) return failAll(kUnlhaNotArchive);
    std::int32_t rc = kUnlhaOk;

    // An archive with another name (a hard link: a snapshot made with
    // "cp -al", or one planted) is never changed in place: the rewrite gives
    // this name a file of its own and leaves the other as it was.
    struct stat file {};
    bool replaces = ::fstat(afd.get(), &file) != 0 || file.st_nlink > 1;
    for (const auto& f : files) replaces = replaces || base->byPath.count(f.memberPath) > 0;
    for (std::size_t i = 0; i < files.size() && !replaces; ++i)
        for (std::size_t k = 0; k < i; ++k)
            if (files[k].memberPath == files[i].memberPath) replaces = true;
    if (replaces) {
        rc = RewriteWith(root, rel, afd.get(), *base, *slot, files, options);
        if (report) *report = rc == kUnlhaOk ? std::to_string(files.size()) + " member(s) written" : "add failed";
        return rc;
    }

    // Append in place, after cutting off what a crashed add may have left.
    std::uint64_t at = base->index.validEnd;
    bool repaired = true;
    if (base->index.damagedTail && ::ftruncate(afd.get(), static_cast<off_t>(at)) != 0) {
        rc = failAll(kUnlhaCannotWrite);
        repaired = false;
    }
    std::vector<Member> appended;
    const std::uint64_t appendFrom = at;
    if (rc == kUnlhaOk)
        rc = AppendAll(afd.get(), at, files, options, [&](Member&& m) {
            at = m.end();
            appended.push_back(std::move(m));
        });
    // A large append starts on its way to the disk now, while the run goes
    // on with other work, instead of all at once in the sync at its end.
    // (Small ones are left to that sync: one write each would cost more.)
    if (rc == kUnlhaOk && at - appendFrom >= kStartWriteBackAt)
        (void)::sync_file_range(afd.get(), static_cast<off_t>(appendFrom), static_cast<off_t>(at - appendFrom),
                                SYNC_FILE_RANGE_WRITE);
    if (rc != kUnlhaOk) {
        // Whatever a failed member wrote lies past the end mark; drop it.
        const std::uint8_t endMark = 0;
        // Should either fail too, the failed member's header place is
        // still empty, and the next add finds a cut-off tail to cut.
        if (WriteAllAt(afd.get(), at, &endMark, 1)) (void)::ftruncate(afd.get(), static_cast<off_t>(at + 1));
    }
    const std::size_t added = appended.size();
    if (rc == kUnlhaOk && added == 0 && base->index.members.empty()) {
        const std::uint8_t endMark = 0;  // an empty archive is just the end mark
        if (!WriteAllAt(afd.get(), 0, &endMark, 1)) rc = kUnlhaCannotWrite;
    }
    if (created && added == 0 && rc != kUnlhaOk) {
        // Do not leave an empty archive behind a failed first add.
        root.removeFile(rel);
        gCache.forget(archivePath);
        return rc;
    }
    struct stat st;
    if (repaired && ::fstat(afd.get(), &st) == 0) Publish(*slot, base, std::move(appended), IdentityOf(st), at);
    else gCache.forget(archivePath);
    if (report) *report = std::to_string(added) + " member(s) added";
    return rc;
}

std::int32_t DropMembers(WriteRoot& root, const std::string& rel, const std::vector<std::string>& paths) {
    const std::string archivePath = root.pathOf(rel);
    int opened = -1;
    if (const int err = root.openFile(rel, O_RDWR, 0, &opened))
        return err == ENOENT ? kUnlhaArchiveMissing : err == ELOOP || err == EINVAL ? kUnlhaRefusedPath : kUnlhaCannotWrite;
    UniqueFd afd(opened);
    if (::flock(afd.get(), LOCK_EX) != 0) return kUnlhaCannotWrite;
    std::shared_ptr<Slot> slot;
    std::shared_ptr<CachedIndex> base;
    {
        std::unique_lock<std::mutex> guard;
        const std::int32_t rc = LockIndex(archivePath, afd.get(), true, &slot, &guard);
        if (rc != kUnlhaOk) return rc;
        base = slot->index;
    }
    if (lzh::DamagedBeyondCutOff(base->index)) return kUnlhaNotArchive;
    const std::unordered_set<std::string> dropped(paths.begin(), paths.end());
    bool any = false;
    for (const Member& m : base->index.members) any = any || dropped.count(m.path) > 0;
    if (!any) return kUnlhaOk;
    return RewriteWith(root, rel, afd.get(), *base, *slot, {}, AddOptions{}, dropped);
}

int OpenArchiveForReading(const std::string& path, std::int32_t* code) {
    // Only a regular file is read, never through a link at the archive's
    // name: a FIFO or device put in its place is never opened (it could
    // block, or do something on open), and a link planted there never
    // stands for the archive (a backup puts that level's copies elsewhere).
    // Missing, there but unreadable (a failure that may pass), or not an
    // archive at all: three answers callers act on differently.
    const auto failed = [code](int err) {
        *code = err == ENOENT ? kUnlhaArchiveMissing
                : err == EIO || err == EACCES || err == EPERM || err == ENOMEM || err == EMFILE || err == ENFILE
                    ? kUnlhaCannotReadArchive
                    : kUnlhaNotArchive;
        return -1;
    };
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return failed(errno);
    if (!S_ISREG(st.st_mode)) return failed(EINVAL);
    if (const int err = InjectedFileFault(path, FileAccess::kOpenForRead)) return failed(err);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return failed(errno);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = errno;
        ::close(fd);
        return failed(S_ISREG(st.st_mode) ? err : EINVAL);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *code = kUnlhaOk;
    return fd;
}

std::shared_ptr<const ArchiveIndex> LoadIndex(const std::string& archivePath, std::int32_t* code) {
    UniqueFd fd(OpenArchiveForReading(archivePath, code));
    if (fd.get() < 0) return nullptr;
    std::shared_ptr<Slot> slot;
    std::unique_lock<std::mutex> guard;
    *code = LockIndex(archivePath, fd.get(), false, &slot, &guard);
    if (*code != kUnlhaOk) return nullptr;
    slot->handedOut = true;
    const std::shared_ptr<CachedIndex>& c = slot->index;
    return std::shared_ptr<const ArchiveIndex>(c, &c->index);
}

std::vector<bool> HoldsPaths(const std::string& archivePath, const std::vector<std::string>& memberPaths) {
    std::vector<bool> held(memberPaths.size(), false);
    std::int32_t code = kUnlhaOk;
    UniqueFd fd(OpenArchiveForReading(archivePath, &code));
    std::shared_ptr<Slot> slot;
    std::unique_lock<std::mutex> guard;
    if (fd.get() < 0 || LockIndex(archivePath, fd.get(), false, &slot, &guard) != kUnlhaOk) return held;
    for (std::size_t i = 0; i < memberPaths.size(); ++i) held[i] = slot->index->byPath.count(memberPaths[i]) > 0;
    return held;
}

std::int32_t FindMember(const std::string& archivePath, const std::string& memberPath, Member* out) {
    std::int32_t code = kUnlhaOk;
    UniqueFd fd(OpenArchiveForReading(archivePath, &code));
    if (fd.get() < 0) return code;
    std::shared_ptr<Slot> slot;
    std::unique_lock<std::mutex> guard;
    // After a read that failed part-way, a member read before the failure
    // is found still; one not found may lie behind it.
    std::int32_t rc = LockIndex(archivePath, fd.get(), false, &slot, &guard);
    if (rc != kUnlhaOk && rc != kUnlhaCannotReadArchive) return rc;
    const CachedIndex* c = slot->index.get();
    auto it = c->byPath.find(memberPath);
    if (it == c->byPath.end() || c->index.members[it->second].isDirectory())
        return rc != kUnlhaOk ? rc : c->index.damagedTail ? kUnlhaNotArchive : kUnlhaNoSuchMember;
    *out = c->index.members[it->second];
    return kUnlhaOk;
}

std::int32_t TestMembers(const std::string& archivePath, const std::vector<const Member*>& members,
                         const std::function<void(std::size_t, std::int32_t)>& checked) {
    std::int32_t code = kUnlhaOk;
    UniqueFd fd(OpenArchiveForReading(archivePath, &code));
    if (fd.get() < 0) return code;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return kUnlhaNotArchive;
    lzh::FileSource src(fd.get(), static_cast<std::uint64_t>(st.st_size));
    for (std::size_t i = 0; i < members.size(); ++i)
        checked(i, CodeOf(lzh::ExtractMemberData(src, *members[i], [](const void*, std::size_t) { return true; })));
    return kUnlhaOk;
}

std::int32_t ExtractMemberTo(const std::string& archivePath, const Member& m, WriteRoot& root, const std::string& rel,
                             const ExtractOptions& options) {
    // The member's own name plays no part: where it goes is rel.
    std::int32_t code = kUnlhaOk;
    UniqueFd afd(OpenArchiveForReading(archivePath, &code));
    if (afd.get() < 0) return code;
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
        rc = CodeOf(lzh::ExtractMemberData(src, m, sink));
        if (rc == kUnlhaOk && ::ftruncate(out, static_cast<off_t>(size)) != 0) rc = kUnlhaCannotWrite;
        return rc == kUnlhaOk ? 0 : EIO;
    };
    FileStamp stamp;
    stamp.mode = m.hasMode ? (m.mode & 0777) : 0644;
    stamp.mtime = options.mtime ? *options.mtime : timespec{static_cast<time_t>(m.mtime), 0};
    const int err = root.writeFile(rel, fill, stamp, options.replace);
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
            if (!IsSafeRelativePath(target->rel)) {
                if (rc == kUnlhaOk) rc = kUnlhaRefusedPath;
                continue;
            }
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
