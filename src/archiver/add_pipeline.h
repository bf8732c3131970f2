#pragma once
// Encodes many files into members, in order, on several threads: worker
// threads open, read and compress files ahead of the caller, each into a
// bounded queue, while the calling thread hands every file's output, file by
// file in list order, to the output it names. The bytes each output
// receives do not depend on the number of workers.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "archiver/member_encoder.h"

namespace tessel::archive {

// The number of workers when nothing else is said: TESSEL_JOBS when it holds
// a positive number, else one per core.
unsigned DefaultJobs();

// For each file in order: its member goes to outputFor(i), then finish(i,
// result) is called on the calling thread; the first finish that returns
// false stops the run (files after it are not finished). With jobs <= 1 or
// a single file, everything happens on the calling thread. Queued output is
// kept under a few MB per worker.
void EncodeInOrder(const std::vector<FileToAdd>& files, const std::string& method, unsigned jobs,
                   const std::function<MemberOutput&(std::size_t)>& outputFor,
                   const std::function<bool(std::size_t, const EncodedMember&)>& finish,
                   const StopAsked& stopped = {});

}  // namespace tessel::archive
