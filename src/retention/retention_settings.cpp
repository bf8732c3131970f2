#include "retention/retention_settings.h"

#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "platform/positional_io.h"
#include "platform/paths.h"
#include "platform/safe_write.h"
#include "retention/forget.h"

namespace tessel {
namespace {

struct Key {
    const char* name;
    int RetentionPolicy::*count;
};
const Key kKeys[] = {{"KEEPLAST=", &RetentionPolicy::last},
                     {"KEEPDAILY=", &RetentionPolicy::daily},
                     {"KEEPWEEKLY=", &RetentionPolicy::weekly},
                     {"KEEPMONTHLY=", &RetentionPolicy::monthly},
                     {"KEEPYEARLY=", &RetentionPolicy::yearly}};

const Key* KeyOf(const std::string& line) {
    for (const Key& k : kKeys)
        if (line.rfind(k.name, 0) == 0) return &k;
    return nullptr;
}

std::string SettingsFile(const std::string& dataFolder) {
    return FindNoCase(dataFolder, "BKPDEF.INI").value_or(JoinPath(dataFolder, "BKPDEF.INI"));
}

}  // namespace

std::optional<RetentionPolicy> ReadStoredPolicy(const std::string& dataFolder, std::string* error) {
    RetentionPolicy policy;
    std::ifstream in(SettingsFile(dataFolder), std::ios::binary);
    std::string line;
    while (in && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const Key* key = KeyOf(line);
        if (!key) continue;
        const std::string value = line.substr(std::string(key->name).size());
        long long n = 0;
        bool ok = !value.empty() && value.size() <= 6;
        for (char c : value) {
            ok = ok && c >= '0' && c <= '9';
            n = n * 10 + (c - '0');
        }
        if (!ok || n > kMaxKeepCount) {
            if (error) *error = "BKPDEF.INI の保持設定が正しくありません (0 から " + std::to_string(kMaxKeepCount) +
                                " までの数を指定してください): " + line;
            return std::nullopt;
        }
        policy.*(key->count) = static_cast<int>(n);
    }
    return policy;
}

int WriteStoredPolicy(const std::string& dataFolder, const RetentionPolicy& policy) {
    const std::string path = SettingsFile(dataFolder);
    std::string text;
    std::string eol = "\r\n";  // the settings file's own line ends, CR LF when it has none yet
    {
        std::ifstream in(path, std::ios::binary);
        std::string line;
        bool first = true;
        while (in && std::getline(in, line)) {
            const bool cr = !line.empty() && line.back() == '\r';
            if (first) eol = cr ? "\r\n" : "\n";
            first = false;
            const std::string bare = cr ? line.substr(0, line.size() - 1) : line;
            if (KeyOf(bare)) continue;
            text += bare + eol;
        }
    }
    for (const Key& k : kKeys) text += std::string(k.name) + std::to_string(policy.*(k.count)) + eol;
    WriteRoot root(dataFolder);
    const std::string leaf = path.substr(path.rfind(kSep) + 1);
    struct stat st {};
    FileStamp stamp;
    if (::stat(path.c_str(), &st) == 0) stamp.mode = st.st_mode & 07777;
    int err = root.writeFile(
        leaf,
        [&](int fd) { return WriteAllAt(fd, 0, text.data(), text.size()) ? 0 : errno ? errno : EIO; },
        stamp);
    if (err == 0) err = root.sync();
    return err;
}

void ForgetAfterAutomaticBackup(SharedState& state) {
    std::string error;
    const std::optional<RetentionPolicy> policy = ReadStoredPolicy(state.dataFolder, &error);
    if (!policy) {
        state.ui.showMessage(error);
        return;
    }
    if (policy->empty()) return;
    ForgetOptions options;
    options.policy = *policy;
    ForgetRuns(state, options);
}

}  // namespace tessel
