#include "archiver/add_pipeline.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "archiver/unlha.h"

namespace tessel::archive {
namespace {

constexpr std::size_t kChunk = 256 << 10;        // bytes a worker gathers before queueing them
constexpr std::size_t kQueuePerWorker = 4 << 20; // queued bytes allowed per worker
constexpr std::size_t kAheadPerWorker = 64;      // files taken but not yet written, per worker

// One step of a member's output, replayed later on the calling thread.
struct Event {
    enum class Kind { Begin, Data, Restart } kind;
    lzh::MemberAttributes attr;
    bool wide = false;
    std::vector<std::uint8_t> bytes;
};

struct Job {
    std::deque<Event> events;
    std::size_t queued = 0;  // bytes in events
    bool done = false;
    EncodedMember result;
};

class Pipeline {
public:
    Pipeline(const std::vector<FileToAdd>& files, const std::string& method, const StopAsked& stopped, unsigned workers)
        : files_(files), method_(method), stopped_(stopped), budget_(kQueuePerWorker * workers), ahead_(kAheadPerWorker * workers) {}

    void work() {
        for (;;) {
            std::size_t i;
            {
                // Empty and tiny files queue almost no bytes: the number of
                // files taken ahead of the writer is bounded too.
                std::unique_lock<std::mutex> lock(mu_);
                workerCv_.wait(lock, [&] { return stop_ || next_ >= files_.size() || next_ < current_ + ahead_; });
                if (stop_ || next_ >= files_.size()) return;
                i = next_++;
                jobs_[i] = std::make_unique<Job>();
            }
            EncodedMember result;
            try {
                QueueOutput out(*this, i);
                result = EncodeMember(files_[i], method_, out, stopped_);
                if (result.rc == kUnlhaOk && !out.flush()) result.rc = kUnlhaCannotWrite;
            } catch (const std::exception&) {
                result = {};
                result.rc = kUnlhaCannotWrite;  // out of memory or threads
            }
            std::lock_guard<std::mutex> lock(mu_);
            if (auto it = jobs_.find(i); it != jobs_.end()) {  // gone when the writer gave up on it
                it->second->done = true;
                it->second->result = result;
            }
            if (i == current_) writerCv_.notify_one();
        }
    }

    void stop() {
        std::lock_guard<std::mutex> lock(mu_);
        stop_ = true;
        writerCv_.notify_all();
        workerCv_.notify_all();
    }

    // The calling thread's part: replays each job into its output in order.
    void write(const std::function<MemberOutput&(std::size_t)>& outputFor,
               const std::function<bool(std::size_t, const EncodedMember&)>& finish) {
        for (std::size_t i = 0; i < files_.size(); ++i) {
            MemberOutput& out = outputFor(i);
            EncodedMember result;
            bool failed = false;
            for (;;) {
                std::deque<Event> events;
                bool done;
                {
                    std::unique_lock<std::mutex> lock(mu_);
                    writerCv_.wait(lock, [&] {
                        auto it = jobs_.find(i);
                        return it != jobs_.end() && (!it->second->events.empty() || it->second->done);
                    });
                    Job& job = *jobs_[i];
                    events.swap(job.events);
                    std::size_t freed = 0;
                    for (const auto& e : events) freed += e.bytes.size();
                    queued_ -= freed;
                    job.queued = 0;
                    done = job.done;
                    if (done) result = job.result;
                    if (freed > 0) workerCv_.notify_all();
                }
                for (const auto& e : events) {
                    if (failed) break;
                    switch (e.kind) {
                    case Event::Kind::Begin: failed = !out.begin(e.attr, e.wide); break;
                    case Event::Kind::Data: failed = !out.data(e.bytes.data(), e.bytes.size()); break;
                    case Event::Kind::Restart: out.restart(); break;
                    }
                }
                if (failed || done) break;
            }
            {
                std::lock_guard<std::mutex> lock(mu_);
                jobs_.erase(i);
                current_ = i + 1;
                if (failed) stop_ = true;
                workerCv_.notify_all();
            }
            if (failed) {
                result = {};
                result.rc = kUnlhaCannotWrite;
            }
            if (!finish(i, result) || failed) break;
        }
        stop();
    }

private:
    // A worker's output: gathers data into chunks and queues them, waiting
    // while the queue is full unless its file is the one being written.
    class QueueOutput : public MemberOutput {
    public:
        QueueOutput(Pipeline& p, std::size_t job) : p_(p), job_(job) { chunk_.reserve(kChunk); }
        bool begin(const lzh::MemberAttributes& attr, bool wide) override {
            Event e{Event::Kind::Begin, attr, wide, {}};
            return p_.push(job_, std::move(e));
        }
        bool data(const void* buf, std::size_t n) override {
            const auto* b = static_cast<const std::uint8_t*>(buf);
            while (n > 0) {
                std::size_t take = std::min(n, kChunk - chunk_.size());
                chunk_.insert(chunk_.end(), b, b + take);
                b += take;
                n -= take;
                if (chunk_.size() == kChunk && !flush()) return false;
            }
            return true;
        }
        void restart() override {
            chunk_.clear();
            p_.push(job_, Event{Event::Kind::Restart, {}, false, {}});
        }
        bool flush() {
            if (chunk_.empty()) return true;
            Event e{Event::Kind::Data, {}, false, std::move(chunk_)};
            chunk_ = {};
            chunk_.reserve(kChunk);
            return p_.push(job_, std::move(e));
        }

    private:
        Pipeline& p_;
        std::size_t job_;
        std::vector<std::uint8_t> chunk_;
    };

    bool push(std::size_t job, Event&& e) {
        std::unique_lock<std::mutex> lock(mu_);
        if (stop_) return false;  // the writer may have dropped the job already
        const std::size_t n = e.bytes.size();
        Job& j = *jobs_.at(job);
        // Files ahead of the writer share the budget; the file being
        // written has its own share, which the writer drains, so a slow
        // archive disk holds every worker back and nothing waits forever.
        workerCv_.wait(lock, [&] {
            return stop_ || (job == current_ ? j.queued < kQueuePerWorker : queued_ + n <= budget_);
        });
        if (stop_) return false;
        queued_ += n;
        j.queued += n;
        j.events.push_back(std::move(e));
        if (job == current_) writerCv_.notify_one();
        return true;
    }

    const std::vector<FileToAdd>& files_;
    const std::string& method_;
    const StopAsked& stopped_;
    const std::size_t budget_, ahead_;
    std::mutex mu_;
    // The writer waits for output of the file it writes; workers wait for
    // room in the queue or in the files taken ahead. Each is woken only
    // when that may have changed.
    std::condition_variable writerCv_, workerCv_;
    std::map<std::size_t, std::unique_ptr<Job>> jobs_;  // taken and not yet written
    std::size_t next_ = 0;     // the next file a worker takes
    std::size_t current_ = 0;  // the file being written
    std::size_t queued_ = 0;   // bytes queued in all jobs
    bool stop_ = false;
};

}  // namespace

unsigned DefaultJobs() {
    if (const char* env = std::getenv("TESSEL_JOBS")) {
        char* end = nullptr;
        long n = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && n > 0) return static_cast<unsigned>(std::min(n, 256L));
    }
    unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? cores : 1;
}

void EncodeInOrder(const std::vector<FileToAdd>& files, const std::string& method, unsigned jobs,
                   const std::function<MemberOutput&(std::size_t)>& outputFor,
                   const std::function<bool(std::size_t, const EncodedMember&)>& finish, const StopAsked& stopped) {
    auto serial = [&] {
        for (std::size_t i = 0; i < files.size(); ++i)
            if (!finish(i, EncodeMember(files[i], method, outputFor(i), stopped))) return;
    };
    const unsigned workers = static_cast<unsigned>(std::min<std::size_t>(jobs, files.size()));
    if (workers <= 1) return serial();
    Pipeline pipeline(files, method, stopped, workers);
    std::vector<std::thread> threads;
    try {
        for (unsigned w = 0; w < workers; ++w) threads.emplace_back([&pipeline] { pipeline.work(); });
    } catch (const std::system_error&) {
        // Fewer threads than asked for: the ones that started do the work.
    }
    if (threads.empty()) return serial();
    try {
        pipeline.write(outputFor, finish);
    } catch (...) {
        pipeline.stop();
        for (auto& t : threads) t.join();
        throw;
    }
    for (auto& t : threads) t.join();
}

}  // namespace tessel::archive
