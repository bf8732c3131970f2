#include "companion/console_ui.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace tessel {
namespace {

// A text cut to at most width display columns (roughly: wide characters
// count two), so the progress line never wraps.
std::string Fit(const std::string& text, size_t width) {
    std::string out;
    size_t columns = 0;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        size_t w = c < 0x80 ? 1 : (len == 3 && !(c == 0xEF && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0xBD)) ? 2 : 1;
        if (columns + w > width) break;
        out.append(text, i, len);
        columns += w;
        i += len;
    }
    return out;
}

}  // namespace

void ConsoleUi::showMessage(const std::string& text) {
    endProgress();
    std::fprintf(stderr, "%s\n", text.c_str());
}

bool ConsoleUi::askYesNo(const std::string& text) {
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
    size_t width = ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 ? ws.ws_col : 80;
    std::fprintf(stderr, "\r\033[K%s", Fit(text, width - 1).c_str());
    std::fflush(stderr);
    progressShown_ = true;
}

void ConsoleUi::endProgress() {
    if (!progressShown_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    progressShown_ = false;
}

}  // namespace tessel
