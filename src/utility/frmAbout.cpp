#include "utility/frmAbout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/app_context.h"
#include "ui/program_icon.h"
#include "utility/UTILITY.h"
#include "utility/system_info.h"

namespace tessel {
namespace {

QFrame* Separator(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

}  // namespace

frmAbout::frmAbout(AppContext& context) : ctx_(context) {
    setObjectName("frmAbout");
    setWindowTitle(QString::fromUtf8("ﾊﾞｰｼﾞｮﾝ情報"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* icon = new QLabel(this);
    icon->setObjectName("picIcon");
    icon->setPixmap(ProgramIcon().pixmap(32, 32));
    auto* title = new QLabel(QString::fromUtf8("Tesselバックアップ管理"), this);
    title->setObjectName("lblTitle");
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    title->setFont(big);
    auto* version = new QLabel(this);
    version->setObjectName("lblVersion");
    // The two separator lines carry one name, as one control drawn twice.
    auto* lines = new QWidget(this);
    lines->setObjectName("Line1");
    auto* linesLayout = new QVBoxLayout(lines);
    linesLayout->setContentsMargins(0, 0, 0, 0);
    linesLayout->setSpacing(1);
    linesLayout->addWidget(Separator(lines));
    linesLayout->addWidget(Separator(lines));
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("cmdOK");
    ok->setDefault(true);
    auto* sysInfo = new QPushButton(QString::fromUtf8("ｼｽﾃﾑ情報(&S)..."), this);
    sysInfo->setObjectName("cmdSysInfo");

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(title, 0, 1);
    layout->addWidget(version, 1, 1);
    layout->addWidget(lines, 2, 0, 1, 2);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(sysInfo);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addLayout(buttons);
    layout->addLayout(bottom, 3, 0, 1, 2);
    layout->setColumnStretch(1, 1);
    resize(420, 200);

    connect(ok, &QPushButton::clicked, this, &QWidget::close);
    connect(sysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);
}

void frmAbout::open() {
    findChild<QLabel*>("lblVersion")->setText(QString::fromUtf8("ﾊﾞｰｼﾞｮﾝ ") + QString::fromStdString(ctx_.state.versionText));
    AppContext::present(*this);
}

void frmAbout::StartSysInfo() {
    QString program = FindSystemInfoProgram();
    if (program.isEmpty() || !QProcess::startDetached(program, {})) {
        ctx_.state.ui.showMessage("現時点ではｼｽﾃﾑ情報を使用できません");
        return;
    }
}

void frmAbout::closeEvent(QCloseEvent* event) {
    ctx_.window<UTILITY>().open();
    event->accept();
}

}  // namespace tessel
