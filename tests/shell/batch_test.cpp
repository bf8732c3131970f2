// The program run as a batch job: a data folder whose settings ask for a
// start-up backup backs up and ends by itself, without a display.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "catalog/connection.h"
#include "platform/engine_lock.h"
#include "support/temp_dir.h"

namespace tessel {
namespace {

using test::ShellQuote;

// A data folder with the given settings and a private runtime folder.
struct Batch {
    test::TempDataFolder data;
    test::TempDir tree;
    explicit Batch(const std::string& settings) { test::WriteFile(data / "BKPDEF.INI", settings); }

    // Runs the program in the data folder; its error output lands in `err`.
    int run(const std::string& env = "", int seconds = 60) {
        int status = test::Shell("cd " + ShellQuote(data.path()) + " && " + env + " QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=" +
                                 ShellQuote(tree.path()) + " timeout " + std::to_string(seconds) + " " +
                                 ShellQuote(std::string(TESSEL_BINARY_DIR) + "/tessel-backup") + " 2>" + ShellQuote(tree / "err"));
        err = test::ReadFile(tree / "err");
        return status;
    }
    std::string err;
};

TEST(Batch, PowerOffBackupWaitsForARunningEngineBacksUpWithoutADisplayAndPowersOff) {
    Batch b("TERMBKP=YES\r\n");
    std::filesystem::create_directories(b.tree / "src/sub dir");
    std::filesystem::create_directories(b.tree / "dest");
    std::filesystem::create_directories(b.tree / "bin");
    test::WriteFile(b.tree / "src/a.txt", "hello");
    test::WriteFile(b.tree / "src/sub dir/O'Neil 日本.txt", std::string(50000, 'x'));
    std::filesystem::copy_file(b.data / "bkpDEF.mdb", b.data / "filebkp.mdb");
    Connection::openFile(b.data / "filebkp.mdb")
        ->prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES "
                  "(0, ?1, NULL, '0', 'PREFIX', '1', NULL, NULL), (1, ?2, ?3, '1', NULL, '1', '1', '01')")
        .bind(1, b.tree / "dest/").bind(2, b.tree / "src").bind(3, b.tree / "dest/src")
        .run();
    test::WriteFile(b.tree / "bin/systemctl", "#!/bin/sh\necho \"$@\" >> \"$(dirname \"$0\")/asked\"\n");
    std::filesystem::permissions(b.tree / "bin/systemctl", std::filesystem::perms::owner_all);
    // Another engine (as the companion's timer would) holds the data folder for 2 s.
    EngineLock other(b.data.path());
    ASSERT_TRUE(other.tryLock());
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        other.unlock();
    });
    const int status = b.run("env -u DISPLAY -u WAYLAND_DISPLAY PATH=" + ShellQuote(b.tree / "bin") + ":\"$PATH\"");
    release.join();
    ASSERT_EQ(status, 0) << b.err;
    EXPECT_NE(b.err.find("別のバックアップ・復元・カタログ更新が終わるのを待っています（残り 10 分 00 秒）。\n" + b.data.path()),
              std::string::npos)
        << b.err;
    EXPECT_EQ(test::ReadFile(b.tree / "bin/asked"), "poweroff\n");

    const std::string archive = b.tree / "dest/src/V00001/bkpcmp.lzh";
    EXPECT_EQ(test::Shell("lhasa t " + ShellQuote(archive) + " >/dev/null 2>&1"), 0) << b.err;
    Statement rows = Connection::openFile(b.data / "filebkp.mdb")
                         ->prepare("SELECT count(*), max(BKPNAME) FROM FILEKANRI JOIN BKPNAME USING (BKPNO) "
                                   "WHERE BKPNO = 1 AND KBN1 = '0' AND LVL = 1");
    ASSERT_TRUE(rows.step());
    EXPECT_EQ(rows.int64(0), 2);
    EXPECT_EQ(rows.text(1), "自動バックアップ");
}

}  // namespace
}  // namespace tessel
