#include "windows/RSTRLIST.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

#include "ui/app_context.h"
#include "ui/controls.h"
#include "ui/grid_layout.h"
#include "ui/sql_grid_model.h"

namespace tessel {

RSTRLIST::RSTRLIST(AppContext& context) : ctx_(context) {
    setObjectName("RSTRLIST");
    setWindowTitle(QString::fromUtf8("結果表示"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* title = TitleLabel(this, "復元処理の結果表示");
    auto* back = NamedButton(this, "Command1", "戻る");
    grid_ = new QTableView(this);
    grid_->setObjectName("DataGrid1");
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setMinimumSize(TwipsToPixels(11415, *this), TwipsToPixels(6135, *this));
    model_ = new SqlGridModel(ctx_.state.db(), this);
    grid_->setModel(model_);
    auto* note = new QLabel(QString::fromUtf8("復元結果は RSTRLIST.TXTに保存されています。"), this);
    note->setObjectName("Label2");

    auto* layout = new QGridLayout(this);
    layout->addWidget(title, 0, 0);
    layout->addWidget(back, 0, 1, Qt::AlignRight);
    layout->addWidget(grid_, 1, 0, 1, 2);
    layout->addWidget(note, 2, 0, 1, 2);
    resize(TwipsToPixels(11610, *this), TwipsToPixels(7605, *this));

    connect(back, &QPushButton::clicked, this, &QWidget::close);
}

void RSTRLIST::open() {
    // The rows come in the order the engine added them (ascending ID).
    model_->setQuery("SELECT ID,TEXT FROM RSTRLIST");
    ApplyGridLayout(*grid_, {{"番号", 0, Qt::AlignHCenter}, NameColumn("内容", 10900)});
    AppContext::present(*this);
}

void RSTRLIST::closeEvent(QCloseEvent* event) {
    ctx_.openMenu();
    event->accept();
}

}  // namespace tessel
