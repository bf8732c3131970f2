#pragma once
// The retention policy kept in the settings file BKPDEF.INI, one line per
// rule: KEEPLAST=, KEEPDAILY=, KEEPWEEKLY=, KEEPMONTHLY=, KEEPYEARLY=, each
// a whole number (0 or no line: the rule is off). Readers that do not know
// these keys pass the lines over. When a rule is set, the policy is applied
// after every automatic or timed backup.
#include <optional>
#include <string>

#include "engine/shared_state.h"
#include "retention/retention_policy.h"

namespace tessel {

// The largest count a rule takes.
inline constexpr int kMaxKeepCount = 100000;

// The stored policy (all rules off when the file has none of the keys).
// nullopt, with *error set to the line at fault, when a value is no whole
// number from 0 to kMaxKeepCount.
std::optional<RetentionPolicy> ReadStoredPolicy(const std::string& dataFolder, std::string* error);

// Writes the policy into the settings file, replacing the lines of these
// keys and keeping every other line as it is. 0 or the errno.
int WriteStoredPolicy(const std::string& dataFolder, const RetentionPolicy& policy);

// After an automatic or timed backup, while its engine lock is still held:
// applies the stored policy when one is set. Only failures are said.
void ForgetAfterAutomaticBackup(SharedState& state);

}  // namespace tessel
