#include "restore/restore_plan.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>

#include "archiver/archive_ops.h"
#include "archiver/unlha.h"
#include "engine/version_store.h"
#include "platform/safe_write.h"
#include "platform/positional_io.h"

namespace tessel {
namespace {

// Writes the member's bytes into the open file; runs of 64 KB of zero
// bytes become holes, so that large sparse files stay sparse.
class SparseWriter {
public:
    explicit SparseWriter(int fd) : fd_(fd) {}
    bool write(const void* buf, std::size_t n) {
        const auto* p = static_cast<const std::uint8_t*>(buf);
        for (std::size_t i = 0; i < n;) {
            const std::size_t piece = std::min<std::size_t>(n - i, 65536);
            const bool zero = p[i] == 0 && std::memcmp(p + i, p + i + 1, piece - 1) == 0;
            if (!zero && !WriteAllAt(fd_, size_, p + i, piece)) return false;
            size_ += piece;
            holeAtEnd_ = zero;
            i += piece;
        }
        return true;
    }
    // A hole at the end still has to be part of the file.
    bool finish() { return !holeAtEnd_ || ::ftruncate(fd_, static_cast<off_t>(size_)) == 0; }

private:
    int fd_;
    std::uint64_t size_ = 0;
    bool holeAtEnd_ = false;
};

}  // namespace

ArchiveRestores::ArchiveRestores() = default;
ArchiveRestores::~ArchiveRestores() = default;

std::int32_t ArchiveRestores::find(const std::string& archive, const std::string& dir, const std::string& name,
                                   lzh::Member* out) {
    // The archiver's own index of the archive, read once and kept between
    // calls: nothing of it is copied here.
    return archive::FindMember(archive, MemberPathOf(dir, name), out);
}

std::size_t ArchiveRestores::add(const std::string& archive, lzh::Member member) {
    auto [it, added] = archiveNo_.try_emplace(archive, archives_.size());
    if (added) archives_.push_back(archive);
    FileStamp stamp;
    stamp.mode = member.hasMode ? (member.mode & 0777) : 0644;
    stamp.mtime = timespec{static_cast<time_t>(member.mtime), 0};
    stamps_.push_back(stamp);
    member.path = {};  // decoding needs only where the data lies
    queued_.push_back({it->second, std::move(member)});
    return queued_.size() - 1;
}

void ArchiveRestores::start(unsigned jobs) {
    ticketOf_.resize(queued_.size());
    std::iota(ticketOf_.begin(), ticketOf_.end(), std::size_t{0});
    if (!walkOrder_)
        std::stable_sort(ticketOf_.begin(), ticketOf_.end(), [&](std::size_t a, std::size_t b) {
            const auto& x = queued_[a];
            const auto& y = queued_[b];
            return x.archive != y.archive ? x.archive < y.archive : x.member.dataOffset < y.member.dataOffset;
        });
    std::vector<archive::MemberRead> ordered;
    ordered.reserve(queued_.size());
    for (std::size_t t : ticketOf_) ordered.push_back(std::move(queued_[t]));
    queued_.clear();
    queued_.shrink_to_fit();
    outcomes_.assign(ordered.size(), std::nullopt);
    pipeline_ = std::make_unique<archive::ExtractPipeline>(std::move(archives_), std::move(ordered), jobs);
}

ArchiveRestores::Outcome ArchiveRestores::outcome(std::size_t ticket, const Write& write) {
    while (!outcomes_.at(ticket)) {
        const std::size_t pos = written_++;
        bool taken = false;
        const std::size_t ticket = ticketOf_[pos];
        const Put put = [&](int dirFd, const std::string& name, const std::optional<struct timespec>& mtime,
                            bool replace) {
            taken = true;
            FileStamp stamp = stamps_[ticket];
            if (mtime) stamp.mtime = mtime;
            TempFile tmp;
            if (tmp.create(dirFd) != 0) {
                pipeline_->take(pos, [](const void*, std::size_t) { return true; });
                return std::int32_t{kUnlhaCannotWrite};
            }
            SparseWriter out(tmp.fd());
            const std::int32_t rc = pipeline_->take(pos, [&](const void* p, std::size_t n) { return out.write(p, n); });
            if (rc != kUnlhaOk) return rc;  // the temporary file goes with tmp
            if (!out.finish()) return std::int32_t{kUnlhaCannotWrite};
            if (const int err = tmp.commit(name, stamp, replace))
                return err == EEXIST && !replace ? archive::kUnlhaTargetExists : std::int32_t{kUnlhaCannotWrite};
            return std::int32_t{kUnlhaOk};
        };
        const Outcome o = write(ticket, put);
        if (!taken) pipeline_->take(pos, [](const void*, std::size_t) { return true; });
        outcomes_[ticket] = o;
    }
    return *outcomes_[ticket];
}

}  // namespace tessel
