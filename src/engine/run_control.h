#pragma once
// What an engine running on a worker thread shares with the window that
// watches it: the window's request to stop, and how far the engine has got.
// The engine looks at the request between files and counts its work as it
// goes; the window reads the counts whenever it likes.
#include <atomic>
#include <cstdint>

namespace tessel {

// Thrown inside an engine where it honours a stop request. A stop is not an
// error: it derives from nothing, so that no handler of std::exception on
// the way out takes it for one.
struct RunStopped {};

class RunControl {
public:
    enum class Phase { kStarting, kScanning, kChecking, kStoring, kRestoring };

    void requestStop() { stop_.store(true, std::memory_order_relaxed); }
    bool stopRequested() const { return stop_.load(std::memory_order_relaxed); }
    // Throws RunStopped when a stop has been asked for.
    void stopPoint() const {
        if (stopRequested()) throw RunStopped{};
    }

    std::atomic<Phase> phase{Phase::kStarting};
    // A backup: the files its scans listed and those looked at so far; the
    // versions recorded to be stored, those stored, and the bytes read for
    // them. Summed over the directories of a run.
    std::atomic<std::int64_t> filesToExamine{0}, filesExamined{0};
    std::atomic<std::int64_t> versionsToStore{0}, versionsStored{0}, bytesStored{0};
    // A restore: the actions planned (files to put back, to delete or to
    // pass over) and those done.
    std::atomic<std::int64_t> actionsToDo{0}, actionsDone{0};

private:
    std::atomic<bool> stop_{false};
};

}  // namespace tessel
