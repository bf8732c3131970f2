#pragma once
// Reporting file operations and the login name.
#include <string>
#include <string_view>

#include "platform/safe_write.h"

namespace tessel {

inline const std::string kSuccess = "成功";

// Whether the source of a copy may be a symbolic link to the file to read.
// Files the program backs up never are; installation files may be.
enum class SourceLinks { kRefuse, kFollow };

// Copies source to target, replacing an existing target (a link there is
// replaced, not followed). The copy keeps the source's last-write time and
// permission bits, and is written through the safe write under a temporary
// name and renamed, so a crash never leaves a half-written target. The
// target's folder is taken as it is. Nothing is synced.
// Returns "成功", or "Error:" followed by the errno number.
std::string CopyFileReport(const std::string& source, const std::string& target,
                           SourceLinks links = SourceLinks::kRefuse);

// The same into the file `rel` below root, never through a link below the
// root (ELOOP then). A stamp item that is set replaces the source's.
// Without replace an existing target is kept ("Error:" + EEXIST).
std::string CopyFileReport(const std::string& source, WriteRoot& root, std::string_view rel,
                           const FileStamp& stamp = {}, bool replace = true);

// Deletes a file. Returns "成功", or "Error:" followed by the errno number.
std::string DeleteFileReport(const std::string& path);

// The login name of the effective user.
std::string GetLoginUserName();

}  // namespace tessel
