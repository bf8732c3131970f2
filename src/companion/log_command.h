#pragma once
// tessel-backupctl log [--run N]: what a backup run said, from its run log.
#include "companion/commands.h"

namespace tessel {

void CheckLog(const Args& a, const GlobalOptions& options);
int Log(CommandContext& c, const Args& a);

}  // namespace tessel
