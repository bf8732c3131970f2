#pragma once
// The exit statuses of the program's start-up backup and of the companion,
// so that a script can tell "look at your files" from "try again later".
#include "backup/backup_directory.h"

namespace tessel {

enum ExitStatus {
    kExitOk = 0,      // everything was stored (or restored, or checked)
    kExitFailed = 1,  // something failed; the messages say what
    kExitUsage = 2,   // the command line was wrong; nothing was done
    kExitBusy = 3,    // another backup, restore or catalog upgrade holds the data folder
};

// A backup run ends with kExitFailed when any entry could not be stored.
// Warnings (an older file, a destination that had to be made again) leave
// every entry stored.
inline ExitStatus BackupExitStatus(const BackupResult& result) { return result.failed() ? kExitFailed : kExitOk; }

}  // namespace tessel
