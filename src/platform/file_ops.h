#pragma once
// Reporting file operations and the login name.
#include <string>

namespace tessel {

inline const std::string kSuccess = "成功";

// Copies source to target, replacing an existing target. The copy keeps the
// source's last-write time and permission bits, and is written under a
// temporary name and renamed, so a crash never leaves a half-written target.
// Returns "成功", or "Error:" followed by the errno number.
std::string CopyFileReport(const std::string& source, const std::string& target);

// Deletes a file. Returns "成功", or "Error:" followed by the errno number.
std::string DeleteFileReport(const std::string& path);

// The login name of the effective user.
std::string GetLoginUserName();

}  // namespace tessel
