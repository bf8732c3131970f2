#include "shell/MAINF.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <filesystem>

#include "backup/BKPGO.h"
#include "inquiry/BKPFIND1.h"
#include "inquiry/BKPFIND2.h"
#include "inquiry/BKPFIND3.h"
#include "platform/file_ops.h"
#include "registration/DIRSET.h"
#include "restore/FILEREV.h"
#include "restore/RSTRLIST.h"
#include "support/gui_harness.h"
#include "ui/help.h"
#include "utility/UTILITY.h"
#include "utility/frmAbout.h"

namespace tessel {
namespace {

QString Text(QWidget& w, const char* name) {
    if (auto* l = w.findChild<QLabel*>(name)) return l->text();
    if (auto* b = w.findChild<QPushButton*>(name)) return b->text();
    if (auto* f = w.findChild<QGroupBox*>(name)) return f->title();
    ADD_FAILURE() << "no control " << name;
    return {};
}

TEST(MAINF, ShowsEveryCaptionExactly) {
    test::GuiHarness h;
    MAINF& w = h.context.window<MAINF>();
    w.open();
    EXPECT_EQ(w.windowTitle(), QString::fromUtf8("メイン"));
    const std::pair<const char*, const char*> expected[] = {
        {"Label1", "Ｔｅｓｓｅｌバックアップ管理システム"},
        {"Command10", "ヘルプ"},
        {"Frame1", "　　設定・バックアップ　　"},
        {"Command2", "対象ディレクトリーの指定"},
        {"Command3", "バックアップの実行"},
        {"Frame2", "　　変更・問合せ　   "},
        {"Command1", "バックアップ別"},
        {"Command6", "ﾃﾞｨﾚｸﾄﾘｰ別"},
        {"Command9", "最新状況"},
        {"Frame3", "  ファイルの戻し処理   "},
        {"Command7", "ファイルの復元"},
        {"Command8", "復元結果の表示"},
        {"Frame4", "　　その他　      　"},
        {"Command4", "ユーティリティ"},
        {"Command5", "終了"},
        {"Label2", "Ｆ１キーを押すとヘルプが表示されます"},
        {"verdisp", "バージョン\n    1.04"},
    };
    for (const auto& [name, text] : expected) EXPECT_EQ(Text(w, name), QString::fromUtf8(text)) << name;
    EXPECT_EQ(Text(w, "usernm"), QString::fromUtf8("ユーザ： ") + QString::fromStdString(GetLoginUserName()));
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(h.ui.messages.empty());

    QString shot = test::GuiHarness::screenshot(w, "MAINF");
    EXPECT_FALSE(QImage(shot).isNull());
}

TEST(MAINF, ExitAndCloseBoxEndTheProgramOutsideIconMode) {
    test::GuiHarness h;
    MAINF& w = h.context.window<MAINF>();
    w.open();
    QTest::mouseClick(w.findChild<QPushButton*>("Command5"), Qt::LeftButton);
    ASSERT_TRUE(h.endedWith);
    EXPECT_EQ(*h.endedWith, 0);

    h.endedWith.reset();
    w.close();
    ASSERT_TRUE(h.endedWith);
    EXPECT_EQ(*h.endedWith, 0);
}


template <class W>
void PressF1In(test::GuiHarness& h, const char* name) {
    W& w = h.context.window<W>();
    w.open();
    QTest::keyClick(&w, Qt::Key_F1);
    ASSERT_FALSE(h.browserAsked.empty()) << name;
    QUrl expected = QUrl::fromLocalFile(QString::fromStdString(h.context.helpFile));
    expected.setFragment(name);
    EXPECT_EQ(h.browserAsked.back(), expected) << name;
    // The manual has that window's section.
    EXPECT_NE(test::ReadFile(h.context.helpFile).find(std::string("id=\"") + name + "\""), std::string::npos) << name;
}

TEST(Help, F1InEveryWindowAndTheHelpButtonOpenTheManualAtTheWindowsSection) {
    test::GuiHarness h;
    const std::string manual = test::ReadFile(h.context.helpFile);
    for (const char* topic : {"AUTO=", "INITBKP=", "TERMBKP=", "ICON=", "TIME1=", "tessel-backupctl", "filebkp.mdb", "BKPDEF.INI",
                              ".tessel-engine.lock", "RSTRLIST.TXT", "--wait"})
        EXPECT_NE(manual.find(topic), std::string::npos) << topic;
    PressF1In<MAINF>(h, "MAINF");
    PressF1In<DIRSET>(h, "DIRSET");
    PressF1In<BKPGO>(h, "BKPGO");
    PressF1In<FILEREV>(h, "FILEREV");
    PressF1In<RSTRLIST>(h, "RSTRLIST");
    PressF1In<BKPFIND1>(h, "BKPFIND1");
    PressF1In<BKPFIND2>(h, "BKPFIND2");
    PressF1In<BKPFIND3>(h, "BKPFIND3");
    PressF1In<UTILITY>(h, "UTILITY");
    PressF1In<frmAbout>(h, "frmAbout");
    EXPECT_EQ(h.browserAsked.size(), 10u);

    MAINF& w = h.context.window<MAINF>();
    w.open();
    QTest::mouseClick(w.findChild<QPushButton*>("Command10"), Qt::LeftButton);
    EXPECT_EQ(h.browserAsked.back().fragment(), "MAINF");
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(h.ui.messages.empty());
}

TEST(Help, AMissingManualOrNoBrowserIsReportedWithTheFilesPath) {
    test::GuiHarness h;
    MAINF& w = h.context.window<MAINF>();
    w.open();
    h.browserOpens = false;
    QTest::keyClick(&w, Qt::Key_F1);
    h.context.helpFile = h.folder / "help/index.html";
    QTest::mouseClick(w.findChild<QPushButton*>("Command10"), Qt::LeftButton);
    EXPECT_EQ(h.ui.messages,
              (std::vector<std::string>{
                  "ヘルプファイルを開けませんでした。ブラウザーで次のファイルを開いてください: " + std::string(TESSEL_SHARE_BUILD_DIR) +
                      "/help/index.html",
                  "ヘルプファイルが見つかりません: " + (h.folder / "help/index.html")}));
    EXPECT_EQ(h.browserAsked.size(), 1u);
}

TEST(Help, TheManualIsFoundBesideTheInstalledOrTheBuiltProgram) {
    EXPECT_EQ(HelpFileBeside(TESSEL_BINARY_DIR), std::string(TESSEL_SHARE_BUILD_DIR) + "/help/index.html");
    test::TempDir prefix;
    std::filesystem::create_directories(prefix / "bin");
    EXPECT_EQ(HelpFileBeside(prefix / "bin"), prefix / "share/tessel-backup/help/index.html");  // said when missing
    std::filesystem::create_directories(prefix / "share/tessel-backup/help");
    test::WriteFile(prefix / "share/tessel-backup/help/index.html", "<html></html>");
    EXPECT_EQ(HelpFileBeside(prefix / "bin"), prefix / "share/tessel-backup/help/index.html");
}

TEST(MAINF, OpeningBesideAnotherCopyEndsTheProgram) {
    test::GuiHarness h;
    InstanceLock other(h.runtime / "tessel.lock");
    ASSERT_TRUE(other.acquire());
    h.context.window<MAINF>().open();
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{"すでにTesselバックアップ管理は起動しています。"});
    EXPECT_EQ(h.endedWith, 1);
}

}  // namespace
}  // namespace tessel
