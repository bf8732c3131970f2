#include "core/exclusion_patterns.h"

#include <cstddef>

namespace tessel {
namespace {

using Token = ExclusionPatterns::Token;
using Step = ExclusionPatterns::Step;
using Compiled = ExclusionPatterns::Compiled;

// The pattern without its unescaped trailing blanks.
std::string_view WithoutTrailingBlanks(std::string_view p) {
    while (!p.empty() && p.back() == ' ') {
        std::size_t slashes = 0;
        for (std::size_t i = p.size() - 1; i > 0 && p[i - 1] == '\\'; --i) ++slashes;
        if (slashes % 2 == 1) break;  // "\ " keeps its blank
        p.remove_suffix(1);
    }
    return p;
}

// The bytes of one UTF-8 character starting at s[i]; 1 for a byte that does
// not start a whole, valid sequence.
std::size_t CharLength(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0xC2 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 1;
    if (n == 1 || i + n > s.size()) return 1;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
    return n;
}

// The steps of a pattern body (no "!", no trailing blanks, no final "/").
std::vector<Step> StepsOf(std::string_view body) {
    std::vector<Step> steps;
    for (std::size_t i = 0; i < body.size();) {
        const bool segmentStart = i == 0 || body[i - 1] == '/';
        if (segmentStart && body.substr(i, 3) == "**/") {
            steps.push_back({Token::kAnyFolders, 0});
            i += 3;
            continue;
        }
        if (segmentStart && i > 0 && body.substr(i) == "**") {
            steps.push_back({Token::kAnyRest, 0});
            break;
        }
        const char c = body[i];
        if (c == '\\' && i + 1 < body.size()) {
            steps.push_back({Token::kByte, body[i + 1]});
            i += 2;
        } else if (c == '*') {
            while (i < body.size() && body[i] == '*') ++i;
            steps.push_back({Token::kStar, 0});
        } else if (c == '?') {
            steps.push_back({Token::kOne, 0});
            ++i;
        } else {
            steps.push_back({Token::kByte, c});
            ++i;
        }
    }
    return steps;
}

// Whether steps[t...] match s[i...] whole. `memo` (when given) remembers
// the pairs already found not to match, so that several stars never cost
// more than steps × bytes; without it, `budget` counts the tries and the
// walk gives up (false) once they are spent.
bool Match(const std::vector<Step>& steps, std::size_t t, std::string_view s, std::size_t i, std::vector<char>* memo,
           long& budget) {
    if (!memo && --budget < 0) return false;
    for (; t < steps.size(); ++t) {
        const Step& step = steps[t];
        switch (step.token) {
        case Token::kByte:
            if (i >= s.size() || s[i] != step.byte) return false;
            ++i;
            break;
        case Token::kOne:
            if (i >= s.size() || s[i] == '/') return false;
            i += CharLength(s, i);
            break;
        case Token::kAnyRest:
            return i < s.size();
        case Token::kStar:
        case Token::kAnyFolders: {
            const std::size_t cell = t * (s.size() + 1) + i;
            if (memo && (*memo)[cell]) return false;
            const bool star = step.token == Token::kStar;
            for (std::size_t k = i;; ++k) {
                // A star stops at "/"; "**/" resumes only after one.
                if (star || k == i || s[k - 1] == '/')
                    if (Match(steps, t + 1, s, k, memo, budget)) return true;
                if (k >= s.size() || (star && s[k] == '/')) break;
            }
            if (memo) (*memo)[cell] = 1;
            return false;
        }
        }
    }
    return i == s.size();
}

bool Matches(const Compiled& c, std::string_view s) {
    switch (c.shape) {
    case Compiled::Shape::kLiteral: return s == c.literal;
    case Compiled::Shape::kStarSuffix:
        return s.size() >= c.literal.size() && s.substr(s.size() - c.literal.size()) == c.literal &&
               s.find('/') == std::string_view::npos;
    case Compiled::Shape::kGeneral: break;
    }
    if (s.find(c.required) == std::string_view::npos) return false;
    // Most patterns match or fail within a few tries; one that would take
    // long is walked again with the memo, which bounds it.
    long budget = 256;
    if (Match(c.steps, 0, s, 0, nullptr, budget)) return true;
    if (budget >= 0) return false;
    thread_local std::vector<char> memo;
    memo.assign(c.steps.size() * (s.size() + 1), 0);
    return Match(c.steps, 0, s, 0, &memo, budget);
}

}  // namespace

std::optional<std::string> PatternProblem(std::string_view pattern) {
    if (pattern.find('\0') != std::string_view::npos) return "パターンに NUL 文字があります";
    std::string_view p = WithoutTrailingBlanks(pattern);
    if (!p.empty() && p.front() == '!') p.remove_prefix(1);
    if (!p.empty() && p.back() == '\\') {
        std::size_t slashes = 0;
        for (std::size_t i = p.size(); i > 0 && p[i - 1] == '\\'; --i) ++slashes;
        if (slashes % 2 == 1) return "パターンの最後の \\ の後に文字がありません";
    }
    if (!p.empty() && p.back() == '/') p.remove_suffix(1);
    if (!p.empty() && p.front() == '/') p.remove_prefix(1);
    if (p.empty()) return "パターンに名前がありません";
    for (std::size_t start = 0;;) {
        const std::size_t slash = p.find('/', start);
        const std::string_view part = p.substr(start, slash == std::string_view::npos ? slash : slash - start);
        if (part.empty()) return "パターンに空の部分 (//) があります";
        if (part == "." || part == "..") return "パターンの「.」や「..」の部分はどの名前にも当たりません";
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return std::nullopt;
}

ExclusionPatterns::ExclusionPatterns(const std::vector<std::string>& patterns) {
    for (const std::string& text : patterns) {
        if (PatternProblem(text)) continue;
        Compiled c;
        c.text = text;
        std::string_view body = WithoutTrailingBlanks(text);
        if (body.front() == '!') {
            c.negated = true;
            body.remove_prefix(1);
        }
        if (body.back() == '/') {
            c.foldersOnly = true;
            body.remove_suffix(1);
        }
        if (body.front() == '/') {
            c.anchored = true;
            body.remove_prefix(1);
        }
        // A "/" inside (escaped or not, it is a separator in a path) anchors too.
        if (body.find('/') != std::string_view::npos) c.anchored = true;
        c.steps = StepsOf(body);
        std::size_t bytes = 0;
        std::string run;
        for (const Step& s : c.steps) {
            if (s.token == Token::kByte) {
                ++bytes;
                c.literal += s.byte;
                run += s.byte;
                if (run.size() > c.required.size()) c.required = run;
            } else {
                run.clear();
            }
        }
        if (bytes == c.steps.size()) c.shape = Compiled::Shape::kLiteral;
        else if (bytes + 1 == c.steps.size() && c.steps.front().token == Token::kStar) c.shape = Compiled::Shape::kStarSuffix;
        compiled_.push_back(std::move(c));
    }
}

const std::string* ExclusionPatterns::excludedBy(std::string_view relPath, bool directory) const {
    const std::size_t slash = relPath.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? relPath : relPath.substr(slash + 1);
    for (auto it = compiled_.rbegin(); it != compiled_.rend(); ++it) {
        if (it->foldersOnly && !directory) continue;
        if (!Matches(*it, it->anchored ? relPath : name)) continue;
        return it->negated ? nullptr : &it->text;
    }
    return nullptr;
}

}  // namespace tessel
