#pragma once
// Times and size of one file as the catalog records them: 100-nanosecond
// ticks since 1601-01-01, shifted by the local zone offset in force at that
// instant, split into two signed 32-bit halves (high first).
#include <cstdint>
#include <string>

namespace tessel {

struct FileTime {
    std::int32_t high = 0;
    std::int32_t low = 0;

    std::int64_t ticks() const {
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) |
                                         static_cast<std::uint32_t>(low));
    }
    static FileTime FromTicks(std::int64_t ticks) {
        auto u = static_cast<std::uint64_t>(ticks);
        return {static_cast<std::int32_t>(static_cast<std::uint32_t>(u >> 32)),
                static_cast<std::int32_t>(static_cast<std::uint32_t>(u))};
    }
};

struct FileTimes {
    FileTime creation;   // birth time where the file system keeps one, else last write
    FileTime lastWrite;
    std::int32_t size = 0;    // low 32 bits of the size
    std::int16_t status = 9;  // 0 read; 9 the entry could not be read (other items unset)
};

// Reads the entry of path itself (a symbolic link is not followed).
FileTimes ReadFileTimes(const std::string& path);

// The same for the entry `name` of an open folder (dirFd, as from
// open(O_PATH | O_DIRECTORY)), which spares the kernel a walk of the whole
// path; `path` is the entry's full path, the one ReadFileTimes would take.
// With dirFd < 0 it is ReadFileTimes(path).
FileTimes ReadFileTimesAt(int dirFd, const char* name, const std::string& path);

// Local ticks for a moment given in seconds and nanoseconds since 1970 UTC.
std::int64_t LocalTicksFromUnix(std::int64_t seconds, std::int64_t nanoseconds);

// The moment (seconds and nanoseconds since 1970 UTC) whose local ticks are
// the given ones, so that LocalTicksFromUnix gives them back exactly. In
// the hour a daylight-saving switch repeats, the earlier moment.
struct UnixTime {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;
};
UnixTime UnixFromLocalTicks(std::int64_t ticks);

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar
// (month 1 to 12).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d);

// What an entry looks like, enough to tell whether it was written to in
// between: any write changes its size, last-write or change time.
struct EntryLook {
    bool read = false;  // false: the entry could not be read
    std::uint64_t dev = 0, ino = 0;
    std::int64_t size = 0;
    std::int64_t mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
    bool operator==(const EntryLook&) const = default;
    // The recorded halves of its last-write time.
    FileTime lastWrite() const { return FileTime::FromTicks(LocalTicksFromUnix(mtimeSec, mtimeNsec)); }
};
// The entry of path itself (a symbolic link is not followed).
EntryLook LookAtEntry(const std::string& path);

struct FileVersion;

// Times, size and version of one regular file with a single path lookup:
// the file is opened (never following a link, never waiting on a FIFO) and
// both are read from the open file. When it cannot be opened, the times
// come from the path and the version is blank. The version is read only
// when the status is 0; anything but a regular file gives status 9.
FileTimes ReadFileInfo(const std::string& path, FileVersion& version);

struct FileTimeTexts {
    std::string date;  // 2003年4月5日(土)
    std::string time;  // 13時5分9秒
};

// Display texts of a local file time.
FileTimeTexts FormatFileTime(FileTime localTime);

}  // namespace tessel
