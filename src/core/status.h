#pragma once
// The error model: Status for the outcome of a file operation (defined with
// the platform code that produces it), and Error for an unexpected failure
// that ends the work in progress.
#include <stdexcept>
#include <string>

#include "platform/status.h"

namespace tessel {

// An unexpected failure; what() says what failed, in the system's words.
// Every exception the floors above the platform throw on purpose derives
// from it; the platform throws std::runtime_error, its base.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace tessel
