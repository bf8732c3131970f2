#pragma once
// Reporting file operations and the login name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/safe_write.h"
#include "platform/status.h"

namespace tessel {

// Whether the source of a copy may be a symbolic link to the file to read.
// Files the program backs up never are; installation files may be.
enum class SourceLinks { kRefuse, kFollow };

// Copies source to target, replacing an existing target (a link there is
// replaced, not followed). The copy keeps the source's last-write time and
// permission bits, and is written through the safe write under a temporary
// name and renamed, so a crash never leaves a half-written target. The
// target's folder is taken as it is. Nothing is synced.
// A failure names the file that could not be read or written.
Status CopyFile(const std::string& source, const std::string& target, SourceLinks links = SourceLinks::kRefuse);

// The same into the file `rel` below root, never through a link below the
// root (ELOOP then). A stamp item that is set replaces the source's.
// Without replace an existing target is kept (EEXIST).
Status CopyFile(const std::string& source, WriteRoot& root, std::string_view rel, const FileStamp& stamp = {},
                bool replace = true);

// Deletes a file.
Status DeleteFile(const std::string& path);

// The login name of the effective user.
std::string GetLoginUserName();

}  // namespace tessel
