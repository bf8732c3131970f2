// Tesselバックアップ管理: the data folder is the current directory; the
// program takes no arguments but --help and --version.
#include <QApplication>

#include <cstdio>

#include "app/application.h"
#include "app/exit_status.h"
#include "app/program_command_line.h"
#include "core/standard_output.h"

int main(int argc, char** argv) {
    using namespace tessel;
    // Answered before Qt starts: they need no display.
    const ProgramCommandLine line = ReadProgramCommandLine(argc, argv);
    switch (line.request) {
    case ProgramRequest::kHelp:
        std::fputs(ProgramHelp().c_str(), stdout);
        return FinishStandardOutput(kProgramName, kExitOk);
    case ProgramRequest::kVersion:
        std::printf("%s (Tesselバックアップ管理) %s\n", kProgramName, TESSEL_VERSION);
        return FinishStandardOutput(kProgramName, kExitOk);
    case ProgramRequest::kWrong:
        std::fprintf(stderr, "%s: %s (使い方: %s --help)\n", kProgramName, line.problem.c_str(), kProgramName);
        return kExitUsage;
    case ProgramRequest::kRun:
        break;
    }
    QApplication app(argc, argv);
    PrepareApplication();
    return RunProgram(app);
}
