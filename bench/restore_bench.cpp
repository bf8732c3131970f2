// Driver of the restore benchmark (bench/restore_bench.sh):
//   restore_bench make    <root> [dirs] [files-per-dir]   generate the tree
//   restore_bench backup  <data> <root> <dest> <0|1>      register root, back it up as run 1
//   restore_bench again   <data> <root> <dest>             back it up once more (a new run)
//   restore_bench auto    <data>                           the same as an automatic backup, with its run log
//   restore_bench restore <data> <run>                    restore directory 1 to that run
// The tree: dirs folders of files-per-dir files (default 1,000 x 100), sizes
// 0 to 64 KiB, half of them text, half random bytes, the same every time.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "backup/automatic_backup.h"
#include "backup/backup_directory.h"
#include "backup/backup_runs.h"
#include "catalog/connection.h"
#include "restore/restore_directory.h"
#include "engine/shared_state.h"
#include "platform/safe_write.h"

namespace {

using namespace tessel;

// Counts what the engines say instead of showing it.
class QuietUi : public UserInterface {
public:
    void showMessage(const std::string& text) override {
        if (++messages <= 5) std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    bool askYesNo(const std::string&) override { return false; }
    void setStatus(const std::string&, const std::string&) override {}
    void setWaitCursor(bool) override {}
    long messages = 0;
};

class NoSystem : public SystemServices {
public:
    void powerOff() override {}
};

int Make(const std::string& root, int dirs, int perDir) {
    static const char* const kWords[] = {"backup", "restore", "catalog", "version", "archive", "ファイル",
                                         "directory", "level",   "run",     "データ",  "the",     "of"};
    std::mt19937_64 rng(20040309);
    std::string buf;
    for (int d = 0; d < dirs; ++d) {
        char dir[64];
        std::snprintf(dir, sizeof dir, "/d%04d", d);
        std::filesystem::create_directories(root + dir);
        for (int f = 0; f < perDir; ++f) {
            const std::size_t size = rng() % (64 * 1024 + 1);
            buf.clear();
            if (f % 2 == 0) {
                while (buf.size() < size) {
                    buf += kWords[rng() % 12];
                    buf += rng() % 10 == 0 ? "\n" : " ";
                }
                buf.resize(size);
            } else {
                buf.resize(size);
                for (std::size_t i = 0; i < size; i += 8) {
                    std::uint64_t v = rng();
                    for (std::size_t k = 0; k < 8 && i + k < size; ++k) buf[i + k] = static_cast<char>(v >> (8 * k));
                }
            }
            char name[64];
            std::snprintf(name, sizeof name, "/f%03d.%s", f, f % 2 == 0 ? "txt" : "bin");
            std::FILE* out = std::fopen((root + dir + name).c_str(), "wb");
            if (!out) return 1;
            std::fwrite(buf.data(), 1, buf.size(), out);
            std::fclose(out);
        }
    }
    return 0;
}

std::unique_ptr<SharedState> Open(QuietUi& ui, NoSystem& system, const std::string& data) {
    auto state = std::make_unique<SharedState>(ui, system);
    state->dataFolder = data;
    state->catalog = Connection::openFile(data + "/filebkp.mdb");
    return state;
}

// One more backup run of directory 1 on a data folder Backup prepared.
int Again(const std::string& data, const std::string& root, const std::string& dest) {
    QuietUi ui;
    NoSystem system;
    auto state = Open(ui, system, data);
    BackupOptions options;
    options.silent = true;
    Statement prefix = state->db().prepare("SELECT ABKP FROM BKPDIR WHERE DIRNO = 0");
    if (prefix.step()) options.compression = prefix.text(0);
    const int run = AddBackupRun(state->db(), "bench", "1", std::time(nullptr));
    BackupDirectory(*state, options, root, "9", "1", dest, run, 1, "01");
    std::printf("backup run %d, %ld messages\n", run, ui.messages);
    return ui.messages == 0 ? 0 : 1;
}

// The automatic backup of the data folder, as the timer runs it: through the
// driver, which keeps the run log (start, every message, the counts).
int Auto(const std::string& data) {
    QuietUi ui;
    NoSystem system;
    auto state = Open(ui, system, data);
    const BackupRunResult run = AutomaticBackup(*state, RealBackupEngine(), std::time(nullptr));
    std::printf("automatic backup run %d, %lld examined, %ld messages\n", run.runNumber,
                static_cast<long long>(run.result.filesExamined), ui.messages);
    return ui.messages == 0 && !run.result.failed() ? 0 : 1;
}

int Backup(const std::string& data, const std::string& root, const std::string& dest, const std::string& compression) {
    std::filesystem::create_directories(data);
    std::filesystem::create_directories(dest);
    std::filesystem::copy_file(std::string(TESSEL_TEMPLATE), data + "/filebkp.mdb",
                               std::filesystem::copy_options::overwrite_existing);
    QuietUi ui;
    NoSystem system;
    auto state = Open(ui, system, data);
    state->db()
        .prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, ABKP, CHK1, CHK2) VALUES "
                 "(0, ?1, NULL, '0', ?2, NULL, NULL), (1, ?3, ?1, '1', '1', '1', '01')")
        .bind(1, dest)
        .bind(2, compression)
        .bind(3, root)
        .run();
    return Again(data, root, dest);
}

int Restore(const std::string& data, int run) {
    QuietUi ui;
    NoSystem system;
    auto state = Open(ui, system, data);
    Statement prefix = state->db().prepare("SELECT ABKP FROM BKPDIR WHERE DIRNO = 0");
    RestoreOptions options;
    if (prefix.step()) options.compression = prefix.text(0);
    const auto start = std::chrono::steady_clock::now();
    RestoreDirectory(*state, 1, run, options);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Statement rows = state->db().prepare("SELECT COUNT(*) FROM RSTRLIST");
    rows.step();
    std::printf("restore of run %d: %.2f s, %lld report rows, %ld messages\n", run, s,
                static_cast<long long>(rows.int64(0)), ui.messages);
    return ui.messages == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string cmd = argc > 1 ? argv[1] : "";
    // TESSEL_RESOLVE=walk: resolve paths below a root one component at a
    // time, as on a kernel without openat2 (bench/resolve_bench.sh).
    if (const char* how = std::getenv("TESSEL_RESOLVE"); how && std::string(how) == "walk") tessel::ResolveByWalkForTests(true);
    if (cmd == "make" && argc >= 3)
        return Make(argv[2], argc > 3 ? std::atoi(argv[3]) : 1000, argc > 4 ? std::atoi(argv[4]) : 100);
    if (cmd == "backup" && argc == 6) return Backup(argv[2], argv[3], argv[4], argv[5]);
    if (cmd == "again" && argc == 5) return Again(argv[2], argv[3], argv[4]);
    if (cmd == "auto" && argc == 3) return Auto(argv[2]);
    if (cmd == "restore" && argc == 4) return Restore(argv[2], std::atoi(argv[3]));
    std::fprintf(stderr,
                 "usage: restore_bench make ROOT [DIRS FILES] | backup DATA ROOT DEST 0|1 | again DATA ROOT DEST | auto DATA | "
                 "restore DATA RUN\n");
    return 2;
}
