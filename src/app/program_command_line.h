#pragma once
// The program's own command line: it works on the current directory and
// takes no arguments but --help and --version, which it answers without a
// display.
#include <string>

namespace tessel {

inline const char* const kProgramName = "tessel-backup";

enum class ProgramRequest { kRun, kHelp, kVersion, kWrong };

struct ProgramCommandLine {
    ProgramRequest request = ProgramRequest::kRun;
    std::string problem;  // for kWrong: what is wrong
};

// Reads the command line with getopt_long.
ProgramCommandLine ReadProgramCommandLine(int argc, char** argv);

// The text of --help.
std::string ProgramHelp();

}  // namespace tessel
