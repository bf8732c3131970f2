#pragma once
// Decodes many archive members on worker threads, ahead of one consumer
// that takes their bytes member by member in a fixed order. Each archive is
// opened once for the whole run; workers take members in the given order,
// so members listed by rising offset are read front to back. Queued output
// stays under a few MB per worker, and a large member streams through in
// chunks rather than being held whole.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archiver/lzh/archive.h"

namespace tessel::archive {

// The Unlha result code for how reading a member's data ended.
std::int32_t CodeOf(lzh::DataStatus status);

// One member to decode: which of the run's archives holds it, and its
// entry in that archive's index.
struct MemberRead {
    std::size_t archive = 0;
    lzh::Member member;
};

class ExtractPipeline {
public:
    // Starts min(jobs - 1, members) workers, the consumer's thread being
    // the jobs-th; with jobs <= 1 (or one member) every member is decoded
    // on the consumer's thread when it asks.
    ExtractPipeline(std::vector<std::string> archives, std::vector<MemberRead> members, unsigned jobs);
    ~ExtractPipeline();
    ExtractPipeline(const ExtractPipeline&) = delete;
    ExtractPipeline& operator=(const ExtractPipeline&) = delete;

    std::size_t size() const;

    // Passes member i's bytes to `sink` in order and returns its Unlha
    // result code (kUnlhaCrcMismatch after the sink got damaged data, which
    // it must throw away). Members are taken in order: i is 0 on the first
    // call and one more on each following one. When the sink returns false
    // the rest of the member is dropped and kUnlhaCannotWrite returned.
    std::int32_t take(std::size_t i, const std::function<bool(const void*, std::size_t)>& sink);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessel::archive
