#include "companion/console_ui.h"

#include <locale.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <wchar.h>

#include <cstdio>

#include "app/catalog_upgrade.h"
#include "registration/registrations.h"

namespace tessel {
namespace {

// The engines' messages that report only that something went as asked.
bool OnlyReportsSuccess(const std::string& text) {
    return text == registration_text::kCreatingDestination || text == registration_text::kDone ||
           text == kUpgradeStarting || text == kUpgradeFinished;
}

// The code point of the UTF-8 sequence at text[i] and its length; length 0
// when the bytes there are not a valid, shortest-form sequence.
std::pair<char32_t, std::size_t> DecodeUtf8(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80) return {c, 1};
    const std::size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (len == 0 || i + len > text.size()) return {0, 0};
    char32_t cp = c & (0xFF >> (len + 1));
    for (std::size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return {0, 0};
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {0, 0};
    return {cp, len};
}

// wcwidth in a UTF-8 locale, whatever the process's locale is.
int Columns(char32_t cp) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!utf8) return cp < 0x80 ? (cp < 0x20 || cp == 0x7F ? -1 : 1) : 1;
    const locale_t before = uselocale(utf8);
    const int w = wcwidth(static_cast<wchar_t>(cp));
    uselocale(before);
    return w;
}

}  // namespace

std::string FitToColumns(const std::string& text, std::size_t columns) {
    std::string out;
    std::size_t used = 0;
    for (std::size_t i = 0; i < text.size();) {
        auto [cp, len] = DecodeUtf8(text, i);
        const int w = len ? Columns(cp) : -1;
        const std::size_t width = w < 0 ? 1 : static_cast<std::size_t>(w);
        if (used + width > columns) break;
        if (w < 0)
            out += '?';
        else
            out.append(text, i, len);
        used += width;
        i += len ? len : 1;
    }
    return out;
}

void ConsoleUi::showMessage(const std::string& text) {
    if (quiet_ && OnlyReportsSuccess(text)) return;
    endProgress();
    std::fprintf(stderr, "%s\n", text.c_str());
}

void ConsoleUi::notice(const std::string& text) {
    if (quiet_) return;
    endProgress();
    std::fprintf(stderr, "%s\n", text.c_str());
}

bool ConsoleUi::askYesNo(const std::string& text) {
    // An answer of No stops what was asked for, so it is always said.
    if (quiet_ && yes_) return true;
    endProgress();
    std::fprintf(stderr, "%s -> %s\n", text.c_str(), yes_ ? "Yes (--yes)" : "No (--yes not given)");
    return yes_;
}

void ConsoleUi::setStatus(const std::string&, const std::string& text) {
    if (!progress_) return;
    auto now = std::chrono::steady_clock::now();
    if (progressShown_ && now - lastProgress_ < std::chrono::milliseconds(100)) return;
    lastProgress_ = now;
    winsize ws{};
    const std::size_t width = ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 ? ws.ws_col : 80;
    // One column is left free: a line that fills the last column makes
    // some terminals wrap before the next "\r".
    std::fprintf(stderr, "\r\033[K%s", FitToColumns(text, width - 1).c_str());
    std::fflush(stderr);
    progressShown_ = true;
}

void ConsoleReport::entry(RunEntry kind, const std::string& text, bool shown) {
    // The start and the counts are the command's own output.
    if (shown || kind == RunEntry::kStart || kind == RunEntry::kSummary) return;
    if (quiet_ && kind != RunEntry::kFailure && kind != RunEntry::kMessage) return;
    ui_.showMessage(text);
}

void ConsoleUi::endProgress() {
    if (!progressShown_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    progressShown_ = false;
}

}  // namespace tessel
