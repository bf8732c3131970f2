// The retention window: the stored policy shown, a preview of what it
// removes, the policy saved, and applied after a question.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include "backup/backup_directory.h"
#include "backup/backup_runs.h"
#include "support/gui_harness.h"
#include "utility/BKPSEIRI.h"
#include "utility/UTILITY.h"

namespace tessel {
namespace {

TEST(BKPSEIRI, ShowsTheStoredPolicyPreviewsSavesAndApplies) {
    test::GuiHarness h;
    const std::string source = h.folder / "src", dest = h.folder / "dest";
    std::filesystem::create_directories(source);
    h.state.db()
        .prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, ABKP, CHK1, CHK2) VALUES "
                 "(0, ?1, NULL, '0', '1', NULL, NULL), (1, ?2, ?1, '1', '1', '1', '01')")
        .bind(1, dest).bind(2, source).run();
    BackupOptions options;
    options.compression = "1";
    for (int i = 1; i <= 3; ++i) {
        test::WriteFile(source + "/a.txt", std::string(1000 * i, 'a' + i));
        test::SetMtime(source + "/a.txt", 1700000000 + i * 100);
        const int run = AddBackupRun(h.state.db(), "run " + std::to_string(i), "1", 0);
        BackupDirectory(h.state, options, {source, "9", "1", dest, run, 1, "01"});
    }
    test::WriteFile(h.folder / "BKPDEF.INI", "AUTO=NO\nKEEPMONTHLY=5\n");

    h.context.window<UTILITY>().open();
    QTest::mouseClick(h.context.window<UTILITY>().findChild<QPushButton*>("Command4"), Qt::LeftButton);
    BKPSEIRI* w = static_cast<BKPSEIRI*>(h.context.findWindow("BKPSEIRI"));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->findChild<QSpinBox*>("KEEPMONTHLY")->value(), 5);
    // The stored policy is previewed at once: one month, one run kept.
    auto* grid = w->findChild<QTableWidget*>("DataGrid1");
    auto* status = w->findChild<QLineEdit*>("GODISP");
    EXPECT_EQ(grid->rowCount(), 3);
    EXPECT_EQ(grid->item(0, 0)->text(), "3");
    EXPECT_EQ(grid->item(0, 3)->text().toStdString(), "残す");
    EXPECT_EQ(grid->item(0, 4)->text().toStdString(), "最新・月");
    EXPECT_EQ(grid->item(1, 3)->text().toStdString(), "削除");
    EXPECT_EQ(status->text().toStdString().rfind("削除する回: 2　削除する版: 2　空く容量: ", 0), 0u) << status->text().toStdString();

    // Keeping the last two: one run to remove.
    w->findChild<QSpinBox*>("KEEPMONTHLY")->setValue(0);
    w->findChild<QSpinBox*>("KEEPLAST")->setValue(2);
    QTest::mouseClick(w->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    EXPECT_EQ(status->text().toStdString().rfind("削除する回: 1　", 0), 0u) << status->text().toStdString();
    test::GuiHarness::screenshot(*w, "BKPSEIRI");

    QTest::mouseClick(w->findChild<QPushButton*>("Command2"), Qt::LeftButton);
    EXPECT_EQ(test::ReadFile(h.folder / "BKPDEF.INI"),
              "AUTO=NO\nKEEPLAST=2\nKEEPDAILY=0\nKEEPWEEKLY=0\nKEEPMONTHLY=0\nKEEPYEARLY=0\n");
    EXPECT_EQ(h.ui.messages.back(), "整理の設定を保存しました。");

    // No at the question: nothing changes; Yes: the run goes.
    QTest::mouseClick(w->findChild<QPushButton*>("Command3"), Qt::LeftButton);
    EXPECT_EQ(test::Column(h.state.db(), "SELECT BKPNO FROM BKPNAME ORDER BY BKPNO"), (std::vector<std::string>{"1", "2", "3"}));
    h.ui.answers.push_back(true);
    QTest::mouseClick(w->findChild<QPushButton*>("Command3"), Qt::LeftButton);
    EXPECT_EQ(test::Column(h.state.db(), "SELECT BKPNO FROM BKPNAME ORDER BY BKPNO"), (std::vector<std::string>{"2", "3"}));
    EXPECT_EQ(status->text().toStdString().rfind("削除した回: 1　削除した版: 1　空いた容量: ", 0), 0u) << status->text().toStdString();
    EXPECT_EQ(h.ui.messages.back(), " 処理を完了しました！　");
}

}  // namespace
}  // namespace tessel
