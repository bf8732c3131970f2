// Drives BackupDirectory on a catalog for the backup benchmark
// (backup_bench.sh), and pads a catalog with versions of other directories.
//   tessel-backup-bench run <catalog> <source> <dest> <run number> <initial flag> <compression>
//   tessel-backup-bench pad <catalog> <rows>
//   tessel-backup-bench patterns <catalog> [<pattern>...]   (directory 1's exclusion patterns)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "backup/backup_directory.h"
#include "catalog/connection.h"
#include "catalog/scan_rules.h"
#include "engine/shared_state.h"

namespace {

// Keeps only the latest status text, as a window would show it; messages
// go to the error stream.
class QuietUi : public tessel::UserInterface {
public:
    void showMessage(const std::string& text) override {
        ++messages;
        if (messages <= 20) std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    bool askYesNo(const std::string&) override { return false; }
    void setStatus(const std::string&, const std::string& text) override {
        last = text;
        ++statuses;
    }
    void setWaitCursor(bool) override {}
    std::string last;
    long statuses = 0;
    long messages = 0;
};

class NoSystem : public tessel::SystemServices {
public:
    void powerOff() override {}
};

long Count(tessel::Connection& c, const std::string& sql, int run) {
    tessel::Statement q = c.prepare(sql);
    q.bind(1, run);
    return q.step() ? static_cast<long>(q.int64(0)) : 0;
}

int Run(char** argv) {
    QuietUi ui;
    NoSystem system;
    tessel::SharedState state(ui, system);
    state.catalog = tessel::Connection::openFile(argv[2]);
    const int run = std::atoi(argv[5]);
    auto start = std::chrono::steady_clock::now();
    tessel::BackupDirectory(state, tessel::BackupOptions{false, argv[7]}, {argv[3], argv[6], "1", argv[4], run, 1, "01"});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long recorded = Count(state.db(), "SELECT count(*) FROM FILEKANRI WHERE BKPNO = ?1 AND DIRNO = 1", run);
    long failed = Count(state.db(), "SELECT count(*) FROM FILEKANRI WHERE BKPNO = ?1 AND DIRNO = 1 AND KBN1 = '9'", run);
    long seen = Count(state.db(), "SELECT count(*) FROM FILEKANRI WHERE DIRNO = 1 AND CHK1 = '1' AND ?1 >= 0", run);
    std::printf("run=%d seconds=%.3f files=%ld recorded=%ld failed=%ld statuses=%ld messages=%ld\n", run, seconds, seen,
                recorded, failed, ui.statuses, ui.messages);
    return failed == 0 && ui.messages == 0 ? 0 : 1;
}

// Adds rows of directories 2, 3, ... : 1000 files per directory folder,
// spread over 100 directory numbers, as earlier backups of other sources.
int Pad(char** argv) {
    auto c = tessel::Connection::openFile(argv[2]);
    const long rows = std::atol(argv[3]);
    tessel::Transaction t(*c);
    tessel::Statement add = c->prepare(
        "INSERT INTO FILEKANRI (BKPNO, DIRNO, LVL, DIR, FILENM, FCRDATE, FCRTIME, FCRDAYD, FCRTIMED, FUPDATE, FUPTIME, "
        "FUPDAYD, FUPTIMED, FSIZE, FVERNO, FMVER, FLVER, PVERNO, PMVER, PLVER, KBN1, CHK1) VALUES "
        "(?1, ?2, ?3, ?4, ?5, 30000000, 12345, '2020年1月1日(水)', '1時2分3秒', 30000000, 12345, '2020年1月1日(水)', "
        "'1時2分3秒', ?6, ' ', 0, 0, ' ', 0, 0, '0', ?7)");
    for (long i = 0; i < rows; ++i) {
        long file = i / 3, level = i % 3;  // three versions of every file
        int dirNo = 2 + static_cast<int>(file % 100);
        std::string dir = "/srv/other" + std::to_string(dirNo) + "/d" + std::to_string(file / 1000 % 1000) + "/";
        add.bind(1, static_cast<int>(level + 1)).bind(2, dirNo).bind(3, static_cast<int>(level + 1)).bind(4, dir);
        add.bind(5, "f" + std::to_string(file % 1000) + ".dat").bind(6, static_cast<int>(i % 65536));
        add.bind(7, level == 2 ? "1" : "0");
        add.run();
    }
    t.commit();
    std::printf("padded=%ld\n", rows);
    return 0;
}

// Replaces the exclusion patterns of directory 1.
int Patterns(int argc, char** argv) {
    auto c = tessel::Connection::openFile(argv[2]);
    tessel::Transaction t(*c);
    tessel::WriteScanPatterns(*c, 1, std::vector<std::string>(argv + 3, argv + argc));
    t.commit();
    std::printf("patterns=%d\n", argc - 3);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 8 && std::string(argv[1]) == "run") return Run(argv);
        if (argc == 4 && std::string(argv[1]) == "pad") return Pad(argv);
        if (argc >= 3 && std::string(argv[1]) == "patterns") return Patterns(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tessel-backup-bench: %s\n", e.what());
        return 2;
    }
    std::fprintf(stderr,
                 "usage: tessel-backup-bench run <catalog> <source> <dest> <run> <initial flag> <compression>\n"
                 "       tessel-backup-bench pad <catalog> <rows>\n"
                 "       tessel-backup-bench patterns <catalog> [<pattern>...]\n");
    return 2;
}
