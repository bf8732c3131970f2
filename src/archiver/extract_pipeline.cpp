#include "archiver/extract_pipeline.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "archiver/archive_ops.h"
#include "archiver/unlha.h"

namespace tessel::archive {
namespace {

constexpr std::size_t kChunk = 256 << 10;        // bytes a worker gathers before queueing them
constexpr std::size_t kQueuePerWorker = 4 << 20; // queued bytes allowed per worker
constexpr std::size_t kAheadPerWorker = 64;      // members taken but not yet consumed, per worker
constexpr std::size_t kSpareChunks = 16;         // consumed chunk buffers kept for reuse

}  // namespace

std::int32_t CodeOf(lzh::DataStatus s) {
    switch (s) {
    case lzh::DataStatus::Ok: return kUnlhaOk;
    case lzh::DataStatus::Corrupt:
    case lzh::DataStatus::CrcMismatch: return kUnlhaCrcMismatch;
    case lzh::DataStatus::Unsupported: return kUnlhaUnsupportedMethod;
    case lzh::DataStatus::ReadFailed: return kUnlhaCannotReadArchive;  // the disk, not the data
    case lzh::DataStatus::WriteFailed: return kUnlhaCannotWrite;
    }
    return kUnlhaNotArchive;
}

namespace {

// An archive opened once for the run; workers read it with pread.
struct OpenArchive {
    int fd = -1;
    std::uint64_t size = 0;
    std::int32_t code = kUnlhaOk;  // why it could not be opened
};

}  // namespace

class ExtractPipeline::Impl {
public:
    Impl(std::vector<std::string> archives, std::vector<MemberRead> members, unsigned jobs)
        : paths_(std::move(archives)), members_(std::move(members)), open_(paths_.size()) {
        // The consumer's thread is busy too: it writes what the workers
        // decode. With jobs threads in all, jobs - 1 decode.
        if (jobs <= 1 || members_.size() <= 1) return;
        const unsigned workers = static_cast<unsigned>(std::min<std::size_t>(jobs - 1, members_.size()));
        budget_ = kQueuePerWorker * workers;
        ahead_ = kAheadPerWorker * workers;
        try {
            for (unsigned w = 0; w < workers; ++w) threads_.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // Fewer threads than asked for: the ones that started do the work.
        }
    }

    ~Impl() {
        {
            std::lock_guard<std::mutex> lock(mu_);
            stop_ = true;
        }
        workerCv_.notify_all();
        writerCv_.notify_all();
        for (auto& t : threads_) t.join();
        for (auto& a : open_)
            if (a && a->fd >= 0) ::close(a->fd);
    }

    std::size_t size() const { return members_.size(); }

    std::int32_t take(std::size_t i, const std::function<bool(const void*, std::size_t)>& sink) {
        bool sinkOk = true;
        auto deliver = [&](const void* p, std::size_t n) {
            if (sinkOk && n > 0) sinkOk = sink(p, n);
        };
        std::int32_t rc;
        if (threads_.empty()) {
            rc = decode(i, [&](const void* p, std::size_t n) {
                deliver(p, n);
                return sinkOk;
            });
        } else {
            rc = drain(i, deliver);
        }
        return sinkOk ? rc : kUnlhaCannotWrite;
    }

private:
    struct Job {
        std::deque<std::vector<std::uint8_t>> chunks;
        std::size_t queued = 0;  // bytes in chunks
        bool done = false;
        bool blocked = false;  // its worker waits for room to queue more
        std::int32_t rc = kUnlhaOk;
    };

    OpenArchive& archive(std::size_t a) {
        std::lock_guard<std::mutex> lock(openMu_);
        if (!open_[a]) {
            OpenArchive o;
            o.fd = OpenArchiveForReading(paths_[a], &o.code);
            struct stat st {};
            if (o.fd < 0) {
            } else if (::fstat(o.fd, &st) != 0) {
                o.code = kUnlhaNotArchive;
            } else {
                o.size = static_cast<std::uint64_t>(st.st_size);
                // The members are read in rising order: let the kernel read ahead.
                ::posix_fadvise(o.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
            }
            open_[a] = o;
        }
        return *open_[a];
    }

    std::int32_t decode(std::size_t i, const lzh::WriteFn& out) {
        const MemberRead& r = members_[i];
        const OpenArchive& a = archive(r.archive);
        if (a.code != kUnlhaOk) return a.code;
        lzh::FileSource src(a.fd, a.size);
        return CodeOf(lzh::ExtractMemberData(src, r.member, out));
    }

    void work() {
        for (;;) {
            std::size_t i;
            {
                std::unique_lock<std::mutex> lock(mu_);
                ++aheadWaiting_;
                workerCv_.wait(lock, [&] { return stop_ || next_ >= members_.size() || next_ < current_ + ahead_; });
                --aheadWaiting_;
                if (stop_ || next_ >= members_.size()) return;
                i = next_++;
                jobs_[i] = std::make_unique<Job>();
            }
            std::int32_t rc;
            try {
                std::vector<std::uint8_t> chunk;
                {
                    std::lock_guard<std::mutex> lock(mu_);
                    chunk = spareChunk();
                }
                rc = decode(i, [&](const void* p, std::size_t n) {
                    const auto* b = static_cast<const std::uint8_t*>(p);
                    while (n > 0) {
                        const std::size_t piece = std::min(n, kChunk - chunk.size());
                        chunk.insert(chunk.end(), b, b + piece);
                        b += piece;
                        n -= piece;
                        if (chunk.size() == kChunk && !push(i, chunk)) return false;
                    }
                    return true;
                });
                if (!chunk.empty() && !push(i, chunk) && rc == kUnlhaOk) rc = kUnlhaCannotWrite;
            } catch (const std::exception&) {
                rc = kUnlhaCannotWrite;  // out of memory
            }
            std::lock_guard<std::mutex> lock(mu_);
            Job& job = *jobs_.at(i);
            job.done = true;
            job.rc = rc;
            if (i == current_) writerCv_.notify_one();
        }
    }

    // Queues a full chunk of member `i`, waiting for room: the member being
    // consumed has its own share, the ones ahead of it share the budget.
    bool push(std::size_t i, std::vector<std::uint8_t>& chunk) {
        std::unique_lock<std::mutex> lock(mu_);
        Job& job = *jobs_.at(i);
        const std::size_t n = chunk.size();
        ++budgetWaiting_;
        job.blocked = true;
        workerCv_.wait(lock, [&] {
            return stop_ || (i == current_ ? job.queued < kQueuePerWorker : queued_ + n <= budget_);
        });
        job.blocked = false;
        --budgetWaiting_;
        if (stop_) return false;
        queued_ += n;
        job.queued += n;
        job.chunks.push_back(std::move(chunk));
        chunk = spareChunk();
        if (i == current_) writerCv_.notify_one();
        return true;
    }

    // An empty buffer with room for a chunk; mu_ is held.
    std::vector<std::uint8_t> spareChunk() {
        std::vector<std::uint8_t> chunk;
        if (!spare_.empty()) {
            chunk = std::move(spare_.back());
            spare_.pop_back();
        } else {
            chunk.reserve(kChunk);
        }
        return chunk;
    }

    template <typename Deliver>
    std::int32_t drain(std::size_t i, Deliver& deliver) {
        bool wake;
        {
            std::lock_guard<std::mutex> lock(mu_);
            current_ = i;
            // The worker holding this member may be waiting for room that
            // the members ahead of it took: it now has a share of its own.
            auto it = jobs_.find(i);
            wake = it != jobs_.end() && it->second->blocked;
        }
        if (wake) workerCv_.notify_all();
        std::int32_t rc = kUnlhaOk;
        for (;;) {
            std::deque<std::vector<std::uint8_t>> chunks;
            bool done;
            {
                std::unique_lock<std::mutex> lock(mu_);
                writerCv_.wait(lock, [&] {
                    auto it = jobs_.find(i);
                    return stop_ || (it != jobs_.end() && (!it->second->chunks.empty() || it->second->done));
                });
                if (stop_) return kUnlhaCannotWrite;
                Job& job = *jobs_[i];
                chunks.swap(job.chunks);
                queued_ -= job.queued;
                job.queued = 0;
                done = job.done;
                rc = job.rc;
                const bool blocked = job.blocked;
                if (done) {
                    jobs_.erase(i);
                    current_ = i + 1;
                }
                // Workers held back by the limits are woken once there is
                // room for a good batch, not after every member, so that
                // small files do not cost a thread switch each.
                wake = blocked || (aheadWaiting_ > 0 && next_ + ahead_ / 2 <= current_ + ahead_) ||
                       (budgetWaiting_ > 0 && queued_ <= budget_ / 2);
            }
            if (wake) workerCv_.notify_all();
            for (const auto& c : chunks) deliver(c.data(), c.size());
            {
                // Consumed chunks go back for reuse: fresh buffers would cost
                // page faults on every member.
                std::lock_guard<std::mutex> lock(mu_);
                for (auto& c : chunks) {
                    if (spare_.size() >= kSpareChunks) break;
                    c.clear();
                    spare_.push_back(std::move(c));
                }
            }
            if (done) return rc;
        }
    }

    const std::vector<std::string> paths_;
    const std::vector<MemberRead> members_;
    std::mutex openMu_;
    std::vector<std::optional<OpenArchive>> open_;
    std::vector<std::thread> threads_;
    std::size_t budget_ = 0, ahead_ = 0;
    std::mutex mu_;
    // The consumer waits for output of the member it takes; workers wait for
    // room in the queue or in the members taken ahead.
    std::condition_variable writerCv_, workerCv_;
    std::map<std::size_t, std::unique_ptr<Job>> jobs_;  // taken and not yet consumed
    std::size_t next_ = 0;     // the next member a worker takes
    std::size_t current_ = 0;  // the member being consumed
    std::size_t queued_ = 0;   // bytes queued in all jobs
    unsigned aheadWaiting_ = 0;   // workers waiting to take a member
    unsigned budgetWaiting_ = 0;  // workers waiting for room in the queue
    std::vector<std::vector<std::uint8_t>> spare_;  // consumed chunks kept for reuse
    bool stop_ = false;
};

ExtractPipeline::ExtractPipeline(std::vector<std::string> archives, std::vector<MemberRead> members, unsigned jobs)
    : impl_(std::make_unique<Impl>(std::move(archives), std::move(members), jobs)) {}
ExtractPipeline::~ExtractPipeline() = default;
std::size_t ExtractPipeline::size() const { return impl_->size(); }
std::int32_t ExtractPipeline::take(std::size_t i, const std::function<bool(const void*, std::size_t)>& sink) {
    return impl_->take(i, sink);
}

}  // namespace tessel::archive
