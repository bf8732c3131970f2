#include "inquiry/inquiry_window.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QMenu>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <sys/stat.h>

#include <map>
#include <set>
#include <utility>

#include "inquiry/version_code.h"
#include "restore/restore_to.h"
#include "ui/app_context.h"
#include "ui/controls.h"
#include "ui/run_panel.h"
#include "ui/selection.h"
#include "ui/sql_grid_model.h"

namespace tessel {

InquiryWindow::InquiryWindow(AppContext& context, Definition definition) : ctx_(context), def_(std::move(definition)) {
    setObjectName(def_.windowName);
    setWindowTitle(QString::fromUtf8("問合せ"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* title = TitleLabel(this, def_.title);
    auto* back = NamedButton(this, "Command1", "戻る");

    upper_ = new QTableView(this);
    upper_->setObjectName("DataGrid2");
    upper_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    upper_->setSelectionBehavior(QAbstractItemView::SelectRows);
    upper_->setSelectionMode(QAbstractItemView::SingleSelection);
    upperModel_ = new SqlGridModel(ctx_.state.db(), this);
    if (def_.upperDateColumn >= 0) upperModel_->setFormatter(def_.upperDateColumn, FormatStoredDate);
    upper_->setModel(upperModel_);
    KeepSelectionOnCurrent(*upper_);

    versions_ = new QTableView(this);
    versions_->setObjectName("DataGrid1");
    versions_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                               QAbstractItemView::AnyKeyPressed);
    versionsModel_ = new SqlGridModel(ctx_.state.db(), this);
    versionsModel_->setRowKey(true);
    versionsModel_->setEditableColumn(kVersionCodeColumn,
                                      [this](int row, const QVariant& value) { return editVersionCode(row, value); });
    versions_->setModel(versionsModel_);
    versions_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    versions_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(versions_, &QWidget::customContextMenuRequested, this, &InquiryWindow::versionsMenu);
    for (QTableView* grid : {static_cast<QTableView*>(upper_), versions_}) {
        grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
        grid->setAlternatingRowColors(true);
        // Narrow columns keep their width in twips exactly.
        grid->horizontalHeader()->setMinimumSectionSize(1);
    }

    auto* top = new QHBoxLayout;
    top->addWidget(title, 1);
    top->addWidget(back, 0, Qt::AlignTop);
    upperRow_ = new QHBoxLayout;
    upperRow_->addWidget(upper_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(upperRow_, 2);
    layout->addWidget(versions_, 3);
    panel_ = new RunPanel(ctx_, RunPanel::Kind::kRestore, this);
    panel_->setHiddenWhenIdle(true);
    layout->addWidget(panel_);
    resize(820, 620);

    connect(back, &QPushButton::clicked, this, &QWidget::close);
    // The highlight moves before a message box or anything else can swallow
    // the rest of a click, and on every other way it moves too (keyboard,
    // program, an accessibility action).
    connect(upper_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &InquiryWindow::showVersionsOfCurrentRow);
    // A click on the current row applies what changed since (the filter
    // list of the latest-state window); otherwise it changes nothing.
    connect(upper_, &QTableView::clicked, this, &InquiryWindow::showVersionsOfCurrentRow);
    connect(upper_->verticalHeader(), &QHeaderView::sectionClicked, this, &InquiryWindow::showVersionsOfCurrentRow);
}

void InquiryWindow::open() {
    versionsModel_->setQuery(versionsQuery(false));
    shownQuery_.clear();
    setGrid();
    // A fresh upper list has no current row, so nothing is highlighted
    // while every version is shown; the first row that becomes current
    // narrows the versions grid.
    upperModel_->setQuery(def_.upperQuery);
    upper_->selectionModel()->clear();
    gridSet2();
    if (versionsModel_->rowCount() > 0) versions_->setCurrentIndex(versionsModel_->index(0, 2));
    AppContext::present(*this);
}

void InquiryWindow::setGrid() {
    ApplyGridLayout(*versions_, def_.versionsLayout);
}

void InquiryWindow::gridSet2() {
    ApplyGridLayout(*upper_, def_.upperLayout);
}

void InquiryWindow::showVersionsOfDirectory(std::int64_t dirNo) {
    for (int row = 0; row < upperModel_->rowCount(); ++row)
        if (upperModel_->value(row, 0).toLongLong() == dirNo) {
            upper_->setCurrentIndex(upperModel_->index(row, 1));
            showVersionsOfCurrentRow();
            return;
        }
}

void InquiryWindow::showVersionsOfCurrentRow() {
    const int row = SelectedRow(*upper_);
    if (row < 0 || row >= upperModel_->rowCount()) return;
    const qlonglong key = upperModel_->value(row, 0).toLongLong();
    const std::string query = versionsQuery(true);
    if (query == shownQuery_ && key == shownKey_) return;
    shownQuery_ = query;
    shownKey_ = key;
    versionsModel_->setQuery(query, {static_cast<std::int64_t>(key)});
    setGrid();
    if (versionsModel_->rowCount() > 0) versions_->setCurrentIndex(versionsModel_->index(0, 2));
    versions_->scrollToTop();
}

bool InquiryWindow::editVersionCode(int row, const QVariant& value) {
    QVariant key = versionsModel_->rowKey(row);
    if (!key.isValid() || ctx_.refuseChangeWhileEngineRuns()) return false;
    std::optional<std::string> refusal =
        ChangeVersionCode(ctx_.state.db(), key.toLongLong(), value.toString().toStdString());
    if (refusal) {
        ctx_.state.ui.showMessage(*refusal);
        return false;
    }
    return true;
}

void InquiryWindow::versionsMenu(const QPoint& pos) {
    QMenu menu(this);
    menu.setObjectName("versionsMenu");
    QAction* restore = menu.addAction(QString::fromUtf8("選択した版を復元..."));
    restore->setEnabled(versionsModel_->rowCount() > 0);
    if (menu.exec(versions_->viewport()->mapToGlobal(pos)) == restore) restoreSelectedVersions();
}

namespace {

std::string OverwriteQuestion(int count) {
    return "復元先にすでにあるファイルが " + std::to_string(count) +
           " 件あります。上書きしますか？\n「いいえ」ではそれらをそのままにして、ほかのファイルだけを復元します。";
}

bool EntryExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

bool InquiryWindow::running() const { return panel_->running(); }

void InquiryWindow::restoreSelectedVersions() {
    if (panel_->running()) return;
    std::set<int> rows;
    for (const QModelIndex& i : versions_->selectionModel()->selectedIndexes()) rows.insert(i.row());
    if (rows.empty() && versions_->currentIndex().isValid()) rows.insert(versions_->currentIndex().row());
    struct Chosen {
        std::int64_t key;
        std::string dir, name;
        std::int64_t level;
    };
    std::vector<Chosen> chosen;
    std::map<std::pair<std::string, std::string>, int> versionsOfFile;
    for (int row : rows) {
        const QVariant key = versionsModel_->rowKey(row);
        if (!key.isValid()) continue;
        chosen.push_back({key.toLongLong(), versionsModel_->value(row, 3).toString().toStdString(),
                          versionsModel_->value(row, 4).toString().toStdString(), versionsModel_->value(row, 2).toLongLong()});
        ++versionsOfFile[{chosen.back().dir, chosen.back().name}];
    }
    if (chosen.empty()) return;
    const QString folder = ctx_.chooseFolder
                               ? ctx_.chooseFolder(this)
                               : QFileDialog::getExistingDirectory(this, QString::fromUtf8("復元先のフォルダー"));
    if (folder.isEmpty()) return;

    // A file chosen in one version goes under its own name; several
    // versions of one file are kept side by side under tagged names.
    RestoreToOptions single, several;
    single.target = several.target = folder.toStdString();
    several.levelInName = true;
    std::vector<std::int64_t> singleKeys, severalKeys;
    std::string example;
    int there = 0;
    for (const Chosen& c : chosen) {
        const bool tagged = versionsOfFile[{c.dir, c.name}] > 1;
        (tagged ? severalKeys : singleKeys).push_back(c.key);
        if (tagged && example.empty()) example = VersionTaggedName(c.name, c.level);
        if (EntryExists(RestoreToPath(tagged ? several : single, c.dir, c.name, c.level))) ++there;
    }
    if (there > 0) single.overwrite = several.overwrite = ctx_.state.ui.askYesNo(OverwriteQuestion(there));

    RestoreToSummary summary;
    int kept = 0, noCopy = 0;
    std::string firstFailure;
    const RestoreToProgress progress = [&](RestoreToOutcome outcome, const std::string&, const std::string& target,
                                           const std::string& detail) {
        if (outcome == RestoreToOutcome::kExists) ++kept;
        if (outcome == RestoreToOutcome::kNoCopy) ++noCopy;
        if (outcome == RestoreToOutcome::kFailed && firstFailure.empty()) firstFailure = target + "\n     RC  " + detail;
    };
    const bool ran = panel_->run(
        [&](SharedState& worker, RunControl& control) {
            single.control = several.control = &control;
            summary = RestoreVersionsTo(worker, singleKeys, single, progress);
            if (!summary.stopped) summary += RestoreVersionsTo(worker, severalKeys, several, progress);
        },
        {upper_, versions_});
    if (ran) {
        std::string text = "選択した版を " + single.target + (summary.stopped ? " へ復元している途中で中止しました。" : " へ復元しました。") +
                           "\n復元 " + std::to_string(summary.restored) + " 件、スキップ " + std::to_string(summary.skipped) +
                           " 件、失敗 " + std::to_string(summary.failed) + " 件";
        if (kept > 0) text += "\nすでにあるためそのままにしたファイル " + std::to_string(kept) + " 件";
        if (noCopy > 0) text += "\nコピーのない版（記録のみ・コピー失敗・除外） " + std::to_string(noCopy) + " 件";
        if (!example.empty())
            text += "\n同じファイルの複数の版は、名前に版のフォルダー名を付けて並べました（例: " + example + "）";
        if (!firstFailure.empty()) text += "\n" + std::string("ファイルの戻しに失敗しました! FILE= ") + firstFailure;
        ctx_.state.ui.showMessage(text);
    }
    if (closeWhenDone_) close();
}

void InquiryWindow::closeEvent(QCloseEvent* event) {
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
