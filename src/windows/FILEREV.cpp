#include "windows/FILEREV.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
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
#include "ui/run_panel.h"
#include "ui/selection.h"
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
    runButton_ = NamedButton(this, "Command2", "復元の実行");

    grid_ = new QTableView(this);
    grid_->setObjectName("DataGrid2");
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    model_ = new SqlGridModel(ctx_.state.db(), this);
    model_->setFormatter(3, FormatStoredDate);
    grid_->setModel(model_);
    KeepSelectionOnCurrent(*grid_);
    // At least its own size; it grows with the window.
    grid_->setMinimumSize(TwipsToPixels(7575, *this), TwipsToPixels(2775, *this));

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
    panel_ = new RunPanel(ctx_, RunPanel::Kind::kRestore, this);

    auto* layout = new QGridLayout(this);
    layout->addWidget(title, 0, 0);
    layout->addWidget(back, 0, 1, Qt::AlignRight);
    layout->addWidget(grid_, 1, 0, 2, 1);
    auto* side = new QVBoxLayout;
    side->addWidget(frame);
    side->addWidget(runButton_);
    side->addStretch(1);
    layout->addLayout(side, 1, 1, 2, 1);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(status, 1);
    statusRow->addWidget(panel_);
    layout->addLayout(statusRow, 3, 0, 1, 2);
    layout->setColumnStretch(0, 1);
    layout->setRowStretch(2, 1);
    resize(TwipsToPixels(9630, *this), TwipsToPixels(4635, *this));

    // The run is the highlighted row and the kind the option shown on: both
    // are read when "復元の実行" is pressed, so every way of setting them counts.
    connect(runButton_, &QPushButton::clicked, this, &FILEREV::runRestore);
    connect(back, &QPushButton::clicked, this, &QWidget::close);
}

void FILEREV::open() {
    real_->setChecked(true);
    findChild<QLineEdit*>("GODISP")->setText(" ");

    // A fresh list has no highlighted row: no run is chosen yet.
    model_->setQuery(kRunsQuery);
    grid_->selectionModel()->clear();
    gridSet2();
    AppContext::present(*this);
}

void FILEREV::gridSet2() {
    ApplyGridLayout(*grid_, {{"番号", 0},
                             NameColumn("タイトル", 4300),
                             {"区分", 0},
                             {"バックアップ日", 1300, Qt::AlignHCenter},
                             {"時間", 1300, Qt::AlignHCenter}});
}

std::int16_t FILEREV::chosen() const {
    const int row = SelectedRow(*grid_);
    return row >= 0 && model_->value(row, 0).toLongLong() > 0 ? 1 : 0;
}

std::int16_t FILEREV::restoreTest() const { return test_->isChecked() ? 1 : 0; }

bool FILEREV::running() const { return panel_->running(); }

void FILEREV::runRestore() {
    SharedState& state = ctx_.state;
    if (panel_->running()) return;
    if (chosen() == 1) {
        const int runNumber = model_->value(SelectedRow(*grid_), 0).toInt();
        const bool test = restoreTest() != 0;
        const RestoreEngine engine = restoreEngine;
        RestoreResult result;
        const bool ran = panel_->run(
            [&](SharedState& worker, RunControl& control) {
                result = RestoreAllDirectories(worker, runNumber, test, engine, &control);
            },
            {grid_, real_, test_, runButton_});
        if (!ran) {
            if (closeWhenDone_) close();
            return;
        }
        if (result.stopped) {
            state.ui.showMessage(panel_->stoppedMessage());
            findChild<QLineEdit*>("GODISP")->setText(" ");
            if (closeWhenDone_) close();
            return;
        }
    }
    state.ui.showMessage(" 処理を完了しました！　");
    findChild<QLineEdit*>("GODISP")->setText(" ");
    if (closeWhenDone_) close();
}

void FILEREV::closeEvent(QCloseEvent* event) {
    // Closing during a restore asks as 中止 does, and closes once it ends.
    if (panel_->running()) {
        if (panel_->askStop()) closeWhenDone_ = true;
        event->ignore();
        return;
    }
    ctx_.openMenu();
    event->accept();
}

}  // namespace tessel
