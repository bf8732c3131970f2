#pragma once
// Path helpers for the native separator "/".
#include <optional>
#include <string>
#include <string_view>

namespace tessel {

inline constexpr char kSep = '/';

// folder + "/" + name, without a second "/" when folder already ends in one.
std::string JoinPath(std::string_view folder, std::string_view name);

// The entry of folder whose name equals name without regard to ASCII case,
// as a full path; nullopt when there is none.
std::optional<std::string> FindNoCase(const std::string& folder, std::string_view name);

// A plain relative path: not empty, no leading or trailing "/", no empty,
// "." or ".." component and no NUL byte. Only such paths are resolved
// below a root.
bool IsSafeRelativePath(std::string_view rel);
// "/" followed by a safe relative path.
bool IsSafeAbsolutePath(std::string_view path);

// dir with a trailing "/" (added when missing).
std::string WithSlash(std::string_view dir);

// Lexical clean-up of a path: repeated "/" and "." components dropped, a
// leading "/" kept ("/" for an absolute path that cleans to nothing).
// False when it holds "..".
bool CleanPath(const std::string& in, std::string* out);

bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);

// The process's current directory.
std::string CurrentDirectory();

}  // namespace tessel
