#pragma once
// What became of one file an engine stored, put back or deleted, as the
// engine decides it; its text is made only where a report line, a message
// or a progress line is written.
#include <cerrno>
#include <cstdint>
#include <string>

#include "engine/run_archiver.h"
#include "platform/status.h"

namespace tessel {

namespace file_result_text {
// A target that does not lie inside the root being written (a catalog row
// naming another place, a bulk archive member stored elsewhere) is never
// written.
inline const std::string kOutsideRefused = "登録ディレクトリーの外への書き込みを拒否しました";
// A folder on the way to the target is a symbolic link (or not a folder
// that can be entered without following one): nothing is written through it.
inline const std::string kLinkRefused = "シンボリックリンクを通る書き込みを拒否しました";
}  // namespace file_result_text

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
    case FileResult::Kind::kOutside: return file_result_text::kOutsideRefused;
    case FileResult::Kind::kLink: return file_result_text::kLinkRefused;
    }
    return kSuccess;
}

}  // namespace tessel
