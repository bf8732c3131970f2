#include "app/backup_timer.h"

namespace tessel {

bool BackupTimerSlots::tick(TimeOfDay now, const std::array<TimeOfDay, 3>& setTimes) {
    bool started = false;
    for (size_t slot = 0; slot < setTimes.size(); ++slot) {
        bool due = setTimes[slot] != 0 && now >= setTimes[slot];
        if (!due) {
            latch_[slot] = 0;
            continue;
        }
        if (latch_[slot] == 0 && !started) started = true;
        latch_[slot] = 1;
    }
    return started;
}

}  // namespace tessel
