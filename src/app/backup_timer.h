#pragma once
// The three daily backup slots of icon mode. Each set time starts one
// backup a day, at the first tick at or after it; at most one backup runs
// per tick, and slots that fall due in the same tick are marked done.
#include <array>
#include <cstdint>

#include "engine/shared_state.h"

namespace tessel {

class BackupTimerSlots {
public:
    // Called every 20 seconds with the current time of day; true when this
    // tick is to start a timed backup.
    bool tick(TimeOfDay now, const std::array<TimeOfDay, 3>& setTimes);
    const std::array<std::int16_t, 3>& latches() const { return latch_; }

private:
    std::array<std::int16_t, 3> latch_{};
};

}  // namespace tessel
