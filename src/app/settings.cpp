#include "app/settings.h"

#include <fstream>

#include "app/exit_status.h"
#include "platform/codepage.h"
#include "platform/paths.h"

namespace tessel {
namespace {

std::optional<int> Number(std::string_view s) {
    if (s.empty() || s.size() > 2) return std::nullopt;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

}  // namespace

std::optional<TimeOfDay> ParseTimeOfDay(std::string_view text) {
    size_t first = text.find(':');
    if (first == std::string_view::npos) return std::nullopt;
    size_t second = text.find(':', first + 1);
    auto h = Number(text.substr(0, first));
    auto m = Number(text.substr(first + 1, second == std::string_view::npos ? std::string_view::npos : second - first - 1));
    std::optional<int> s = 0;
    if (second != std::string_view::npos) s = Number(text.substr(second + 1));
    if (!h || !m || !s || *h > 23 || *m > 59 || *s > 59) return std::nullopt;
    return *h * 3600 + *m * 60 + *s;
}

SettingsRead ReadSettings(SharedState& state) {
    std::string path = FindNoCase(state.dataFolder, "BKPDEF.INI").value_or(JoinPath(state.dataFolder, "BKPDEF.INI"));
    std::ifstream in(path, std::ios::binary);
    if (!in) return SettingsRead::Unreadable;

    struct FlagKey {
        const char* key;
        std::string* flag;
        bool setsAuto;
    };
    const FlagKey flags[] = {
        {"AUTO=", &state.autoFlag, false},
        {"INITBKP=", &state.initBkp, true},
        {"TERMBKP=", &state.termBkp, true},
        {"ICON=", &state.icon, false},
        {"NOTIFY=", &state.notify, false},
    };
    struct TimeKey {
        const char* key;
        TimeOfDay* time;
    };
    const TimeKey times[] = {{"TIME1=", &state.time1}, {"TIME2=", &state.time2}, {"TIME3=", &state.time3}};

    // The text of the last time line that had a value; a time key without
    // a value takes it over.
    std::string pendingTime;
    std::string raw;
    while (std::getline(in, raw)) {
        // Settings files are often edited on Windows: a CR before the line
        // end is not part of the value.
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        std::string line = Cp932ToUtf8(raw).value_or(raw);
        bool matched = false;
        for (const FlagKey& f : flags) {
            std::string_view key(f.key);
            if (line.compare(0, key.size(), key) != 0) continue;
            matched = true;
            if (line.size() > key.size()) {
                *f.flag = line.substr(key.size());
                if (f.setsAuto && *f.flag == "YES") state.autoFlag = "YES";
            }
            break;
        }
        if (matched) continue;
        for (const TimeKey& t : times) {
            std::string_view key(t.key);
            if (line.compare(0, key.size(), key) != 0) continue;
            if (line.size() > key.size()) pendingTime = line.substr(key.size());
            std::optional<TimeOfDay> value = ParseTimeOfDay(pendingTime);
            if (!value) return SettingsRead::BadTime;
            *t.time = *value;
            break;
        }
    }
    return SettingsRead::Ok;
}

bool ApplySettings(SharedState& state, SettingsActions& actions) {
    switch (ReadSettings(state)) {
    case SettingsRead::Ok:
        break;
    case SettingsRead::BadTime:
        state.ui.showMessage(kBadTimeMessage);
        actions.endProgram(1);
        return false;
    case SettingsRead::Unreadable:
        state.ui.showMessage("設定ファイルを読めません: " + JoinPath(state.dataFolder, "BKPDEF.INI"));
        actions.endProgram(1);
        return false;
    }

    if (state.autoFlag == "YES") {
        const StartupBackup outcome = actions.automaticBackup();
        const bool ran = outcome == StartupBackup::kStored || outcome == StartupBackup::kSomeFailed;
        const int status = outcome == StartupBackup::kStored ? kExitOk : outcome == StartupBackup::kBusy ? kExitBusy : kExitFailed;
        if (!ran && (state.termBkp == "YES" || state.initBkp == "YES")) {
            actions.endProgram(status);
            return false;
        }
        if (state.termBkp == "YES") {
            actions.pauseBeforeShutDown();
            ShutDownWindows(state);
            actions.endProgram(status);
            return false;
        }
        if (state.initBkp == "YES") {
            actions.endProgram(status);
            return false;
        }
    }
    if (state.icon == "YES")
        actions.openIconWindow();
    else
        state.icon = "NO";
    return true;
}

void ShutDownWindows(SharedState& state) { state.system.powerOff(); }

}  // namespace tessel
