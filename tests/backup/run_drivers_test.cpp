// The drivers that start backup runs: run records and the automatic backup.
#include <gtest/gtest.h>

#include <filesystem>

#include "backup/automatic_backup.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace tessel {
namespace {

struct Harness {
    Harness() {
        test::OpenFreshCatalog(folder, state);
        engine = [this](SharedState&, const BackupCall& c, const BackupOptions& o) {
            calls.push_back(c);
            options.push_back(std::string(o.silent ? "silent " : "") + o.compression);
            return BackupResult{};
        };
    }
    test::TempDataFolder folder;
    test::RecordingUi ui;
    test::FakeSystem system;
    SharedState state{ui, system};
    BackupEngine engine;
    std::vector<BackupCall> calls;
    std::vector<std::string> options;

    std::vector<std::string> runs(bool withTimes = true) {
        std::vector<std::string> out;
        Statement s = state.db().prepare("SELECT BKPNO, BKPNAME, KBN, DAY1, TIME1 FROM BKPNAME ORDER BY BKPNO");
        while (s.step())
            out.push_back(std::to_string(s.int64(0)) + " " + s.text(1) + " " + s.text(2) + (withTimes ? " " + s.text(3) + " " + s.text(4) : ""));
        return out;
    }
};

TEST(AutomaticBackup, BacksUpEligibleDirectoriesSilentlyWithThePrefixCompression) {
    Harness h;
    h.state.db().exec(
        "INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES "
        "(0, '/dest', NULL, '0', 'PREFIX', '1', NULL, NULL),"
        "(1, '/data/a', '/dest/a', '1', NULL, '1', '1', '01'),"
        "(2, '/data/info', '/dest/info', '9', NULL, '1', '1', '00'),"
        "(3, '/data/manual', '/dest/manual', '1', NULL, '9', '1', '01'),"
        "(4, NULL, '/dest/none', '1', NULL, '1', '0', '01'),"
        "(5, '/data/nochk', '/dest/nochk', '3', NULL, '1', '1', NULL)");
    EXPECT_EQ(AutomaticBackup(h.state, h.engine, std::time(nullptr)).runNumber, 1);

    std::vector<BackupCall> expected = {
        {"/data/a", "9", "1", "/dest/a", 1, 1, "01"},
        {"/data/info", "9", "9", "/dest/info", 1, 2, "00"},
        {"/data/nochk", "9", "1", "/dest/nochk", 1, 5, ""},
    };
    EXPECT_EQ(h.calls, expected);
    EXPECT_EQ(h.options, std::vector<std::string>(3, "silent 1"));
    EXPECT_EQ(h.runs(false), std::vector<std::string>{"1 自動バックアップ 1"});
}

TEST(AddBackupRun, NumbersInterleaveWithAutomaticRunsAndRecordLocalDateAndTime) {
    Harness h;
    h.state.db().exec("DELETE FROM AUTODEF");
    std::tm t{};
    t.tm_year = 103;
    t.tm_mon = 3;
    t.tm_mday = 5;
    t.tm_hour = 13;
    t.tm_min = 5;
    t.tm_sec = 9;
    t.tm_isdst = -1;
    const std::time_t at = std::mktime(&t);
    AutomaticBackup(h.state, h.engine, at);
    EXPECT_EQ(AddBackupRun(h.state.db(), "手動", "9", at), 2);
    AutomaticBackup(h.state, h.engine, at);
    EXPECT_EQ(h.runs(), (std::vector<std::string>{"1 自動バックアップ 1 2003-04-05 13:05:09", "2 手動 9 2003-04-05 13:05:09",
                                                  "3 自動バックアップ 1 2003-04-05 13:05:09"}));
    EXPECT_TRUE(h.calls.empty());
    Statement counter = h.state.db().prepare("SELECT count(*) || ' ' || max(BKPNO) FROM AUTODEF");
    ASSERT_TRUE(counter.step());
    EXPECT_EQ(counter.text(0), "1 3");
}

}  // namespace
}  // namespace tessel
