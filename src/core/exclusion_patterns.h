#pragma once
// Exclusion patterns in the manner of .gitignore, compiled once and matched
// against the path of an entry below the source:
//   *        any run of bytes within one name (never "/")
//   ?        one character within one name (a UTF-8 sequence, or one byte
//            that is not part of one)
//   **/      at the start or after "/": any number of folders, none included
//   /**      at the end: everything inside
//   name/    a final "/": folders only
//   /name    a "/" at the start or inside: anchored at the source; without
//            one the pattern is matched against the name alone, at any depth
//   !pattern takes back what earlier patterns left out (the last pattern
//            that matches decides)
//   \x       the character x itself (\*, \?, \!, \\, "\ " for a final blank)
// Trailing blanks are dropped unless escaped; "[" is an ordinary character.
// Names are compared byte for byte, as the file system keeps them: any
// bytes, valid UTF-8 or not, are matched without harm.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel {

// Why a pattern cannot be used (in the program's words); nullopt when it can.
std::optional<std::string> PatternProblem(std::string_view pattern);

class ExclusionPatterns {
public:
    ExclusionPatterns() = default;
    // The patterns in order; those PatternProblem refuses match nothing.
    explicit ExclusionPatterns(const std::vector<std::string>& patterns);

    bool empty() const { return compiled_.empty(); }

    // The pattern that leaves out the entry at relPath ("/"-separated, below
    // the source, without a leading "/"), or null when none does (no
    // pattern matches, or the last that matches begins with "!").
    const std::string* excludedBy(std::string_view relPath, bool directory) const;

    enum class Token : unsigned char { kByte, kOne, kStar, kAnyFolders, kAnyRest };
    struct Step {
        Token token;
        char byte;
    };
    struct Compiled {
        std::string text;  // as given
        std::vector<Step> steps;
        bool negated = false;
        bool foldersOnly = false;
        bool anchored = false;  // matched against the whole path, else the name
        // The common shapes, matched without the general walk: a name
        // without wildcards, or "*" followed by one (`literal` holds it).
        enum class Shape : unsigned char { kGeneral, kLiteral, kStarSuffix } shape = Shape::kGeneral;
        std::string literal;
        // The longest run of plain bytes of a general pattern: a path that
        // does not hold it cannot match.
        std::string required;
    };

private:
    std::vector<Compiled> compiled_;
};

}  // namespace tessel
