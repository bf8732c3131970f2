#pragma once
// A data folder with its own catalog, a registered source directory and a
// destination, with helpers to write catalog rows, version copies and
// source files, and to read back what a restore reported.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_directory.h"
#include "catalog/connection.h"
#include "platform/codepage.h"
#include "restore/restore_directory.h"
#include "engine/shared_state.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace tessel::test {

class RestoreFixture {
public:
    RestoreFixture() : state(ui, system) {
        test::OpenFreshCatalog(data, state);
        source = data / "src";
        destination = data / "dest";
        std::filesystem::create_directories(source);
        std::filesystem::create_directories(destination);
        // Records the archiver requests as command lines and answers with `results`.
        hooks.archiver = [this](const archive::ArchiveRequest& request) -> std::int32_t {
            const std::size_t n = commands.size();
            commands.push_back(archive::CommandLineOf(request));
            return n < results.size() ? results[n] : 0;
        };
        // 2004/03/09 13:05:09 in the test's zone (UTC).
        hooks.clock = [] { return std::time_t{1078837509}; };
    }

    void addDirectory(int dirNo, const std::string& kind, const std::optional<std::string>& chk2 = "01",
                      std::optional<std::string> dir = std::nullopt, std::optional<std::string> dest = std::nullopt) {
        state.db()
            .prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) "
                     "VALUES (?1, ?2, ?3, ?4, '', '1', '1', ?5)")
            .bind(1, dirNo)
            .bind(2, dir.value_or(source))
            .bind(3, dest.value_or(destination))
            .bind(4, kind)
            .bind(5, chk2)
            .run();
    }

    // A version row; relDir is relative to the source ("" for the source itself).
    void addVersion(int run, int lvl, const std::string& relDir, const std::string& name, const std::string& kbn1 = "0",
                    int dirNo = 1, std::optional<std::string> absDir = std::nullopt) {
        const std::string dir = absDir ? *absDir : relDir.empty() ? source + "/" : source + "/" + relDir + "/";
        state.db()
            .prepare("INSERT INTO FILEKANRI (BKPNO, DIRNO, LVL, DIR, FILENM, KBN1, CHK1) VALUES (?1, ?2, ?3, ?4, ?5, ?6, '1')")
            .bind(1, run)
            .bind(2, dirNo)
            .bind(3, lvl)
            .bind(4, dir)
            .bind(5, name)
            .bind(6, kbn1)
            .run();
    }

    // A plain copy of a version in its version folder.
    void addCopy(int lvl, const std::string& name, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(versionFile(lvl, name)).parent_path());
        WriteFile(versionFile(lvl, name), bytes);
    }
    std::string versionFile(int lvl, const std::string& name) const {
        char folder[16];
        std::snprintf(folder, sizeof folder, "/V%05d/", lvl);
        return destination + folder + name;
    }

    // A source file with the given last-write time.
    void put(const std::string& rel, const std::string& bytes, time_t sec, long nsec = 0) {
        WriteFile(src(rel), bytes);
        const struct timespec times[2] = {{sec, nsec}, {sec, nsec}};
        ASSERT_EQ(utimensat(AT_FDCWD, src(rel).c_str(), times, 0), 0);
    }

    RestoreResult restore(int dirNo, int run, const std::string& mode = "1") {
        return RestoreDirectory(state, dirNo, run, RestoreOptions{restoreTest, compression, mode}, hooks);
    }
    void backUp(int run) { BackupDirectory(state, BackupOptions{false, compression}, source, "9", "1", destination, run, 1, "01"); }
    // The compression flag of the prefix row, and the test restore switch.
    std::string compression = "0";
    bool restoreTest = false;

    std::vector<std::string> rows() {
        Statement q = state.db().prepare("SELECT ID, TEXT FROM RSTRLIST ORDER BY ID");
        std::vector<std::string> out;
        while (q.step()) out.push_back(q.text(1));
        return out;
    }
    // The report file's lines decoded from code page 932; a line without
    // CR LF shows as such.
    std::vector<std::string> reportLines() {
        const std::string bytes = ReadFile(data / "RSTRLIST.TXT");
        std::vector<std::string> out;
        for (std::size_t pos = 0, end; pos < bytes.size(); pos = end + 2) {
            end = bytes.find("\r\n", pos);
            if (end == std::string::npos) {
                out.push_back("<no CR LF>" + bytes.substr(pos));
                break;
            }
            out.push_back(Cp932ToUtf8(bytes.substr(pos, end - pos)).value_or("<not cp932>"));
        }
        return out;
    }

    std::string src(const std::string& rel) const { return source + "/" + rel; }

    TempDataFolder data;
    RecordingUi ui;
    FakeSystem system;
    SharedState state;
    std::vector<std::string> commands;  // of the archiver calls
    std::vector<std::int32_t> results;          // by call; 0 when exhausted
    RestoreHooks hooks;
    std::string source, destination;
};

// "seconds.nanoseconds" of a file's last write.
inline std::string Mtime(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

inline unsigned Mode(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

}  // namespace tessel::test
