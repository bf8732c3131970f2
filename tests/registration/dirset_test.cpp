#include "windows/DIRSET.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <thread>

#include "catalog/scan_rules.h"
#include "platform/engine_lock.h"
#include "support/gui_harness.h"
#include "ui/run_panel.h"
#include "ui/selection.h"

namespace tessel {
namespace {

struct Harness : test::GuiHarness {
    // Sources and prefixes lie here, outside the data folder.
    test::TempDir folder;
    Harness() {
        context.backupEngine = [this](SharedState& s, const BackupCall& c, const BackupOptions& o) {
            calls.push_back(c);
            compressionDuringCall.push_back(o.compression);
            // The engine marks an initial backup done with its rows.
            s.db().prepare("UPDATE BKPDIR SET CHK1 = '1' WHERE DIRNO = ?1").bind(1, c.dirNo).run();
            return BackupResult{};
        };
        w().open();
    }
    DIRSET& w() { return context.window<DIRSET>(); }
    QLineEdit* field(const char* name) { return w().findChild<QLineEdit*>(name); }
    QListWidget* list(const char* name) { return w().findChild<QListWidget*>(name); }
    QTableView* grid() { return w().findChild<QTableView*>("DataGrid1"); }
    void click(const char* button) { QTest::mouseClick(w().findChild<QPushButton*>(button), Qt::LeftButton); }
    void focus(const char* name, QEvent::Type type) {
        QFocusEvent e(type);
        QApplication::sendEvent(field(name), &e);
    }
    // Types a text into a field as a user would: enter, type, leave.
    void type(const char* name, const std::string& text) {
        focus(name, QEvent::FocusIn);
        field(name)->setText(QString::fromStdString(text));
        focus(name, QEvent::FocusOut);
    }
    void chooseItem(const char* listName, const char* text) {
        QListWidget* l = list(listName);
        QListWidgetItem* item = l->findItems(QString::fromUtf8(text), Qt::MatchExactly).first();
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(item).center());
    }
    // Makes a folder of the temporary tree and returns its path.
    std::string made(const char* rel) {
        std::filesystem::create_directories(folder / rel);
        return folder / rel;
    }
    // Sets the prefix to a folder of the temporary tree.
    std::string setPrefix(const char* leaf = "backups") {
        type("ODIRFIX", made(leaf));
        return folder / leaf + "/";
    }
    void registerSource(const std::string& source, const std::string& dest = "") {
        type("IDIR", source);
        if (!dest.empty()) field("ODIR")->setText(QString::fromStdString(dest));
        click("Command1");
    }
    // The source cell of the grid row of a registration.
    QModelIndex gridRow(const std::string& dir) {
        QAbstractItemModel* m = grid()->model();
        for (int r = 0; r < m->rowCount(); ++r)
            if (m->index(r, 1).data().toString().toStdString() == dir) return m->index(r, 1);
        ADD_FAILURE() << "no grid row " << dir;
        return {};
    }
    void clickRow(const std::string& dir) {
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, grid()->visualRect(gridRow(dir)).center());
    }
    // The source shown in the grid's current row.
    QString currentSource() { return grid()->currentIndex().siblingAtColumn(1).data().toString(); }
    std::vector<std::string> rows() {
        return test::Column(state.db(), "SELECT DIRNO || '|' || DIR || '|' || ifnull(BKPDIR,'-') || '|' || KBN || '|' || ifnull(BIKOU,'-') "
                                         "|| '|' || ABKP || '|' || ifnull(CHK1,'-') || '|' || ifnull(CHK2,'-') FROM BKPDIR ORDER BY DIRNO");
    }
    std::vector<BackupCall> calls;
    std::vector<std::string> compressionDuringCall;
};

// The exclusion patterns (one a line) and the two choices are stored with the registration; a pattern
// that cannot be used is refused before anything is stored; a picked row shows its choices, and
// patterns left as shown keep their bytes even when they are not UTF-8.
TEST(DIRSET, ExclusionPatternsAndChoicesAreStoredWithTheRegistration) {
    Harness h;
    h.setPrefix();
    const std::string home = h.made("home");
    auto* patterns = h.w().findChild<QPlainTextEdit*>("EXCLUDE");
    auto* hidden = h.w().findChild<QCheckBox*>("HIDDEN");
    auto* caches = h.w().findChild<QCheckBox*>("CACHES");
    patterns->setPlainText(QString::fromUtf8("node_modules/\n\n*.tmp\na//b"));
    hidden->setChecked(true);
    h.registerSource(home);
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{"除外パターン「a//b」は使えません: パターンに空の部分 (//) があります"});
    EXPECT_EQ(h.rows().size(), 1u) << "nothing stored";
    h.ui.messages.clear();
    patterns->setPlainText(QString::fromUtf8("node_modules/\n\n*.tmp\n!写真.tmp"));
    h.click("Command1");
    ScanChoices stored = ReadScanChoices(h.state.db(), 1);
    EXPECT_EQ(stored.patterns, (std::vector<std::string>{"node_modules/", "*.tmp", "!写真.tmp"}));
    EXPECT_TRUE(stored.hiddenFolders);
    EXPECT_FALSE(stored.cacheFolders);
    EXPECT_TRUE(patterns->toPlainText().isEmpty());
    EXPECT_FALSE(hidden->isChecked());

    const std::string bad = "caf\xC3\x28";
    WriteScanPatterns(h.state.db(), 1, {bad, "*.tmp"});
    h.clickRow(home);
    EXPECT_TRUE(hidden->isChecked());
    EXPECT_EQ(patterns->toPlainText().split('\n').size(), 2);
    caches->setChecked(true);
    h.click("Command1");
    stored = ReadScanChoices(h.state.db(), 1);
    EXPECT_EQ(stored.patterns, (std::vector<std::string>{bad, "*.tmp"}));
    EXPECT_TRUE(stored.cacheFolders);
}

// Without a prefix sources are refused; a missing prefix folder is made on
// Yes only; the row keeps its compression; an overlapping prefix (its text
// checked by the command-line test) or a destination in use is refused.
TEST(DIRSET, PrefixComesFirstIsStoredWithItsCompressionAndNeverOverlaps) {
    Harness h;
    EXPECT_TRUE(h.w().prefixMode());
    h.focus("IDIR", QEvent::FocusIn);
    h.field("IDIR")->setText("/data");
    h.field("ODIR")->setText("/dest");
    h.click("Command1");
    EXPECT_EQ(h.ui.messages, std::vector<std::string>(2, "  バックアップ先プレフィックスが指定されていません　"));
    EXPECT_TRUE(h.rows().empty());

    h.chooseItem("COMPEXP", "圧縮");
    const std::string wanted = h.folder / "new/deeper/prefix";
    h.ui.answers = {false};
    h.type("ODIRFIX", wanted);
    EXPECT_EQ(h.ui.questions, std::vector<std::string>{"指定されたディレクトリーが存在しません。作成しますか？"});
    EXPECT_TRUE(h.field("ODIRFIX")->text().isEmpty());
    h.ui.answers = {true};
    h.type("ODIRFIX", wanted);
    EXPECT_TRUE(std::filesystem::is_directory(wanted));
    EXPECT_EQ(h.field("ODIRFIX")->text().toStdString(), wanted + "/");
    EXPECT_EQ(h.rows(), std::vector<std::string>{"0|" + wanted + "/|-|0|PREFIX|1|-|-"});
    h.type("ODIRFIX", wanted + "/");
    h.chooseItem("COMPEXP", "通常");
    EXPECT_EQ(h.rows(), std::vector<std::string>{"0|" + wanted + "/|-|0|PREFIX|0|-|-"});

    test::WriteFile(h.folder / "afile", "x");
    h.ui.answers = {true};
    h.type("ODIRFIX", h.folder / "afile/sub");
    ASSERT_EQ(h.ui.messages.size(), 3u);
    EXPECT_NE(h.ui.messages[2].find("afile/sub/"), std::string::npos);
    EXPECT_EQ(h.rows(), std::vector<std::string>{"0|" + wanted + "/|-|0|PREFIX|0|-|-"});
    const std::string prefix = h.setPrefix("other");
    EXPECT_EQ(h.rows(), std::vector<std::string>{"0|" + prefix + "||0|PREFIX|0|-|-"});

    // The window's part of the shared rules: a derived destination in use is
    // never offered, and a refused prefix leaves the one in force in the field.
    const std::string f = h.folder.path();
    for (const char* d : {"x/docs", "y/docs"}) h.made(d);
    h.field("ODIR")->clear();
    h.registerSource(f + "/x/./docs/");
    EXPECT_EQ(h.rows()[1], "1|" + f + "/x/docs|" + prefix + "docs|1||1|0|00");
    h.type("IDIR", f + "/y/docs");
    EXPECT_EQ(h.ui.messages.back(), " バックアップ先 " + prefix + "docs はすでに他の登録で使われています。別のバックアップ先を指定してください！");
    EXPECT_TRUE(h.field("ODIR")->text().isEmpty());
    h.type("ODIRFIX", f + "/x/docs/bk");
    EXPECT_EQ(h.field("ODIRFIX")->text().toStdString(), prefix);
    EXPECT_EQ(h.rows()[0], "0|" + prefix + "||0|PREFIX|0|-|-");
    EXPECT_FALSE(std::filesystem::exists(h.folder / "x/docs/bk"));
}

TEST(DIRSET, RegisterUpdateDeleteAndTheirRefusals) {
    Harness h;
    std::string prefix = h.setPrefix();
    const std::string mail = h.made("srv/data/mail"), oneil = h.made("srv/O'Neil's files");
    const std::string unregistered = h.made("data/other");
    EXPECT_TRUE(h.w().prefixMode());
    h.click("Command1");
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{"バックアップ対象が指定されていません!"});
    h.ui.messages.clear();

    // Typing a source fills the empty destination from the prefix.
    h.chooseItem("SUBDIR", "対象");
    h.field("BIKOU")->setText(QString::fromUtf8("メール"));
    h.registerSource(mail);
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{" バックアップ先ディレクトリーを作成します！"});
    EXPECT_TRUE(std::filesystem::is_directory(prefix + "mail"));
    EXPECT_TRUE(h.field("IDIR")->text().isEmpty());
    // The same source again, also with a final "/": its row is updated, number and CHK1 stay.
    h.state.db().exec("UPDATE BKPDIR SET CHK1 = '1' WHERE DIRNO = 1");
    h.chooseItem("KBNNM", "情報のみ");
    h.chooseItem("AUTOF", "対象外");
    h.registerSource(mail, prefix + "mail");
    h.chooseItem("KBNNM", "通常");
    h.registerSource(mail + "/");
    h.registerSource(oneil);
    EXPECT_EQ(h.rows(), (std::vector<std::string>{
                            "0|" + prefix + "|-|0|PREFIX|0|-|-",
                            "1|" + mail + "|" + prefix + "mail|1||9|1|01",
                            "2|" + oneil + "|" + prefix + "O'Neil's files|1||9|0|01",
                        }));
    EXPECT_FALSE(h.w().prefixMode());

    h.ui.messages.clear();
    h.clickRow(prefix);
    h.field("IDIR")->setText(QString::fromStdString(prefix));
    h.click("Command3");
    h.clickRow(oneil);
    h.field("IDIR")->setText(QString::fromStdString(unregistered));
    h.click("Command3");
    h.clickRow(mail);
    h.click("Command3");
    EXPECT_EQ(h.ui.messages, (std::vector<std::string>{" プレフィックスは削除できません!", " すでに登録済のデータを選択してください！",
                                                        " バックアップ先を変更すると復元が出来ない時があります！",
                                                        "これはすでに初期バックアップ済の為削除できません！"}));
    // The picked row is removed also when its source is named with a final "/".
    h.clickRow(oneil);
    h.field("IDIR")->setText(QString::fromStdString(oneil + "/"));
    h.click("Command3");
    EXPECT_EQ(h.rows().size(), 2u);
    EXPECT_EQ(h.rows()[1].substr(0, 2 + mail.size()), "1|" + mail);

    // While a backup or restore holds the data folder (here another
    // program's), changes wait for it instead of freezing the window.
    const std::vector<std::string> before = h.rows();
    EngineLock other(h.state.dataFolder);
    ASSERT_TRUE(other.tryLock());
    h.ui.messages.clear();
    h.registerSource(mail);
    h.clickRow(mail);
    h.click("Command3");
    h.chooseItem("COMPEXP", "圧縮");
    QCoreApplication::processEvents();
    h.type("ODIRFIX", h.folder / "elsewhere");
    const std::string busy = kChangeWhileEngineRuns + "\n" + h.state.dataFolder;
    EXPECT_EQ(h.ui.messages, (std::vector<std::string>{busy, " バックアップ先を変更すると復元が出来ない時があります！", busy, busy, busy}));
    EXPECT_EQ(h.rows(), before);
    EXPECT_EQ(ChosenText(*h.list("COMPEXP")), QString::fromUtf8("通常")) << "shows what is stored";
    EXPECT_EQ(h.field("ODIRFIX")->text().toStdString(), prefix);
    other.unlock();
    h.chooseItem("COMPEXP", "圧縮");
    EXPECT_EQ(h.rows()[0], "0|" + prefix + "|-|0|PREFIX|1|-|-");
}

TEST(DIRSET, InitialBackupsRunWithThePrefixCompression) {
    Harness h;
    h.chooseItem("COMPEXP", "圧縮");
    std::string prefix = h.setPrefix();
    const std::string a = h.made("data/a"), b = h.made("data/b");
    h.chooseItem("SUBDIR", "対象");
    h.registerSource(a);
    h.chooseItem("KBNNM", "初期一括BKP");
    h.chooseItem("SUBDIR", "対象外");
    h.registerSource(b);
    h.ui.messages.clear();
    h.click("Command2");
    std::vector<BackupCall> expected = {
        {a, "1", "1", prefix + "a", 0, 1, "01"},
        {b, "1", "3", prefix + "b", 0, 2, "00"},
    };
    EXPECT_EQ(h.calls, expected);
    EXPECT_EQ(h.compressionDuringCall, (std::vector<std::string>{"1", "1"}));
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{" 処理を完了しました！　"});
    EXPECT_EQ(h.rows()[2], "2|" + b + "|" + prefix + "b|3||1|1|00");

    h.clickRow(a);
    EXPECT_EQ(h.list("SUBDIR")->currentItem()->text(), QString::fromUtf8("対象"));
    EXPECT_EQ(h.w().kindCode(), "1");

    test::GuiHarness::screenshot(h.w(), "DIRSET");
}

// An initial backup runs on a worker thread; 中止 (after its question)
// stops it, the registration at work keeps CHK1 "0" and the later one is
// not started; the next press goes on from there.
TEST(DIRSET, AnInitialBackupCanBeStoppedAndStartedAgain) {
    Harness h;
    std::string prefix = h.setPrefix();
    const std::string a = h.made("data/a"), b = h.made("data/b");
    h.registerSource(a);
    h.registerSource(b);
    const BackupEngine marksDone = h.context.backupEngine;
    h.context.backupEngine = [&h, &a](SharedState&, const BackupCall& c, const BackupOptions& o) {
        h.calls.push_back(c);
        BackupResult r;
        while (c.source == a && !o.control->stopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        r.stopped = c.source == a;
        return r;
    };
    h.ui.messages.clear();
    h.ui.answers = {true};
    // Esc once the backup runs, however long it takes to start on a busy machine.
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&h, &watch] {
        if (!h.w().running()) return;
        watch.stop();
        EXPECT_FALSE(h.w().findChild<QPushButton*>("Command1")->isEnabled()) << "registrations wait for the backup";
        QTest::keyClick(&h.w(), Qt::Key_Escape);
    });
    watch.start();
    h.click("Command2");
    watch.stop();
    EXPECT_EQ(h.ui.questions, std::vector<std::string>{kInitialBackupStopQuestion});
    EXPECT_EQ(h.ui.messages, std::vector<std::string>{kInitialBackupStopped});
    ASSERT_EQ(h.calls.size(), 1u);
    EXPECT_EQ(h.rows()[1], "1|" + a + "|" + prefix + "a|1||1|0|00") << "CHK1 stays 0";
    EXPECT_EQ(h.rows()[2], "2|" + b + "|" + prefix + "b|1||1|0|00");
    EXPECT_TRUE(h.w().findChild<QPushButton*>("Command1")->isEnabled());

    h.context.backupEngine = marksDone;
    h.click("Command2");
    EXPECT_EQ(h.calls.size(), 3u);
    EXPECT_EQ(h.ui.messages.back(), " 処理を完了しました！　");
    EXPECT_EQ(h.rows()[1], "1|" + a + "|" + prefix + "a|1||1|1|00");
}

}  // namespace
}  // namespace tessel
