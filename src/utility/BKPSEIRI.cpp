#include "utility/BKPSEIRI.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QSpinBox>
#include <QTableWidget>

#include <cstring>

#include "retention/retention_settings.h"
#include "ui/app_context.h"
#include "ui/controls.h"
#include "ui/grid_layout.h"
#include "utility/UTILITY.h"

namespace tessel {
namespace {

QSpinBox* Count(QWidget* parent, const char* name) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setRange(0, kMaxKeepCount);
    return box;
}

std::string Reasons(const ForgetRun& r) {
    std::string out;
    for (KeepReason k : r.reasons) out += (out.empty() ? "" : "・") + std::string(ReasonText(k));
    return out;
}

// 1234567 -> "1,234,567"
std::string Grouped(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<std::size_t>(i), ",");
    return digits;
}

}  // namespace

BKPSEIRI::BKPSEIRI(AppContext& context) : ctx_(context) {
    setObjectName("BKPSEIRI");
    setWindowTitle(QString::fromUtf8("バックアップの整理"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* title = TitleLabel(this, "バックアップの整理");
    auto* frame = new QGroupBox(QString::fromUtf8("　残すバックアップ　"), this);
    frame->setObjectName("Frame1");
    last_ = Count(frame, "KEEPLAST");
    daily_ = Count(frame, "KEEPDAILY");
    weekly_ = Count(frame, "KEEPWEEKLY");
    monthly_ = Count(frame, "KEEPMONTHLY");
    yearly_ = Count(frame, "KEEPYEARLY");
    auto* form = new QFormLayout(frame);
    form->addRow(QString::fromUtf8("最新の回数"), last_);
    form->addRow(QString::fromUtf8("日ごとの最後の回 (日数)"), daily_);
    form->addRow(QString::fromUtf8("週ごとの最後の回 (週数)"), weekly_);
    form->addRow(QString::fromUtf8("月ごとの最後の回 (月数)"), monthly_);
    form->addRow(QString::fromUtf8("年ごとの最後の回 (年数)"), yearly_);
    auto* note = new QLabel(QString::fromUtf8("最新の回と初期バックアップはいつも残ります。\n"
                                              "設定を保存すると、自動バックアップのたびに整理します。"),
                            frame);
    note->setObjectName("Label2");
    form->addRow(note);

    auto* previewButton = NamedButton(this, "Command1", "試算");
    auto* saveButton = NamedButton(this, "Command2", "設定の保存");
    auto* applyButton = NamedButton(this, "Command3", "整理の実行");
    auto* back = NamedButton(this, "Command4", "戻る");

    grid_ = new QTableWidget(0, 5, this);
    grid_->setObjectName("DataGrid1");
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->verticalHeader()->hide();
    QStringList headers;
    for (const char* h : {"番号", "タイトル", "開始日時", "処理", "残す理由"}) headers << QString::fromUtf8(h);
    grid_->setHorizontalHeaderLabels(headers);
    grid_->setMinimumSize(TwipsToPixels(9000, *this), TwipsToPixels(4000, *this));
    grid_->horizontalHeader()->setStretchLastSection(true);
    auto* status = NamedField(this, "GODISP");
    status->setReadOnly(true);

    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {previewButton, saveButton, applyButton}) buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(back);
    auto* layout = new QGridLayout(this);
    layout->addWidget(title, 0, 0, 1, 2);
    layout->addWidget(frame, 1, 0);
    layout->addLayout(buttons, 1, 1);
    layout->addWidget(grid_, 2, 0, 1, 2);
    layout->addWidget(status, 3, 0, 1, 2);

    connect(previewButton, &QPushButton::clicked, this, &BKPSEIRI::preview);
    connect(saveButton, &QPushButton::clicked, this, &BKPSEIRI::save);
    connect(applyButton, &QPushButton::clicked, this, &BKPSEIRI::apply);
    connect(back, &QPushButton::clicked, this, &QWidget::close);
}

RetentionPolicy BKPSEIRI::policy() const {
    return {last_->value(), daily_->value(), weekly_->value(), monthly_->value(), yearly_->value()};
}

void BKPSEIRI::open() {
    std::string error;
    const std::optional<RetentionPolicy> stored = ReadStoredPolicy(ctx_.state.dataFolder, &error);
    if (!stored) ctx_.state.ui.showMessage(error);
    const RetentionPolicy p = stored.value_or(RetentionPolicy{});
    last_->setValue(p.last);
    daily_->setValue(p.daily);
    weekly_->setValue(p.weekly);
    monthly_->setValue(p.monthly);
    yearly_->setValue(p.yearly);
    grid_->setRowCount(0);
    findChild<QLineEdit*>("GODISP")->setText(" ");
    AppContext::present(*this);
    if (!p.empty()) preview();
}

void BKPSEIRI::showResult(const ForgetResult& result, bool done) {
    grid_->setRowCount(static_cast<int>(result.runs.size()));
    int row = 0;
    for (const ForgetRun& r : result.runs) {
        const std::string cells[] = {std::to_string(r.run), r.title, r.started, r.kept() ? "残す" : "削除", Reasons(r)};
        for (int c = 0; c < 5; ++c) {
            auto* item = new QTableWidgetItem(QString::fromStdString(cells[c]));
            if (c == 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            grid_->setItem(row, c, item);
        }
        ++row;
    }
    grid_->resizeColumnToContents(2);
    const std::string text = std::string(done ? "削除した回: " : "削除する回: ") + std::to_string(result.runsRemoved) +
                             (done ? "　削除した版: " : "　削除する版: ") + std::to_string(result.versionsRemoved) +
                             (done ? "　空いた容量: " : "　空く容量: ") + Grouped(result.bytesFreed) + " バイト";
    findChild<QLineEdit*>("GODISP")->setText(QString::fromStdString(text));
}

void BKPSEIRI::preview() {
    const RetentionPolicy p = policy();
    if (p.empty()) {
        ctx_.state.ui.showMessage("残すバックアップの指定がありません。どれかに 1 以上を指定してください。");
        return;
    }
    ForgetResult result;
    ForgetOptions options;
    options.policy = p;
    options.dryRun = true;
    if (ctx_.runEngineOffGuiThread([&](SharedState& worker) { result = ForgetRuns(worker, options); })) showResult(result, false);
}

void BKPSEIRI::save() {
    if (const int err = WriteStoredPolicy(ctx_.state.dataFolder, policy()))
        ctx_.state.ui.showMessage("設定ファイルに書き込めませんでした (" + ctx_.state.dataFolder + "/BKPDEF.INI): " +
                                  std::strerror(err));
    else
        ctx_.state.ui.showMessage("整理の設定を保存しました。");
}

void BKPSEIRI::apply() {
    const RetentionPolicy p = policy();
    if (p.empty()) {
        ctx_.state.ui.showMessage("残すバックアップの指定がありません。どれかに 1 以上を指定してください。");
        return;
    }
    if (!ctx_.state.ui.askYesNo("残さない回のバックアップと、残す回に要らない版のコピーを削除します。\nよろしいですか？"))
        return;
    ForgetResult result;
    ForgetOptions options;
    options.policy = p;
    if (!ctx_.runEngineOffGuiThread([&](SharedState& worker) { result = ForgetRuns(worker, options); })) return;
    showResult(result, true);
    if (!result.refused && result.failed == 0) ctx_.state.ui.showMessage(" 処理を完了しました！　");
}

void BKPSEIRI::closeEvent(QCloseEvent* event) {
    ctx_.window<UTILITY>().open();
    event->accept();
}

}  // namespace tessel
