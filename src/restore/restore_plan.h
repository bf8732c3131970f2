#pragma once
// The archive members one restore puts back. The walk over the catalog
// finds each version's member in its level archive (each archive's index
// read once, by the archiver) and queues it; the members are then decoded on worker threads
// in the order they lie in their archives, so that each archive is read
// front to back, and written by the calling thread. The walk asks for each
// member's outcome in its own order; members that lie earlier in their
// archive are written first and their outcomes kept until asked for.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archiver/extract_pipeline.h"
#include "archiver/lzh/archive.h"
#include "platform/safe_write.h"

namespace tessel {

class ArchiveRestores {
public:
    ArchiveRestores();
    ~ArchiveRestores();

    // The member stored under exactly <dir>/<name> (dir as recorded, with
    // or without the trailing "/"); a member of that name in another folder
    // is never taken. 0, or the archiver's code for why there is none.
    std::int32_t find(const std::string& archive, const std::string& dir, const std::string& name, lzh::Member* out);

    // Queues a member to put back; returns its ticket (0, 1, ... in the
    // walk's order).
    std::size_t add(const std::string& archive, lzh::Member member);

    // Writes the members in the walk's order instead of by offset: needed
    // when two actions of one walk touch the same file.
    void keepWalkOrder() { walkOrder_ = true; }

    // Starts decoding on `jobs` threads; no member can be added after.
    void start(unsigned jobs);

    // Writes one member's bytes to `name` in the open folder through a
    // temporary file that takes the name only when the data is whole and
    // good, with the member's permission bits and the last-write time
    // `mtime` (the member's whole seconds when unset); without replace, a
    // name that is taken is kept (archive::kUnlhaTargetExists). Returns the
    // archiver's code.
    using Put = std::function<std::int32_t(int dirFd, const std::string& name,
                                           const std::optional<struct timespec>& mtime, bool replace)>;
    // Puts a ticket's member back: calls put at most once (a target that
    // cannot be reached is not written) and returns what becomes of it.
    struct Outcome {
        int folderError = 0;         // errno of opening the target's folder
        std::int32_t code = 0;       // the archiver's code
    };
    using Write = std::function<Outcome(std::size_t ticket, const Put& put)>;

    // The outcome of `ticket`, written now (with the members decoded
    // before it) unless it was written already.
    Outcome outcome(std::size_t ticket, const Write& write);

private:
    std::vector<std::string> archives_;
    std::map<std::string, std::size_t> archiveNo_;
    std::vector<archive::MemberRead> queued_;
    std::vector<FileStamp> stamps_;                    // by ticket: the member's mode and time
    bool walkOrder_ = false;
    std::unique_ptr<archive::ExtractPipeline> pipeline_;
    std::vector<std::size_t> ticketOf_;                // pipeline position -> ticket
    std::vector<std::optional<Outcome>> outcomes_;     // by ticket
    std::size_t written_ = 0;                          // pipeline positions done
};

}  // namespace tessel
