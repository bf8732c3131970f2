#include "app/MAINF.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "windows/BKPGO.h"
#include "windows/FILEREV.h"
#include "windows/RSTRLIST.h"
#include "inquiry/BKPFIND1.h"
#include "inquiry/BKPFIND2.h"
#include "inquiry/BKPFIND3.h"
#include "windows/DIRSET.h"
#include "app/ICONM.h"
#include "app/startup.h"
#include "ui/app_context.h"
#include "ui/controls.h"
#include "ui/help.h"
#include "utility/UTILITY.h"

namespace tessel {
namespace {

QGroupBox* Frame(QWidget* parent, const char* name, const char* caption, std::initializer_list<QPushButton*> buttons) {
    auto* f = new QGroupBox(QString::fromUtf8(caption), parent);
    f->setObjectName(name);
    auto* l = new QVBoxLayout(f);
    for (QPushButton* b : buttons) l->addWidget(b);
    return f;
}

}  // namespace

MAINF::MAINF(AppContext& context) : ctx_(context) {
    setObjectName("MAINF");
    setWindowTitle(QString::fromUtf8("メイン"));

    auto* title = new QLabel(QString::fromUtf8("Ｔｅｓｓｅｌバックアップ管理システム"), this);
    title->setObjectName("Label1");
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    title->setFont(big);
    auto* help = NamedButton(this, "Command10", "ヘルプ");

    auto* frame1 = Frame(this, "Frame1", "　　設定・バックアップ　　",
                         {NamedButton(this, "Command2", "対象ディレクトリーの指定"), NamedButton(this, "Command3", "バックアップの実行")});
    auto* frame2 = Frame(this, "Frame2", "　　変更・問合せ　   ",
                         {NamedButton(this, "Command1", "バックアップ別"), NamedButton(this, "Command6", "ﾃﾞｨﾚｸﾄﾘｰ別"),
                          NamedButton(this, "Command9", "最新状況")});
    auto* frame3 = Frame(this, "Frame3", "  ファイルの戻し処理   ",
                         {NamedButton(this, "Command7", "ファイルの復元"), NamedButton(this, "Command8", "復元結果の表示")});
    auto* frame4 = Frame(this, "Frame4", "　　その他　      　",
                         {NamedButton(this, "Command4", "ユーティリティ"), NamedButton(this, "Command5", "終了")});

    auto* hint = new QLabel(QString::fromUtf8("Ｆ１キーを押すとヘルプが表示されます"), this);
    hint->setObjectName("Label2");
    auto* version = new QLabel(this);
    version->setObjectName("verdisp");
    auto* user = new QLabel(this);
    user->setObjectName("usernm");

    auto* top = new QHBoxLayout;
    top->addWidget(title, 1);
    top->addWidget(help, 0, Qt::AlignTop);
    auto* frames = new QGridLayout;
    frames->addWidget(frame1, 0, 0);
    frames->addWidget(frame2, 0, 1, 2, 1);
    frames->addWidget(frame3, 1, 0);
    frames->addWidget(frame4, 2, 0, 1, 2);
    auto* foot = new QHBoxLayout;
    foot->addWidget(hint, 1, Qt::AlignBottom);
    foot->addWidget(version, 0, Qt::AlignBottom);
    foot->addSpacing(16);
    foot->addWidget(user, 0, Qt::AlignBottom);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(frames);
    layout->addLayout(foot);
    resize(560, 440);

    // F1 opens the manual in every window, this one included (InstallHelpKey).
    connect(help, &QPushButton::clicked, this, [this] { OpenHelp(this, ctx_); });
    connect(findChild<QPushButton*>("Command5"), &QPushButton::clicked, this, &MAINF::exitProgram);
    connect(findChild<QPushButton*>("Command3"), &QPushButton::clicked, this, &MAINF::openWindow<BKPGO>);
    connect(findChild<QPushButton*>("Command7"), &QPushButton::clicked, this, &MAINF::openWindow<FILEREV>);
    connect(findChild<QPushButton*>("Command8"), &QPushButton::clicked, this, &MAINF::openWindow<RSTRLIST>);
    connect(findChild<QPushButton*>("Command1"), &QPushButton::clicked, this, &MAINF::openWindow<BKPFIND1>);
    connect(findChild<QPushButton*>("Command6"), &QPushButton::clicked, this, &MAINF::openWindow<BKPFIND2>);
    connect(findChild<QPushButton*>("Command9"), &QPushButton::clicked, this, &MAINF::openWindow<BKPFIND3>);
    connect(findChild<QPushButton*>("Command4"), &QPushButton::clicked, this, &MAINF::openWindow<UTILITY>);
    connect(findChild<QPushButton*>("Command2"), &QPushButton::clicked, this, &MAINF::openWindow<DIRSET>);
}

void MAINF::open() {
    if (ctx_.lock.anotherCopyRunning()) {
        ctx_.state.ui.showMessage(kAlreadyRunning);
        ctx_.endProgram(1);
        return;
    }
    findChild<QLabel*>("verdisp")->setText(QString::fromUtf8("バージョン\n    ") + QString::fromStdString(ctx_.state.versionText));
    findChild<QLabel*>("usernm")->setText(QString::fromUtf8("ユーザ： ") + QString::fromStdString(GetLoginUserName()));
    AppContext::present(*this);
}

template <class W>
void MAINF::openWindow() {
    W& w = ctx_.window<W>();
    w.open();
    hide();
}

// In icon mode the program goes on in the notification area. Where the
// desktop has none, nothing could bring the window back: the program ends
// as it does outside icon mode.
void MAINF::exitProgram() {
    if (ctx_.state.icon == "YES" && ctx_.window<ICONM>().open()) {
        hide();
        return;
    }
    ctx_.endProgram(0);
}

void MAINF::closeEvent(QCloseEvent* event) {
    if (ctx_.state.icon == "YES" && ctx_.window<ICONM>().open()) {
        event->accept();  // hides the window; the icon brings it back
        return;
    }
    event->ignore();
    ctx_.endProgram(0);
}

void InstallMainMenu(AppContext& context) {
    context.openMenu = [&context] { context.window<MAINF>().open(); };
    context.openLatestErrors = [&context] { context.window<BKPFIND3>().openErrorsOnly(); };
}

}  // namespace tessel
