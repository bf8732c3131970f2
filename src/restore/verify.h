#pragma once
// Checking the backups: every version that claims a copy must have it —
// the archive member with the recorded size whose data decodes with a
// correct CRC, or the plain copy with the recorded size — and every bulk
// archive must read. Each archive is read once, front to back.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/shared_state.h"

namespace tessel {

// The check writes its progress to this status line: kChecking and the
// archive or file it is at.
inline const char* const kVerifyStatusWindow = "VERIFY";
inline const std::string kChecking = "確認しています: ";

struct VerifyOptions {
    std::optional<int> dirNo;      // only this directory
    std::optional<int> runNumber;  // only the versions of this run
    // Records the files whose latest version has no usable copy so that the
    // next backup run stores them again, whatever their level.
    bool mark = false;
};

struct VerifyProblem {
    std::int64_t run = 0;
    std::int64_t level = 0;
    std::string directory;  // FILEKANRI.DIR
    std::string name;
    std::string what;       // what is wrong, in words
};

struct VerifySummary {
    int checked = 0;   // versions and bulk members looked at
    int problems = 0;
    int marked = 0;
};

VerifySummary VerifyBackups(SharedState& state, const VerifyOptions& options,
                            const std::function<void(const VerifyProblem&)>& report);

}  // namespace tessel
