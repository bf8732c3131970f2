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

TEST(Batch, StartUpBackupRunsAndEndsWithoutADisplay) {
    test::TempDataFolder data;
    test::TempDir tree;
    std::filesystem::create_directories(tree / "src/sub dir");
    std::filesystem::create_directories(tree / "dest");
    test::WriteFile(tree / "src/a.txt", "hello");
    test::WriteFile(tree / "src/sub dir/O'Neil 日本.txt", std::string(50000, 'x'));
    test::WriteFile(data / "BKPDEF.INI", "INITBKP=YES\r\n");
    std::filesystem::copy_file(data / "bkpDEF.mdb", data / "filebkp.mdb");
    {
        auto db = Connection::openFile(data / "filebkp.mdb");
        db->prepare("INSERT INTO BKPDIR (DIRNO, DIR, KBN, BIKOU, ABKP) VALUES (0, ?1, '0', 'PREFIX', '1')")
            .bind(1, tree / "dest/")
            .run();
        db->prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, ABKP, CHK1, CHK2) VALUES (1, ?1, ?2, '1', '1', '1', '01')")
            .bind(1, tree / "src")
            .bind(2, tree / "dest/src")
            .run();
    }
    std::string command = "cd " + ShellQuote(data.path()) + " && env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=" +
                          ShellQuote(tree.path()) + " timeout 60 " + ShellQuote(std::string(TESSEL_BINARY_DIR) + "/tessel-backup") +
                          " 2>" + ShellQuote(tree / "stderr.txt");
    ASSERT_EQ(test::Shell(command), 0) << test::ReadFile(tree / "stderr.txt");

    std::string archive = tree / "dest/src/V00001/bkpcmp.lzh";
    SCOPED_TRACE(test::ReadFile(tree / "stderr.txt"));
    ASSERT_TRUE(std::filesystem::exists(archive));
    EXPECT_EQ(test::Shell("lhasa t " + ShellQuote(archive) + " >/dev/null 2>&1"), 0);
    auto db = Connection::openFile(data / "filebkp.mdb");
    Statement rows = db->prepare("SELECT count(*) FROM FILEKANRI WHERE BKPNO = 1 AND KBN1 = '0' AND LVL = 1");
    ASSERT_TRUE(rows.step());
    EXPECT_EQ(rows.int64(0), 2);
    Statement run = db->prepare("SELECT BKPNAME FROM BKPNAME WHERE BKPNO = 1");
    ASSERT_TRUE(run.step());
    EXPECT_EQ(run.text(0), "自動バックアップ");
}

TEST(Batch, PowerOffBackupWaitsForARunningEngineFirst) {
    test::TempDataFolder data;
    test::TempDir tree;
    std::filesystem::create_directories(tree / "bin");
    test::WriteFile(tree / "bin/systemctl", "#!/bin/sh\necho \"$@\" >> \"$(dirname \"$0\")/asked\"\n");
    std::filesystem::permissions(tree / "bin/systemctl", std::filesystem::perms::owner_all);
    test::WriteFile(data / "BKPDEF.INI", "TERMBKP=YES\n");
    // Another engine (as the companion's timer would) holds the data folder for 2 s.
    EngineLock other(data.path());
    ASSERT_TRUE(other.tryLock());
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        other.unlock();
    });
    std::string command = "cd " + ShellQuote(data.path()) + " && PATH=" + ShellQuote(tree / "bin") + ":\"$PATH\" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=" +
                          ShellQuote(tree.path()) + " timeout 60 " + ShellQuote(std::string(TESSEL_BINARY_DIR) + "/tessel-backup") +
                          " 2>" + ShellQuote(tree / "stderr.txt");
    int status = test::Shell(command);
    release.join();
    std::string err = test::ReadFile(tree / "stderr.txt");
    EXPECT_EQ(status, 0) << err;
    EXPECT_NE(err.find("別のバックアップ・復元・カタログ更新が終わるのを待っています（残り 10 分 00 秒）。\n" + data.path()),
              std::string::npos)
        << err;
    EXPECT_EQ(test::ReadFile(tree / "bin/asked"), "poweroff\n");
    auto db = Connection::openFile(data / "filebkp.mdb");
    Statement run = db->prepare("SELECT BKPNAME FROM BKPNAME WHERE BKPNO = 1");
    ASSERT_TRUE(run.step());
    EXPECT_EQ(run.text(0), "自動バックアップ");
}

TEST(Batch, BadSettingsEndTheProgramWithAnError) {
    test::TempDataFolder data;
    test::TempDir runtime;
    test::WriteFile(data / "Bkpdef.ini", "TIME1=25:00\n");
    std::string command = "cd " + ShellQuote(data.path()) + " && QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=" + ShellQuote(runtime.path()) +
                          " timeout 60 " + ShellQuote(std::string(TESSEL_BINARY_DIR) + "/tessel-backup") + " 2>" +
                          ShellQuote(runtime / "stderr.txt");
    EXPECT_EQ(test::Shell(command), 1);
    EXPECT_NE(test::ReadFile(runtime / "stderr.txt").find("BKPDEF.INI上の時間指定が間違っています。"), std::string::npos);
}

TEST(Batch, IconModeWithoutANotificationAreaSaysSoAndKeepsAWindow) {
    test::TempDataFolder data;
    test::TempDir runtime;
    test::WriteFile(data / "Bkpdef.ini", "ICON=YES\n");
    // The program lives on until its own exit; the test ends it after 3 s.
    std::string command = "cd " + ShellQuote(data.path()) + " && QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=" + ShellQuote(runtime.path()) +
                          " timeout 3 " + ShellQuote(std::string(TESSEL_BINARY_DIR) + "/tessel-backup") + " 2>" +
                          ShellQuote(runtime / "stderr.txt");
    EXPECT_EQ(test::Shell(command), 124);
    EXPECT_TRUE(test::ReadFile(runtime / "stderr.txt").starts_with("Tesselバックアップ管理:  通知領域が見つからないため、メイン画面を表示します。\n"));
}

}  // namespace
}  // namespace tessel
