#pragma once
// The outcome of one file operation: success, or the errno value with the
// operation and the path it failed on. Every floor may use it.
#include <cstring>
#include <string>
#include <utility>

namespace tessel {

// The result text of an operation that succeeded, as reports and messages
// show it.
inline const std::string kSuccess = "成功";

class Status {
public:
    // Success.
    Status() = default;
    // A failure with errno value `error` (non-zero) of `operation` on `path`.
    static Status Failure(int error, std::string operation, std::string path) {
        Status s;
        s.error_ = error;
        s.operation_ = std::move(operation);
        s.path_ = std::move(path);
        return s;
    }

    bool ok() const { return error_ == 0; }
    explicit operator bool() const { return ok(); }
    // The errno value; 0 on success.
    int error() const { return error_; }
    const std::string& operation() const { return operation_; }
    const std::string& path() const { return path_; }

    // "成功", or "Error:" followed by the errno number.
    std::string resultText() const { return ok() ? kSuccess : "Error:" + std::to_string(error_); }
    // The system's description of the error; empty on success.
    std::string reason() const { return ok() ? std::string() : std::strerror(error_); }
    // "<operation> (<path>): <reason>"; empty on success.
    std::string message() const { return ok() ? std::string() : operation_ + " (" + path_ + "): " + reason(); }

private:
    int error_ = 0;
    std::string operation_;
    std::string path_;
};

}  // namespace tessel
