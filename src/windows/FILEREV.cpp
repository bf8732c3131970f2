#include "windows/FILEREV.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QVBoxLayout>

#include "restore/restore_directory.h"
#include "restore/restore_run.h"
#include "ui/app_context.h"
#include "ui/controls.h"
#include "ui/grid_layout.h"
#include "ui/sql_grid_model.h"

namespace tessel {
namespace {

const char* const kRunsQuery =
    "SELECT BKPNAME.BKPNO, BKPNAME.BKPNAME,BKPNAME.KBN,BKPNAME.DAY1, BKPNAME.TIME1 FROM BKPNAME "
    "WHERE (KBN <> '9' AND BKPNO <> 0)";

}  // namespace

FILEREV::FILEREV(AppContext& context) : ctx_(context) {
    setObjectName("FILEREV");
    setWindowTitle(QString::fromUtf8("復元"));
    setAttribute(Qt::WA_DeleteOnClose);
    restoreEngine = [](SharedState& s, int dirNo, int runNumber, const RestoreOptions& options) {
        return RestoreDirectory(s, dirNo, runNumber, options);
    };

    auto* title = TitleLabel(this, "ファイルの復元処理");
    auto* back = NamedButton(this, "Command1", "戻る");
    auto* run = NamedButton(this, "Command2", "復元の実行");

    grid_ = new QTableView(this);
    grid_->setObjectName("DataGrid2");
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    model_ = new SqlGridModel(ctx_.state.db(), this);
    model_->setFormatter(3, FormatStoredDate);
    grid_->setModel(model_);
    grid_->setFixedSize(TwipsToPixels(7575, *this), TwipsToPixels(2775, *this));

    auto* frame = new QGroupBox(QStringLiteral("Frame1"), this);
    frame->setObjectName("Frame1");
    real_ = new QRadioButton(QString::fromUtf8("復元"), frame);
    real_->setObjectName("FUKUGNBT");
    test_ = new QRadioButton(QString::fromUtf8("テスト"), frame);
    test_->setObjectName("TESTBT");
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(real_);
    frameLayout->addWidget(test_);

    auto* status = new QLineEdit(this);
    status->setObjectName("GODISP");
    status->setReadOnly(true);

    auto* layout = new QGridLayout(this);
    layout->addWidget(title, 0, 0);
    layout->addWidget(back, 0, 1, Qt::AlignRight);
    layout->addWidget(grid_, 1, 0, 2, 1);
    auto* side = new QVBoxLayout;
    side->addWidget(frame);
    side->addWidget(run);
    side->addStretch(1);
    layout->addLayout(side, 1, 1, 2, 1);
    layout->addWidget(status, 3, 0, 1, 2);
    resize(TwipsToPixels(9630, *this), TwipsToPixels(4635, *this));

    auto choose = [this](const QModelIndex& index) {
        chosen_ = 0;
        if (model_->value(index.row(), 0).toLongLong() > 0) chosen_ = 1;
    };
    connect(grid_, &QTableView::clicked, this, choose);
    // Moving through the grid by keyboard chooses the run as a click does.
    connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this, choose](const QModelIndex& current) {
        if (current.isValid() && grid_->hasFocus()) choose(current);
    });
    connect(real_, &QRadioButton::clicked, this, [this] { restoreTest_ = 0; });
    connect(test_, &QRadioButton::clicked, this, [this] { restoreTest_ = 1; });
    connect(run, &QPushButton::clicked, this, &FILEREV::runRestore);
    connect(back, &QPushButton::clicked, this, &QWidget::close);
}

void FILEREV::open() {
    real_->setChecked(true);
    restoreTest_ = 0;
    findChild<QLineEdit*>("GODISP")->setText(" ");
    chosen_ = 0;

    model_->setQuery(kRunsQuery);
    gridSet2();
    if (model_->rowCount() > 0) grid_->setCurrentIndex(model_->index(0, 1));
    AppContext::present(*this);
}

void FILEREV::gridSet2() {
    ApplyGridLayout(*grid_, {{"番号", 0},
                             {"タイトル", 4300},
                             {"区分", 0},
                             {"バックアップ日", 1300, Qt::AlignHCenter},
                             {"時間", 1300, Qt::AlignHCenter}});
}

void FILEREV::runRestore() {
    SharedState& state = ctx_.state;
    if (chosen_ == 1) {
        const QModelIndex current = grid_->currentIndex();
        const int runNumber = current.isValid() ? model_->value(current.row(), 0).toInt() : 0;
        if (!ctx_.runEngine([&] { RestoreAllDirectories(state, runNumber, restoreTest_ != 0, restoreEngine); })) return;
    }
    state.ui.showMessage(" 処理を完了しました！　");
    findChild<QLineEdit*>("GODISP")->setText(" ");
}

void FILEREV::closeEvent(QCloseEvent* event) {
    ctx_.openMenu();
    event->accept();
}

}  // namespace tessel
