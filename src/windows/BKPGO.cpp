#include "windows/BKPGO.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>

#include "backup/backup_messages.h"
#include "backup/backup_summary.h"
#include "catalog/catalog_rows.h"
#include "ui/app_context.h"
#include "ui/controls.h"
#include "ui/grid_layout.h"
#include "ui/gui_thread_ui.h"
#include "ui/run_panel.h"
#include "ui/selection.h"
#include "ui/sql_grid_model.h"

namespace tessel {

BKPGO::BKPGO(AppContext& context) : ctx_(context) {
    setObjectName("BKPGO");
    setWindowTitle(QString::fromUtf8("バックアップ実行"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* heading = TitleLabel(this, "バックアップの実行");
    title_ = NamedField(this, "APPNM");
    kinds_ = new QListWidget(this);
    kinds_->setObjectName("KBNNM");
    kinds_->addItems({QString::fromUtf8("通常"), QString::fromUtf8("情報のみ")});
    kinds_->setCurrentRow(0);
    kinds_->setMaximumHeight(kinds_->sizeHintForRow(0) * 2 + 8);
    runButton_ = NamedButton(this, "Command1", "実行");
    auto* backButton = NamedButton(this, "Command2", "戻る");
    auto* status = new QLineEdit(this);
    status->setObjectName("GODISP");
    status->setReadOnly(true);
    grid_ = new QTableView(this);
    grid_->setObjectName("DataGrid1");
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    model_ = new SqlGridModel(ctx_.state.db(), this);
    model_->setFormatter(3, FormatStoredDate);
    grid_->setModel(model_);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    KeepSelectionOnCurrent(*grid_);
    panel_ = new RunPanel(ctx_, RunPanel::Kind::kBackup, this);

    auto* layout = new QGridLayout(this);
    layout->addWidget(heading, 0, 0, 1, 3);
    layout->addWidget(NamedLabel(this, "Label2", "タイトル"), 1, 0);
    layout->addWidget(title_, 1, 1, 1, 2);
    layout->addWidget(NamedLabel(this, "Label3", "バックアップ種類"), 2, 0, Qt::AlignTop);
    layout->addWidget(kinds_, 2, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(runButton_);
    buttons->addWidget(backButton);
    layout->addLayout(buttons, 2, 2);
    layout->addWidget(grid_, 3, 0, 1, 3);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(status, 1);
    statusRow->addWidget(panel_);
    layout->addLayout(statusRow, 4, 0, 1, 3);
    layout->setColumnStretch(1, 1);
    resize(720, 480);

    // The kind is the chosen item's, however it was chosen.
    BindChoice(*kinds_, [this](int row) { kind_ = kinds_->item(row)->text() == QString::fromUtf8("通常") ? "1" : "9"; });
    connect(runButton_, &QPushButton::clicked, this, &BKPGO::run);
    connect(backButton, &QPushButton::clicked, this, &QWidget::close);
}

void BKPGO::open() {
    model_->setQuery(kRunListQuery);
    gridSet();
    AppContext::present(*this);
}

void BKPGO::gridSet() {
    model_->fetchAll();
    ApplyGridLayout(*grid_, {{"番号", 0},
                             NameColumn("タイトル", 4500),
                             {"区分", 1200},
                             {"バックアップ日", 1300, Qt::AlignHCenter},
                             {"時間", 1300, Qt::AlignHCenter},
                             {"区分DMY", 0}});
}

bool BKPGO::running() const { return panel_->running(); }

void BKPGO::run() {
    SharedState& state = ctx_.state;
    if (panel_->running()) return;
    if (title_->text().isEmpty()) {
        state.ui.showMessage("バックアップタイトルを入力してください");
        return;
    }
    const std::string title = title_->text().toStdString(), kind = kind_.toStdString();
    const std::time_t now = ctx_.clock();
    const BackupEngine engine = ctx_.backupEngine;
    BackupRunResult outcome;
    // The new run is listed before any directory is backed up.
    const auto showRun = [this](int) {
        RunOnGuiThread([this] {
            model_->requery();
            gridSet();
        });
    };
    const bool ran = panel_->run(
        [&](SharedState& worker, RunControl& control) {
            outcome = RunTitledBackup(worker, engine, title, kind, now, showRun, &control);
        },
        {title_, kinds_, runButton_});
    if (ran) {
        // The run's counts follow the completion text; what failed and why
        // is in the run log as well.
        const std::string counts = "\n" + SummaryText(outcome.result);
        if (outcome.result.stopped)
            state.ui.showMessage(panel_->stoppedMessage() + counts);
        else if (!outcome.result.failed())
            state.ui.showMessage(" 処理を完了しました！　" + counts);
        else
            state.ui.showMessage(" 処理を完了しました！　\n" + backup::kRunHadFailures + counts);
    }
    if (closeWhenDone_) close();
}

void BKPGO::closeEvent(QCloseEvent* event) {
    // Closing during a run asks as 中止 does, and closes once the run ends.
    if (panel_->running()) {
        if (panel_->askStop()) closeWhenDone_ = true;
        event->ignore();
        return;
    }
    ctx_.openMenu();
    event->accept();
}

}  // namespace tessel
