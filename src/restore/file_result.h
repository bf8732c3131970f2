#pragma once
// What became of one file a restore put back or deleted, as the engine
// decides it; its text is made only where a report line, a message or a
// progress line is written.
#include <cerrno>
#include <cstdint>
#include <string>

#include "engine/run_archiver.h"
#include "platform/status.h"
#include "restore/restore_messages.h"

namespace tessel {

struct FileResult {
    enum class Kind {
        kDone,      // put back or deleted
        kSystem,    // a system call failed: code is its errno value
        kArchiver,  // the archiver failed: code is its result code
        kOutside,   // the target lies outside the registered directory
        kLink,      // a folder on the way is a symbolic link
    };
    Kind kind = Kind::kDone;
    std::int32_t code = 0;

    bool ok() const { return kind == Kind::kDone; }

    static FileResult System(int err) { return {Kind::kSystem, err}; }
    static FileResult Archiver(std::int32_t rc) { return {Kind::kArchiver, rc}; }
    static FileResult Outside() { return {Kind::kOutside, 0}; }
    // A folder below the root that could not be opened: a link on the way
    // is refused as such.
    static FileResult Folder(int err) { return err == ELOOP ? FileResult{Kind::kLink, err} : System(err); }
    static FileResult Of(const Status& s) { return s.ok() ? FileResult{} : System(s.error()); }
};

// The result as reports show it: "成功", "Error:<errno>", "エラー　<five
// digits>", or the refusal's own text.
inline std::string ResultText(const FileResult& r) {
    switch (r.kind) {
    case FileResult::Kind::kDone: return kSuccess;
    case FileResult::Kind::kSystem: return "Error:" + std::to_string(r.code);
    case FileResult::Kind::kArchiver: return ArchiverResultText(r.code);
    case FileResult::Kind::kOutside: return restore_text::kOutsideRefused;
    case FileResult::Kind::kLink: return restore_text::kLinkRefused;
    }
    return kSuccess;
}

}  // namespace tessel
