#include "shell/MAINF.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "platform/file_ops.h"
#include "support/gui_harness.h"

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


TEST(MAINF, HelpWithoutHelpFileSaysSo) {
    test::GuiHarness h;
    MAINF& w = h.context.window<MAINF>();
    w.open();
    QTest::keyClick(&w, Qt::Key_F1);
    QTest::mouseClick(w.findChild<QPushButton*>("Command10"), Qt::LeftButton);
    std::string expected = "ヘルプファイルが見つかりません: " + (h.folder / "quillar.chm");
    EXPECT_EQ(h.ui.messages, (std::vector<std::string>{expected, expected}));
    EXPECT_TRUE(w.isVisible());
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
