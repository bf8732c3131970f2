#pragma once
// One file to one member's data: opens the file, compresses it with the
// method asked for, or stores it (-lh0-) when it does not shrink. The data
// goes to a MemberOutput as it is produced, so that a file of any size
// streams without being held in memory.
#include <cstdint>
#include <functional>
#include <string>

#include "archiver/lzh/archive.h"

namespace tessel::archive {

struct FileToAdd {
    std::string source;      // path of the file to read
    std::string memberPath;  // relative "/"-separated path to store
    // The path is stored although readers going by member names refuse it
    // (lzh::IsSafeMemberPath): it is found through a catalog only. It must
    // still be a plain relative path.
    bool byCatalogOnly = false;
};

// Receives one member, in this order: begin once, then data and restart.
class MemberOutput {
public:
    virtual ~MemberOutput() = default;
    // What the header will record; `wide` asks for the 64-bit size
    // extension. Comes before any data; false stops the work.
    virtual bool begin(const lzh::MemberAttributes& attr, bool wide) = 0;
    // The next bytes of member data; false stops the work.
    virtual bool data(const void* buf, std::size_t n) = 0;
    // Every byte given so far is void: the file is stored instead, and its
    // bytes follow from the start.
    virtual void restart() = 0;
};

// The outcome: rc is an Unlha result code; the rest is valid when it is 0.
struct EncodedMember {
    std::int32_t rc = 0;
    std::string method;  // "-lh0-", "-lh5-" or "-lh7-"
    std::uint64_t compressedSize = 0;
    std::uint64_t originalSize = 0;
    std::uint16_t crc = 0;
};

// True for the methods EncodeMember can write: "-lh5-" and "-lh7-".
bool IsWritableMethod(const std::string& method);

// Asked between the chunks of a file: true gives up the file (kUnlhaStopped).
using StopAsked = std::function<bool()>;

// Reads f.source (never through a symbolic link, never blocking on a FIFO)
// and hands its member to `out`.
EncodedMember EncodeMember(const FileToAdd& f, const std::string& method, MemberOutput& out,
                           const StopAsked& stopped = {});

}  // namespace tessel::archive
