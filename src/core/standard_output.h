#pragma once
// What a program writes to standard output must reach it: a full disk or a
// closed file is an error of the program, not a silent loss.
#include <string>

namespace tessel {

// Flushes standard output. When anything written to it was lost, says so on
// standard error ("program: cannotWrite: cause") and returns 1 (or the given
// status when that already reports a failure); otherwise returns status.
int FinishStandardOutput(const std::string& program, int status, const std::string& cannotWrite = "出力を書き込めません");

}  // namespace tessel
