#pragma once
// The system log (syslog; the journal takes it), for what runs nobody
// watches have to say. Entries carry the tag "tessel-backup", so that
// `journalctl --user -t tessel-backup` finds them.
#include <string>

namespace tessel {

inline const char* const kSystemLogTag = "tessel-backup";

enum class SystemLogLevel { kInfo, kWarning, kError };

// Sends one entry; a text of several lines is sent as one entry per line.
void WriteSystemLog(SystemLogLevel level, const std::string& text);

// Whether standard error is already the journal (systemd says so in
// JOURNAL_STREAM): what is written there reaches the journal without the
// system log.
bool StandardErrorIsJournal();

}  // namespace tessel
