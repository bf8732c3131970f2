#include "utility/UTILITY.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/app_context.h"
#include "utility/BKPSEIRI.h"
#include "utility/frmAbout.h"

namespace tessel {

UTILITY::UTILITY(AppContext& context) : ctx_(context) {
    setObjectName("UTILITY");
    setWindowTitle(QString::fromUtf8("ユーティリティ"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* title = new QLabel(QString::fromUtf8("ユーティリティ"), this);
    title->setObjectName("Label1");
    QFont serif(QStringLiteral("Noto Serif CJK JP"));
    serif.setStyleHint(QFont::Serif);
    serif.setPointSizeF(title->font().pointSizeF() * 2.0);
    title->setFont(serif);
    title->setAlignment(Qt::AlignCenter);
    auto* about = new QPushButton(QString::fromUtf8("バージョン情報"), this);
    about->setObjectName("Command3");
    auto* seiri = new QPushButton(QString::fromUtf8("バックアップの整理"), this);
    seiri->setObjectName("Command4");
    auto* back = new QPushButton(QString::fromUtf8("戻る"), this);
    back->setObjectName("Command2");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addSpacing(12);
    layout->addWidget(about);
    layout->addWidget(seiri);
    layout->addWidget(back);
    resize(360, 220);

    connect(about, &QPushButton::clicked, this, &UTILITY::showAbout);
    connect(seiri, &QPushButton::clicked, this, [this] {
        ctx_.window<BKPSEIRI>().open();
        hide();
    });
    connect(back, &QPushButton::clicked, this, &QWidget::close);
}

void UTILITY::open() { AppContext::present(*this); }

void UTILITY::showAbout() {
    ctx_.window<frmAbout>().open();
    hide();
}

void UTILITY::closeEvent(QCloseEvent* event) {
    ctx_.openMenu();
    event->accept();
}

}  // namespace tessel
