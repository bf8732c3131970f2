#include "core/command_line.h"

#include <getopt.h>

#include <charconv>
#include <cmath>
#include <functional>

namespace tessel {

const CommandLineTexts kJapaneseTexts = {
    "使い方: ",
    "コマンド:",
    "オプション (COMMAND の前にも後にも書けます。--opt=value とも書けます):",
    "使い方を表示",
    "COMMAND --help (または help COMMAND) でコマンドごとの使い方を表示します。",
    "共通のオプションと終了状態は %s --help を見てください。",
    "(使い方: %s)",
    "コマンドがありません",
    "不明なコマンドです: %s",
    "不明なオプションです: %s",
    "%s には値が必要です",
    "%s は値をとりません",
    "%s は一度だけ指定できます",
    "引数が足りません",
    "余分な引数があります: %s",
};

const CommandLineTexts kEnglishTexts = {
    "usage: ",
    "commands:",
    "options (before or after the command; --opt=value works too):",
    "show this help, or the command's",
    "COMMAND --help (or help COMMAND) shows the help of a command.",
    "The options of every command and the exit statuses: %s --help",
    "(see %s)",
    "no command given",
    "unknown command: %s",
    "unknown option: %s",
    "%s needs a value",
    "%s takes no value",
    "%s may be given only once",
    "missing arguments",
    "extra argument: %s",
};

namespace {

// getopt_long's code for the i-th option of a table: above every letter.
constexpr int kFirstCode = 0x100;

std::string Fill(const char* text, const std::string& word) {
    std::string out = text;
    const std::size_t at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, word);
    return out;
}

std::string Dashed(const OptionDef& o) { return std::string("--") + o.name; }

// Reads the options of argv (argv[0] is the program or the command; argv
// ends with a null pointer) with getopt_long, handing each to take until it
// returns false (--help: nothing after it matters). stopAtWord: the first
// word ends the options (the global options before the command);
// otherwise options and words may be mixed. Returns the index of the
// first word.
std::size_t ReadOptions(std::vector<char*>& argv, const std::vector<const OptionDef*>& defs, bool stopAtWord,
                        const CommandLineTexts& texts,
                        const std::function<bool(const OptionDef&, const std::string& value)>& take) {
    std::vector<option> longOptions;
    std::string letters = stopAtWord ? "+:" : ":";
    for (std::size_t i = 0; i < defs.size(); ++i) {
        const OptionDef& s = *defs[i];
        longOptions.push_back({s.name, s.value ? required_argument : no_argument, nullptr, kFirstCode + static_cast<int>(i)});
        if (s.letter) letters += std::string(1, s.letter) + (s.value ? ":" : "");
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});
    auto byCode = [&](int code) -> const OptionDef* {
        if (code >= kFirstCode && code < kFirstCode + static_cast<int>(defs.size())) return defs[code - kFirstCode];
        for (const OptionDef* s : defs)
            if (s->letter && s->letter == code) return s;
        return nullptr;
    };
    const int argc = static_cast<int>(argv.size()) - 1;
    opterr = 0;
    optind = 0;  // glibc: start afresh
    int code;
    while ((code = getopt_long(argc, argv.data(), letters.c_str(), longOptions.data(), nullptr)) != -1) {
        if (code == ':') {
            const OptionDef* s = byCode(optopt);
            throw UsageError(Fill(texts.needsValue, s ? Dashed(*s) : std::string("-") + static_cast<char>(optopt)));
        }
        if (code == '?') {
            if (const OptionDef* s = optopt ? byCode(optopt) : nullptr; s && !s->value)
                throw UsageError(Fill(texts.takesNoValue, Dashed(*s)));
            // An unknown or ambiguous long option has advanced optind past itself.
            throw UsageError(Fill(texts.unknownOption, optopt ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1]));
        }
        const OptionDef* s = byCode(code);
        if (!take(*s, s->value && optarg ? optarg : "")) break;
    }
    return static_cast<std::size_t>(optind);
}

const CommandDef* FindCommand(const ProgramDef& program, const std::string& name) {
    for (const CommandDef& c : program.commands)
        if (name == c.name) return &c;
    return nullptr;
}

// The options given for a table: flags once or more, values once unless
// the option is repeated.
void Take(Args& into, const OptionDef& o, const std::string& value, const CommandLineTexts& texts) {
    if (!o.value)
        into.flags.insert(o.name);
    else if (o.repeated)
        into.lists[o.name].push_back(value);
    else if (!into.values.emplace(o.name, value).second)
        throw UsageError(Fill(texts.onlyOnce, Dashed(o)));
}

bool Answered(const OptionDef& o) { return std::string(o.name) == "help" || std::string(o.name) == "version"; }

Invocation Parse(int argc, char** argv, const ProgramDef& program, std::string& command) {
    const CommandLineTexts& texts = program.texts;
    Invocation inv;
    bool answered = false;  // --help or --version seen: nothing more is read
    auto takeGlobal = [&](const OptionDef& o, const std::string& value) {
        if (Answered(o)) {
            inv.request = std::string(o.name) == "help" ? Request::kHelp : Request::kVersion;
            answered = true;
            return false;
        }
        Take(inv.global, o, value, texts);
        return true;
    };

    std::vector<const OptionDef*> globals;
    for (const OptionDef& o : program.options) globals.push_back(&o);
    std::vector<char*> all(argv, argv + argc);
    all.push_back(nullptr);
    const std::size_t first = ReadOptions(all, globals, true, texts, takeGlobal);
    if (answered) return inv;
    if (first >= static_cast<std::size_t>(argc)) throw UsageError(texts.noCommand);
    const std::string word = all[first];

    if (word == "help") {
        inv.request = Request::kHelp;
        if (first + 2 < static_cast<std::size_t>(argc)) throw UsageError(Fill(texts.extraWord, all[first + 2]));
        if (first + 1 < static_cast<std::size_t>(argc)) {
            inv.command = FindCommand(program, all[first + 1]);
            if (!inv.command) throw UsageError(Fill(texts.unknownCommand, all[first + 1]));
        }
        return inv;
    }
    inv.command = FindCommand(program, word);
    if (!inv.command) throw UsageError(Fill(texts.unknownCommand, word));
    command = word;

    // The command's words: its own options and the global ones, in any order.
    std::vector<const OptionDef*> defs;
    for (const OptionDef& o : inv.command->options) defs.push_back(&o);
    defs.insert(defs.end(), globals.begin(), globals.end());
    std::vector<char*> rest(all.begin() + static_cast<std::ptrdiff_t>(first), all.end());
    const std::size_t words = ReadOptions(rest, defs, false, texts, [&](const OptionDef& o, const std::string& value) {
        for (const OptionDef& own : inv.command->options) {
            if (&own != &o) continue;
            Take(inv.args, o, value, texts);
            return true;
        }
        return takeGlobal(o, value);
    });
    if (answered) return inv;
    for (std::size_t i = words; i + 1 < rest.size(); ++i) inv.args.words.push_back(rest[i]);
    if (inv.args.words.size() < inv.command->minWords) throw UsageError(texts.tooFewWords);
    if (inv.args.words.size() > inv.command->maxWords) throw UsageError(Fill(texts.extraWord, inv.args.words[inv.command->maxWords]));
    return inv;
}

// A help line: the left part padded to a column, or the text on the next
// line when the left part is too long.
void HelpLine(std::string& out, const std::string& left, const std::string& text, std::size_t column) {
    out += left;
    if (left.size() + 2 > column) {
        out += "\n";
        out.append(column, ' ');
    } else {
        out.append(column - left.size(), ' ');
    }
    out += text + "\n";
}

void OptionLines(std::string& out, const std::vector<OptionDef>& options, std::size_t column) {
    for (const OptionDef& o : options) {
        std::string left = "  ";
        if (o.letter) left += std::string("-") + o.letter + ", ";
        left += Dashed(o);
        if (o.value) left += std::string(" ") + o.value;
        HelpLine(out, left, o.help, column);
    }
}

// The forms of a command, one per line: its name and each line of its synopsis.
std::vector<std::string> Forms(const CommandDef& c) {
    std::vector<std::string> lines;
    const std::string s = c.synopsis;
    for (std::size_t at = 0;;) {
        const std::size_t nl = s.find('\n', at);
        const std::string form = s.substr(at, nl == std::string::npos ? nl : nl - at);
        lines.push_back(std::string(c.name) + (form.empty() ? "" : " " + form));
        if (nl == std::string::npos) break;
        at = nl + 1;
    }
    return lines;
}

}  // namespace

Invocation ParseCommandLine(int argc, char** argv, const ProgramDef& program) {
    std::string command;  // once known, the command whose help applies
    try {
        return Parse(argc, argv, program, command);
    } catch (const UsageError& e) {
        if (e.command().empty() && !command.empty()) throw UsageError(e.what(), command);
        throw;
    }
}

std::string ProgramHelp(const ProgramDef& program) {
    const CommandLineTexts& texts = program.texts;
    std::string out = std::string(texts.usage) + program.name + " [OPTION...] COMMAND [ARGS...]\n\n" + program.description +
                      "\n" + texts.commands + "\n";
    for (const CommandDef& c : program.commands) {
        // A command with several forms has its summary after the last.
        const std::vector<std::string> forms = Forms(c);
        for (std::size_t i = 0; i + 1 < forms.size(); ++i) out += "  " + forms[i] + "\n";
        HelpLine(out, "  " + forms.back(), c.summary, 32);
    }
    HelpLine(out, "  help [COMMAND]", texts.helpCommand, 32);
    out += std::string("\n") + texts.options + "\n";
    OptionLines(out, program.options, 20);
    out += std::string("\n") + program.epilogue + "\n" + texts.commandHelpNote + "\n";
    return out;
}

std::string CommandHelp(const ProgramDef& program, const CommandDef& c) {
    const CommandLineTexts& texts = program.texts;
    std::string out;
    const std::string indent(std::string(texts.usage).size(), ' ');
    bool first = true;
    for (const std::string& form : Forms(c)) {
        out += (first ? std::string(texts.usage) : indent) + program.name + " [OPTION...] " + form + "\n";
        first = false;
    }
    out += std::string("\n") + c.summary + "\n";
    if (!c.options.empty()) {
        out += "\n";
        OptionLines(out, c.options, 20);
    }
    out += "\n" + Fill(texts.commonOptions, program.name) + "\n";
    return out;
}

std::string UsageErrorLine(const ProgramDef& program, const UsageError& error) {
    const std::string help = std::string(program.name) + (error.command().empty() ? "" : " " + error.command()) + " --help";
    return std::string(program.name) + ": " + error.what() + " " + Fill(program.texts.seeHelp, help) + "\n";
}

std::optional<long long> StrictCount(const std::string& text, long long least, long long most) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    long long v = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || ptr != end || v < least || v > most) return std::nullopt;
    return v;
}

std::optional<double> StrictSeconds(const std::string& text, double most) {
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    auto digits = [](const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; };
    if (!digits(whole) || (point != std::string::npos && !digits(fraction))) return std::nullopt;
    double v = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, v, std::chars_format::fixed);
    if (ec != std::errc() || ptr != end || !std::isfinite(v) || v > most) return std::nullopt;
    return v;
}

}  // namespace tessel
