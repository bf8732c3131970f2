#pragma once
// tessel-backupctl forget: the retention policy from the command line.
#include "companion/commands.h"

namespace tessel {

// Its help entry.
CommandDef ForgetCommandDef();
// Refuses a command line without any --keep-... rule or with a bad count.
void CheckForget(const Args& a, const GlobalOptions& o);
// Prints every run (kept with its reasons, or removed), then the counts and
// the bytes freed; --dry-run changes nothing. Exit status 1 when something
// could not be removed or the forget was refused.
int Forget(CommandContext& c, const Args& a);

}  // namespace tessel
