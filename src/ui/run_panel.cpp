#include "ui/run_panel.h"

#include <QHBoxLayout>
#include <QLocale>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "ui/app_context.h"

namespace tessel {
namespace {

// Counts as the bar shows them: 1,234.
QString Count(std::int64_t n) { return QLocale::c().toString(static_cast<qlonglong>(n)); }

}  // namespace

RunPanel::RunPanel(AppContext& context, Kind kind, QWidget* parent) : QWidget(parent), ctx_(context), kind_(kind) {
    setObjectName("RUNPANEL");
    bar_ = new QProgressBar(this);
    bar_->setObjectName("PROGRESS");
    bar_->setRange(0, 1000);
    bar_->setValue(0);
    bar_->setTextVisible(true);
    bar_->setFormat(QString());
    bar_->setMinimumWidth(bar_->fontMetrics().horizontalAdvance(QString::fromUtf8("保存 99,999 / 99,999 ファイル　999.9 MB")) + 24);
    stop_ = new QPushButton(QString::fromUtf8("中止"), this);
    stop_->setObjectName("STOPBT");
    stop_->setEnabled(false);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(bar_, 1);
    layout->addWidget(stop_);
    timer_ = new QTimer(this);
    timer_->setInterval(100);
    connect(timer_, &QTimer::timeout, this, &RunPanel::refresh);
    connect(stop_, &QPushButton::clicked, this, &RunPanel::askStop);
}

void RunPanel::setHiddenWhenIdle(bool on) {
    hiddenWhenIdle_ = on;
    setVisible(!on || running());
}

const std::string& RunPanel::stopQuestion() const {
    switch (kind_) {
    case Kind::kBackup: return kBackupStopQuestion;
    case Kind::kInitialBackup: return kInitialBackupStopQuestion;
    case Kind::kRestore: break;
    }
    return kRestoreStopQuestion;
}

const std::string& RunPanel::stoppedMessage() const {
    switch (kind_) {
    case Kind::kBackup: return kBackupStopped;
    case Kind::kInitialBackup: return kInitialBackupStopped;
    case Kind::kRestore: break;
    }
    return kRestoreStopped;
}

bool RunPanel::run(const std::function<void(SharedState&, RunControl&)>& work, const std::vector<QWidget*>& disabled) {
    RunControl control;
    control_ = &control;
    std::vector<QPointer<QWidget>> off;
    for (QWidget* w : disabled)
        if (w && w->isEnabled()) {
            w->setEnabled(false);
            off.emplace_back(w);
        }
    stop_->setEnabled(true);
    if (hiddenWhenIdle_) show();
    refresh();
    timer_->start();
    const bool ran = ctx_.runEngineOffGuiThread([&](SharedState& state) { work(state, control); });
    timer_->stop();
    control_ = nullptr;
    for (const QPointer<QWidget>& w : off)
        if (w) w->setEnabled(true);
    stop_->setEnabled(false);
    stop_->setText(QString::fromUtf8("中止"));
    bar_->setRange(0, 1000);
    bar_->setValue(0);
    bar_->setFormat(QString());
    if (hiddenWhenIdle_) hide();
    return ran;
}

bool RunPanel::askStop() {
    if (!control_) return true;
    if (control_->stopRequested()) return true;
    RunControl* asked = control_;
    if (!ctx_.state.ui.askYesNo(stopQuestion())) return false;
    // The run may have ended while the question was open.
    if (control_ != asked) return true;
    control_->requestStop();
    stop_->setEnabled(false);
    refresh();
    return true;
}

void RunPanel::refresh() {
    if (!control_) return;
    const RunControl& c = *control_;
    std::int64_t done = 0, total = 0;
    QString text;
    switch (c.phase.load()) {
    case RunControl::Phase::kStarting:
    case RunControl::Phase::kScanning:
        text = QString::fromUtf8("フォルダーを調べています");
        break;
    case RunControl::Phase::kChecking:
        done = c.filesExamined, total = c.filesToExamine;
        text = QString::fromUtf8("確認 %1 / %2 ファイル").arg(Count(done), Count(total));
        break;
    case RunControl::Phase::kStoring:
        done = c.versionsStored, total = c.versionsToStore;
        text = QString::fromUtf8("保存 %1 / %2 ファイル　%3")
                   .arg(Count(done), Count(total),
                        QLocale::c().formattedDataSize(c.bytesStored.load(), 1, QLocale::DataSizeTraditionalFormat));
        break;
    case RunControl::Phase::kRestoring:
        done = c.actionsDone, total = c.actionsToDo;
        text = QString::fromUtf8("復元 %1 / %2 ファイル").arg(Count(done), Count(total));
        break;
    }
    if (c.stopRequested()) text += QString::fromUtf8("　中止しています…");
    if (total > 0) {
        bar_->setRange(0, 1000);
        bar_->setValue(static_cast<int>(std::min<std::int64_t>(done, total) * 1000 / total));
    } else if (c.phase.load() == RunControl::Phase::kStarting || c.phase.load() == RunControl::Phase::kScanning) {
        bar_->setRange(0, 0);  // busy, no count yet
    } else {
        bar_->setRange(0, 1000);
        bar_->setValue(0);
    }
    bar_->setFormat(text);
}

}  // namespace tessel
