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

TEST(Batch, PowerOffBackupWaitsForARunningEngineBacksUpWithoutADisplayAndPowersOff) {
    test::TempDataFolder data;
    test::TempDir tree;  // sources, destination, a stand-in systemctl, the runtime folder
    test::WriteFile(data / "BKPDEF.INI", "TERMBKP=YES\r\n");
    for (const char* dir : {"src/sub dir", "dest", "bin"}) std::filesystem::create_directories(tree / dir);
    test::WriteFile(tree / "src/a.txt", "hello");
    test::WriteFile(tree / "src/sub dir/O'Neil 日本.txt", std::string(50000, 'x'));
    std::filesystem::copy_file(data / "bkpDEF.mdb", data / "filebkp.mdb");
    Connection::openFile(data / "filebkp.mdb")
        ->prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES "
                  "(0, ?1, NULL, '0', 'PREFIX', '1', NULL, NULL), (1, ?2, ?3, '1', NULL, '1', '1', '01')")
        .bind(1, tree / "dest/").bind(2, tree / "src").bind(3, tree / "dest/src")
        .run();
    test::WriteFile(tree / "bin/systemctl", "#!/bin/sh\necho \"$@\" >> \"$(dirname \"$0\")/asked\"\n");
    std::filesystem::permissions(tree / "bin/systemctl", std::filesystem::perms::owner_all);
    // Another engine (as the companion's timer would) holds the data folder for 2 s.
    EngineLock other(data.path());
    ASSERT_TRUE(other.tryLock());
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        other.unlock();
    });
    const int status = test::Shell("cd " + ShellQuote(data.path()) + " && env -u DISPLAY -u WAYLAND_DISPLAY PATH=" +
                                   ShellQuote(tree / "bin") + ":\"$PATH\" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=" +
                                   ShellQuote(tree.path()) + " timeout 60 " +
                                   ShellQuote(std::string(TESSEL_BINARY_DIR) + "/tessel-backup") + " 2>" + ShellQuote(tree / "err"));
    release.join();
    const std::string err = test::ReadFile(tree / "err");
    ASSERT_EQ(status, 0) << err;
    EXPECT_NE(err.find("別のバックアップ・復元・カタログ更新が終わるのを待っています（残り 10 分 00 秒）。\n" + data.path()),
              std::string::npos)
        << err;
    EXPECT_EQ(test::ReadFile(tree / "bin/asked"), "poweroff\n");

    EXPECT_EQ(test::Shell("lhasa t " + ShellQuote(tree / "dest/src/V00001/bkpcmp.lzh") + " >/dev/null 2>&1"), 0) << err;
    Statement rows = Connection::openFile(data / "filebkp.mdb")
                         ->prepare("SELECT count(*), max(BKPNAME) FROM FILEKANRI JOIN BKPNAME USING (BKPNO) "
                                   "WHERE BKPNO = 1 AND KBN1 = '0' AND LVL = 1");
    ASSERT_TRUE(rows.step());
    EXPECT_EQ(rows.int64(0), 2);
    EXPECT_EQ(rows.text(1), "自動バックアップ");
}

}  // namespace
}  // namespace tessel
