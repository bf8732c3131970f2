#pragma once
// Whether the catalog claims only copies that exist: every version whose
// code says it has a copy ("0", "7") has it in its level folder of the
// destination, as an archive member or a plain copy of the recorded size.
#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "catalog/connection.h"
#include "support/archive_members.h"

namespace tessel::test {

// The versions that claim a copy they lack, as "<dir><name> level <n>
// (<code>)"; empty when the catalog is sound. compression "0": plain copies.
inline std::vector<std::string> MissingClaimedCopies(Connection& db, const std::string& destination,
                                                     const std::string& compression) {
    std::map<std::string, std::map<std::string, std::uint64_t>> archives;
    std::vector<std::string> missing;
    Statement q = db.prepare("SELECT DIR, FILENM, LVL, KBN1, FSIZE FROM FILEKANRI WHERE KBN1 IN ('0', '7') ORDER BY rowid");
    while (q.step()) {
        const std::string dir = q.text(0), name = q.text(1), code = q.text(3);
        const std::int64_t level = q.int64(2);
        char folderName[16];
        std::snprintf(folderName, sizeof folderName, "V%05lld/", static_cast<long long>(level));
        const std::string folder = destination + "/" + folderName;
        std::optional<std::int64_t> stored;
        if (compression == "0") {
            struct stat st {};
            if (::lstat((folder + name).c_str(), &st) == 0) stored = st.st_size;
        } else {
            if (!archives.count(folder)) archives[folder] = ListMembers(folder + "bkpcmp.lzh");
            auto it = archives[folder].find(MemberPath(dir + name));
            if (it != archives[folder].end()) stored = static_cast<std::int64_t>(it->second);
        }
        if (!stored || q.isNull(4) || *stored != q.int64(4))
            missing.push_back(dir + name + " level " + std::to_string(level) + " (" + code + ")");
    }
    return missing;
}

}  // namespace tessel::test
