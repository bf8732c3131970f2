#pragma once
// Command lines of the programs, read with getopt_long: global options
// before or after the command, the command's own options as --opt value or
// --opt=value, positional words, "--" before words that begin with "-".
// The whole line is read before anything is done, so that a wrong command
// line changes nothing. The help texts are made from the same tables.
#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/status.h"

namespace tessel {

// A wrong command line; what() says what is wrong. command() names the
// command whose help applies (empty: the program's help).
class UsageError : public Error {
public:
    explicit UsageError(const std::string& what, std::string command = {}) : Error(what), command_(std::move(command)) {}
    const std::string& command() const { return command_; }

private:
    std::string command_;
};

// One option: its long name (without "--"), its one-letter form (0: none),
// the name of its value (nullptr: a flag), one line of help, and whether
// the option may be given more than once (each value is kept, in order).
struct OptionDef {
    const char* name;
    char letter;
    const char* value;
    const char* help;
    bool repeated = false;
};

// What was given. Options are keyed by their long name.
struct Args {
    std::vector<std::string> words;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    std::map<std::string, std::vector<std::string>> lists;  // repeated options

    bool has(const std::string& flag) const { return flags.count(flag) > 0; }
    std::optional<std::string> value(const std::string& name) const {
        auto it = values.find(name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    // The values of a repeated option, in the order given (empty: none).
    std::vector<std::string> all(const std::string& name) const {
        auto it = lists.find(name);
        return it == lists.end() ? std::vector<std::string>{} : it->second;
    }
};

// One command: its synopsis (what follows its name; alternative forms on
// lines of their own), a one-line summary, its own options and how many
// words it takes.
struct CommandDef {
    const char* name;
    const char* synopsis;
    const char* summary;
    std::vector<OptionDef> options;
    std::size_t minWords = 0;
    std::size_t maxWords = 0;
};

// The texts the reader and the help are made of, in the program's language.
struct CommandLineTexts {
    const char* usage;             // "usage: "
    const char* commands;          // heading of the command list
    const char* options;           // heading of the global options
    const char* helpCommand;       // summary of "help [COMMAND]"
    const char* commandHelpNote;   // last line of the program's help
    const char* commonOptions;     // last line of a command's help
    const char* seeHelp;           // "see %s" around the help command of an error
    const char* noCommand;
    const char* unknownCommand;    // followed by the word
    const char* unknownOption;     // followed by the word
    const char* needsValue;        // after the option
    const char* takesNoValue;      // after the option
    const char* onlyOnce;          // after the option
    const char* tooFewWords;
    const char* extraWord;         // followed by the word
};
extern const CommandLineTexts kJapaneseTexts;
extern const CommandLineTexts kEnglishTexts;

struct ProgramDef {
    const char* name;
    const char* description;  // the paragraph after the usage line
    // The options every command takes. "help" (-h) and "version" are
    // answered by the reader.
    std::vector<OptionDef> options;
    std::vector<CommandDef> commands;
    const char* epilogue;  // after the options: exit statuses
    const CommandLineTexts& texts;
};

enum class Request { kRun, kHelp, kVersion };

struct Invocation {
    Request request = Request::kRun;
    Args global;  // the global options (never words)
    // The command to run, or whose help to show (nullptr: the program's).
    const CommandDef* command = nullptr;
    Args args;
};

// Reads the command line; throws UsageError (naming the command once it is
// known). A single-value option given twice is an error; a flag given twice
// is the flag.
Invocation ParseCommandLine(int argc, char** argv, const ProgramDef& program);

std::string ProgramHelp(const ProgramDef& program);
std::string CommandHelp(const ProgramDef& program, const CommandDef& command);
// The one line a usage error prints: what is wrong and where the help is.
std::string UsageErrorLine(const ProgramDef& program, const UsageError& error);

// Strict numbers: decimal digits only (no sign, blank, base prefix,
// exponent, "nan" or "inf"). A count lies in [least, most]; seconds may have
// a decimal fraction and lie in [0, most]. The message names the option
// and, in the program's language, the range.
std::optional<long long> StrictCount(const std::string& text, long long least, long long most);
std::optional<double> StrictSeconds(const std::string& text, double most);

}  // namespace tessel
