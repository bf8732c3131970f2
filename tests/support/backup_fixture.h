#pragma once
// A data folder with its own catalog, source and destination, and helpers to run the engine.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_directory.h"
#include "catalog/connection.h"
#include "platform/file_faults.h"
#include "platform/file_times.h"
#include "platform/paths.h"
#include "engine/shared_state.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace tessel::test {

struct VersionRecord {
    std::int64_t bkpno = 0, dirno = 0, lvl = 0;
    std::string dir, filenm, kbn1, chk1;
    std::optional<std::int64_t> fupdate, fuptime, fsize, fmver;
    std::optional<std::string> fupdayd, fuptimed, fcrdayd, fverno, pverno;
};

// Records every archiver request as its command line and answers with scripted results.
struct FakeArchiver {
    std::vector<std::string> commands;
    std::vector<std::int32_t> results;  // by call; 0 when exhausted
    int throwOnCall = -1;

    ArchiverCall call() {
        return [this](const archive::ArchiveRequest& request) -> std::int32_t {
            size_t n = commands.size();
            commands.push_back(archive::CommandLineOf(request));
            if (static_cast<int>(n) == throwOnCall) throw std::runtime_error("archiver library missing");
            return n < results.size() ? results[n] : 0;
        };
    }
};

class BackupFixture {
public:
    BackupFixture() : state(ui, system) {
        OpenFreshCatalog(data, state);
        source = data / "src";
        destination = data / "dest";
        mkdir(source.c_str(), 0755);
        mkdir(destination.c_str(), 0755);
    }

    BackupResult run(const std::string& initialFlag, const std::string& runKind, int runNumber,
                     const std::string& subdirFlag = "01", int dirNo = 1) {
        return BackupDirectory(state, options, {source, initialFlag, runKind, destination, runNumber, dirNo, subdirFlag}, archiver.call());
    }

    std::vector<VersionRecord> rows() {
        Statement q = state.db().prepare(
            "SELECT BKPNO, DIRNO, LVL, DIR, FILENM, KBN1, CHK1, FUPDATE, FUPTIME, FSIZE, FMVER, FUPDAYD, FUPTIMED, "
            "FCRDAYD, FVERNO, PVERNO FROM FILEKANRI ORDER BY rowid");
        std::vector<VersionRecord> out;
        while (q.step())
            out.push_back({q.int64(0), q.int64(1), q.int64(2), q.text(3), q.text(4), q.text(5), q.text(6), q.optInt(7),
                           q.optInt(8), q.optInt(9), q.optInt(10), q.optText(11), q.optText(12), q.optText(13), q.optText(14),
                           q.optText(15)});
        return out;
    }

    // The rows of one file (by name, and directory relative to the source).
    std::vector<VersionRecord> rowsOf(const std::string& name, const std::string& relDir = "") {
        std::string dir = relDir.empty() ? source + "/" : source + "/" + relDir + "/";
        std::vector<VersionRecord> out;
        for (auto& r : rows())
            if (r.filenm == name && r.dir == dir) out.push_back(r);
        return out;
    }

    std::vector<std::string> subdirRows() {
        return Column(state.db(), "SELECT CHK || ' ' || FULLNAME || ' ' || SUBDIR FROM SUBDIR ORDER BY rowid");
    }

    bool inTransaction() { return sqlite3_get_autocommit(state.db().handle()) == 0; }

    std::string src(const std::string& rel) const { return source + "/" + rel; }
    std::string dst(const std::string& rel) const { return destination + "/" + rel; }
    // The folder of a version level, with a final "/".
    std::string levelDir(std::int64_t level) const {
        char name[16];
        std::snprintf(name, sizeof name, "V%05lld/", static_cast<long long>(level));
        return dst(name);
    }

    TempDataFolder data;
    RecordingUi ui;
    FakeSystem system;
    SharedState state;
    BackupOptions options;
    FakeArchiver archiver;
    std::string source, destination;
};

inline void MakeDirs(const std::string& path) { std::filesystem::create_directories(path); }

// The files of the fixture's rows relative to its source ("A/a.txt"), in row order or sorted.
inline std::vector<std::string> RowFiles(BackupFixture& f, bool sorted = false) {
    std::vector<std::string> out;
    for (const auto& r : f.rows()) out.push_back(r.dir.substr(f.source.size() + 1) + r.filenm);
    if (sorted) std::sort(out.begin(), out.end());
    return out;
}

}  // namespace tessel::test
