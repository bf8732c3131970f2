#pragma once
// Two engines never run at once on one data folder: they share the work
// table SUBDIR, the counters and the report. A backup, restore or catalog
// upgrade holds this lock, a file in the data folder, while it runs; the
// windows and the command-line companion take it alike.
#include <string>

namespace tessel {

inline const std::string kEngineBusy = "別のバックアップ・復元・カタログ更新が実行中のため、開始できません。";

class EngineLock {
public:
    explicit EngineLock(const std::string& dataFolder);
    ~EngineLock();
    EngineLock(const EngineLock&) = delete;
    EngineLock& operator=(const EngineLock&) = delete;

    // Takes the lock without waiting; false when another holder has it.
    bool tryLock();
    // Waits up to the given seconds for the lock.
    bool lockWithin(double seconds);
    void unlock();
    bool held() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

// True when some holder has the lock of the data folder now.
bool EngineBusy(const std::string& dataFolder);

}  // namespace tessel
