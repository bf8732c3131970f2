#include "windows/DIRSET.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileSystemModel>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStorageInfo>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <set>

#include "backup/backup_runs.h"
#include "platform/paths.h"
#include "registration/registration_rules.h"
#include "registration/registrations.h"
#include "ui/app_context.h"
#include "ui/controls.h"
#include "ui/grid_layout.h"
#include "ui/run_panel.h"
#include "ui/selection.h"
#include "ui/sql_grid_model.h"

namespace tessel {

using namespace registration_text;

namespace {

void Select(QListWidget* list, const std::string& text) {
    auto found = list->findItems(QString::fromStdString(text), Qt::MatchExactly);
    if (!found.isEmpty()) list->setCurrentItem(found.first());
}

QString Q(const std::optional<std::string>& s) { return s ? QString::fromStdString(*s) : QString(); }
std::string S(const QString& s) { return s.toStdString(); }

QString KindCodeOf(const QString& item) { return QString::fromStdString(KindCodeOfLabel(item.toStdString())); }

// The chosen item of a 対象/対象外 list is 対象.
bool Included(const QListWidget* list) { return ChosenText(*list) == QString::fromUtf8(kIncludedLabel); }

}  // namespace

DIRSET::DIRSET(AppContext& context) : ctx_(context) {
    setObjectName("DIRSET");
    setWindowTitle(QString::fromUtf8("登録"));

    auto* title = NamedLabel(this, "Label1", "バックアップディレクトリー登録");
    QFont serif("Noto Serif CJK JP");
    serif.setStyleHint(QFont::Serif);
    serif.setPointSizeF(title->font().pointSizeF() * 1.6);
    title->setFont(serif);
    auto* closeButton = NamedButton(this, "CLOSE", "戻る");
    compression_ = NamedList(this, "COMPEXP", 2, {"通常", "圧縮"});
    prefix_ = NamedField(this, "ODIRFIX");

    auto* frame3 = new QGroupBox(this);
    frame3->setObjectName("Frame3");
    auto* registerButton = NamedButton(frame3, "Command1", "登録");
    auto* initialButton = NamedButton(frame3, "Command2", "初期バックアップ");
    auto* deleteButton = NamedButton(frame3, "Command3", "取消");
    auto* buttons = new QHBoxLayout(frame3);
    buttons->addWidget(registerButton);
    buttons->addWidget(initialButton);
    buttons->addWidget(deleteButton);

    dirsel1_ = new QRadioButton(QString::fromUtf8("バックアップ先"), this);
    dirsel1_->setObjectName("dirsel1");
    dirsel2_ = new QRadioButton(QString::fromUtf8("バックアップ対象"), this);
    dirsel2_->setObjectName("dirsel2");

    fsModel_ = new QFileSystemModel(this);
    fsModel_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    fsModel_->setRootPath("/");
    dirs_ = new QTreeView(this);
    dirs_->setObjectName("Dir1");
    dirs_->setModel(fsModel_);
    for (int c = 1; c < fsModel_->columnCount(); ++c) dirs_->hideColumn(c);
    dirs_->setHeaderHidden(true);
    drives_ = new QComboBox(this);
    drives_->setObjectName("Drive1");
    std::set<QString> roots;
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes())
        if (v.isValid() && v.isReady()) roots.insert(v.rootPath());
    roots.insert("/");
    for (const QString& r : roots) drives_->addItem(r);
    drives_->setCurrentText("/");
    dirs_->setRootIndex(fsModel_->index("/"));

    auto* frame1 = new QGroupBox(this);
    frame1->setObjectName("Frame1");
    source_ = NamedField(frame1, "IDIR");
    dest_ = NamedField(frame1, "ODIR");
    kinds_ = NamedList(frame1, "KBNNM", 4);
    subdirs_ = NamedList(frame1, "SUBDIR", 2);
    autoBackup_ = NamedList(frame1, "AUTOF", 2);
    remark_ = NamedField(frame1, "BIKOU");
    patterns_ = new QPlainTextEdit(frame1);
    patterns_->setObjectName("EXCLUDE");
    patterns_->setPlaceholderText(QString::fromUtf8("1 行に 1 つ (例: node_modules/　*.tmp　/build/)"));
    patterns_->setMaximumHeight(patterns_->fontMetrics().lineSpacing() * 5);
    hiddenFolders_ = new QCheckBox(QString::fromUtf8("隠しディレクトリーも対象"), frame1);
    hiddenFolders_->setObjectName("HIDDEN");
    cacheFolders_ = new QCheckBox(QString::fromUtf8("キャッシュ (CACHEDIR.TAG) も対象"), frame1);
    cacheFolders_->setObjectName("CACHES");
    auto* fields = new QGridLayout(frame1);
    fields->addWidget(NamedLabel(frame1, "Label2", "バックアップ対象"), 0, 0);
    fields->addWidget(source_, 0, 1, 1, 5);
    fields->addWidget(NamedLabel(frame1, "Label3", "バックアップ先"), 1, 0);
    fields->addWidget(dest_, 1, 1, 1, 5);
    fields->addWidget(NamedLabel(frame1, "Label4", "区分"), 2, 0, Qt::AlignTop);
    fields->addWidget(kinds_, 2, 1);
    fields->addWidget(NamedLabel(frame1, "Label8", "サブディレクトリー"), 2, 2, Qt::AlignTop);
    fields->addWidget(subdirs_, 2, 3);
    fields->addWidget(NamedLabel(frame1, "Label7", "自動ﾊﾞｯｸｱｯﾌﾟ"), 2, 4, Qt::AlignTop);
    fields->addWidget(autoBackup_, 2, 5);
    fields->addWidget(NamedLabel(frame1, "Label5", "備考"), 3, 0);
    fields->addWidget(remark_, 3, 1, 1, 5);
    fields->addWidget(NamedLabel(frame1, "Label10", "除外パターン"), 4, 0, Qt::AlignTop);
    fields->addWidget(patterns_, 4, 1, 2, 3);
    fields->addWidget(hiddenFolders_, 4, 4, 1, 2);
    fields->addWidget(cacheFolders_, 5, 4, 1, 2);

    grid_ = new QTableView(this);
    grid_->setObjectName("DataGrid1");
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    model_ = new SqlGridModel(ctx_.state.db(), this);
    grid_->setModel(model_);
    KeepSelectionOnCurrent(*grid_);
    auto* status = NamedField(this, "GODISP");
    status->setReadOnly(true);
    panel_ = new RunPanel(ctx_, RunPanel::Kind::kInitialBackup, this);
    idleOnly_ = {compression_, prefix_, frame3, dirsel1_, dirsel2_, dirs_, drives_, frame1, grid_};

    auto* top = new QHBoxLayout;
    top->addWidget(title, 1);
    top->addWidget(closeButton);
    auto* settings = new QGridLayout;
    settings->addWidget(NamedLabel(this, "Label9", "圧縮指定"), 0, 0, Qt::AlignTop);
    settings->addWidget(compression_, 0, 1);
    settings->addWidget(NamedLabel(this, "Label6", "バックアップ先プレフィックス"), 0, 2, Qt::AlignTop);
    settings->addWidget(prefix_, 0, 3, Qt::AlignTop);
    prefix_->setMinimumWidth(320);
    settings->addWidget(frame3, 0, 4, Qt::AlignTop);
    settings->setColumnStretch(3, 1);
    auto* left = new QVBoxLayout;
    left->addWidget(dirsel1_);
    left->addWidget(dirsel2_);
    left->addWidget(dirs_, 1);
    left->addWidget(drives_);
    auto* right = new QVBoxLayout;
    right->addWidget(frame1);
    right->addWidget(grid_, 1);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(status, 1);
    statusRow->addWidget(panel_);
    right->addLayout(statusRow);
    auto* body = new QHBoxLayout;
    body->addLayout(left, 1);
    body->addLayout(right, 3);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(settings);
    layout->addLayout(body, 1);
    resize(1000, 640);

    source_->installEventFilter(this);
    prefix_->installEventFilter(this);
    connect(closeButton, &QPushButton::clicked, this, [this] { leave(false); });
    connect(registerButton, &QPushButton::clicked, this, &DIRSET::registerDirectory);
    connect(deleteButton, &QPushButton::clicked, this, &DIRSET::deleteRegistration);
    connect(initialButton, &QPushButton::clicked, this, &DIRSET::initialBackup);
    connect(dest_, &QLineEdit::textChanged, this, &DIRSET::destinationChanged);
    // Each list acts on its chosen item, however it was chosen.
    BindChoice(*kinds_, [this](int row) { kindCode_ = KindCodeOf(kinds_->item(row)->text()); });
    BindChoice(*compression_, [this](int row) { compressionChosen(row); });
    BindChoice(*subdirs_, [](int) {});
    BindChoice(*autoBackup_, [](int) {});
    // Prefix mode is only for a missing prefix, however it was asked for.
    connect(dirsel1_, &QRadioButton::toggled, this, [this](bool on) {
        if (on && !prefix_->text().isEmpty()) setPrefixMode(false);
    });
    // A row the user highlights (mouse, keyboard, an accessibility action)
    // is taken into the edit fields; a click takes it again.
    connect(grid_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const int row = SelectedRow(*grid_);
        if (!programSelects_ && row >= 0) takeRow(row);
    });
    connect(grid_, &QTableView::clicked, this, [this](const QModelIndex& index) { takeRow(index.row()); });
    connect(drives_, &QComboBox::currentTextChanged, this,
            [this](const QString& root) { dirs_->setRootIndex(fsModel_->index(root)); });
    connect(dirs_, &QTreeView::activated, this,
            [this](const QModelIndex& index) { directoryChanged(fsModel_->filePath(index)); });
}

void DIRSET::open() {
    if (!loaded_) load();
    AppContext::present(*this);
}

void DIRSET::load() {
    loaded_ = true;
    model_->setQuery(kRegistrationListQuery);
    setPrefixMode(true);
    if (auto prefixRow = FindRegistrationByNumber(ctx_.state.db(), 0)) {
        prefix_->setText(Q(prefixRow->dir));
        compressFlag_ = Q(prefixRow->abkp);
        setPrefixMode(false);
    }
    SETGRID();
    kindCode_ = "1";
    kinds_->clear();
    for (const RegistrationKind& k : kRegistrationKinds) kinds_->addItem(QString::fromUtf8(k.label));
    Select(kinds_, KindLabelOf("1"));
    for (QListWidget* list : {autoBackup_, subdirs_}) {
        list->clear();
        list->addItems({QString::fromUtf8(kIncludedLabel), QString::fromUtf8(kExcludedLabel)});
    }
    Select(autoBackup_, kIncludedLabel);
    Select(subdirs_, kExcludedLabel);
    Select(compression_, compressFlag_ == "1" ? "圧縮" : "通常");
}

void DIRSET::SETGRID() {
    model_->fetchAll();
    ApplyGridLayout(*grid_, {{"番号", 500},
                             NameColumn("バックアップ元", 2600),
                             NameColumn("バックアップ先", 2500),
                             {"区分", 1100},
                             NameColumn("備考", 1200),
                             {"区分DMY", 0},
                             {"AUTO", 600},
                             {"INIT", 0},
                             {"SUB-DIR", 0}});
}

void DIRSET::requery() {
    model_->requery();
    SETGRID();
    listAtEnd_ = false;
}

bool DIRSET::prefixMode() const { return dirsel1_->isChecked(); }

void DIRSET::setPrefixMode(bool on) {
    dirsel1_->setChecked(on);
    dirsel2_->setChecked(!on);
}

bool DIRSET::running() const { return panel_->running(); }

std::optional<std::int64_t> DIRSET::currentDirNo() const {
    const int row = SelectedRow(*grid_);
    if (row < 0 || listAtEnd_) return std::nullopt;
    QVariant v = model_->value(row, 0);
    if (!v.isValid()) return std::nullopt;
    return v.toLongLong();
}

void DIRSET::selectRowOf(std::int64_t dirNo) {
    for (int r = 0; r < model_->rowCount(); ++r)
        if (model_->value(r, 0).toLongLong() == dirNo) {
            programSelects_ = true;
            grid_->setCurrentIndex(model_->index(r, 1));
            programSelects_ = false;
            return;
        }
}

void DIRSET::takeRow(int row) {
    if (row < 0 || row >= model_->rowCount()) return;
    programSelects_ = true;
    grid_->setCurrentIndex(model_->index(row, 1));
    programSelects_ = false;
    listAtEnd_ = false;
    if (model_->value(row, 0).toLongLong() == 0) return;
    source_->setText(model_->value(row, 1).toString());
    QVariant dest = model_->value(row, 2);
    if (dest.isValid()) dest_->setText(dest.toString());
    remark_->setText(model_->value(row, 4).toString());
    Select(kinds_, KindLabelOf(model_->value(row, 5).toString().toStdString()));
    kindCode_ = KindCodeOf(ChosenText(*kinds_));
    Select(autoBackup_, model_->value(row, 6).toString() == "1" ? kIncludedLabel : kExcludedLabel);
    Select(subdirs_, model_->value(row, 8).toString() == "01" ? kIncludedLabel : kExcludedLabel);
    showScanChoices(model_->value(row, 0).toLongLong());
}

void DIRSET::showScanChoices(const std::optional<std::int64_t>& dirNo) {
    const ScanChoices c = dirNo ? ReadScanChoices(ctx_.state.db(), *dirNo) : ScanChoices{};
    shownPatterns_ = c.patterns;
    QStringList lines;
    for (const std::string& p : c.patterns) lines << QString::fromStdString(p);
    shownPatternText_ = lines.join('\n');
    patterns_->setPlainText(shownPatternText_);
    hiddenFolders_->setChecked(c.hiddenFolders);
    cacheFolders_->setChecked(c.cacheFolders);
}

std::vector<std::string> DIRSET::typedPatterns() const {
    const QString text = patterns_->toPlainText();
    if (text == shownPatternText_) return shownPatterns_;
    std::vector<std::string> out;
    for (const QString& line : text.split('\n'))
        if (!line.isEmpty()) out.push_back(S(line));
    return out;
}

void DIRSET::directoryChanged(const QString& path) {
    if (!prefixMode()) {
        source_->setText(path);
        remark_->clear();
        showScanChoices(std::nullopt);
        if (!prefix_->text().isEmpty()) ODIRSET();
        return;
    }
    prefix_->setText(path);
    entryText_ = " ";
    prefixExit();
}

void DIRSET::ODIRSET() {
    std::string source = S(source_->text());
    if (!source.empty()) source = StoredDirectory(source, CurrentDirectory());
    std::string dest = DestinationFor(source, S(prefix_->text()));
    setPrefixMode(false);
    // A destination another registration already uses is never given out:
    // the user is asked for another one.
    if (!source.empty() && !prefix_->text().isEmpty() && DestinationTaken(ctx_.state.db(), dest, source)) {
        dest_->clear();
        ctx_.state.ui.showMessage(DestinationTakenMessage(dest));
        return;
    }
    dest_->setText(QString::fromStdString(dest));
}

void DIRSET::sourceFocusIn() {
    if (prefix_->text().isEmpty()) {
        inFocusMessage_ = true;
        ctx_.state.ui.showMessage(kNoPrefix);
        setPrefixMode(true);
        prefix_->setFocus();
        inFocusMessage_ = false;
        return;
    }
    setPrefixMode(false);
    entryText_ = source_->text();
}

void DIRSET::sourceFocusOut() {
    if (source_->text() != entryText_ && dest_->text().isEmpty()) ODIRSET();
}

void DIRSET::prefixExit() {
    QString text = prefix_->text();
    if (text.isEmpty() || text == entryText_) return;
    if (ctx_.refuseChangeWhileEngineRuns()) {
        // The field shows the prefix in force again.
        std::optional<Registration> stored = FindRegistrationByNumber(ctx_.state.db(), 0);
        prefix_->setText(stored ? Q(stored->dir) : QString());
        entryText_ = prefix_->text();
        return;
    }
    text = QString::fromStdString(StoredPrefix(S(text), CurrentDirectory()));
    prefix_->setText(text);
    SharedState& state = ctx_.state;
    PrefixOutcome outcome;
    try {
        outcome = StorePrefix(state.db(), state.ui, S(text), S(compressFlag_));
    } catch (const CatalogError& e) {
        state.ui.showMessage(e.what());
        return;
    }
    switch (outcome) {
    case PrefixOutcome::kRefused: {
        // Nothing is stored; the field shows the prefix in force again.
        std::optional<Registration> stored = FindRegistrationByNumber(state.db(), 0);
        prefix_->setText(stored ? Q(stored->dir) : QString());
        entryText_ = prefix_->text();
        return;
    }
    case PrefixOutcome::kDeclined:
        prefix_->clear();
        prefix_->setFocus();
        return;
    case PrefixOutcome::kNotCreated:
        return;
    case PrefixOutcome::kStored:
        entryText_.clear();
        return;
    }
}

void DIRSET::compressionChosen(int row) {
    const QString flag = compression_->item(row)->text() == QString::fromUtf8("圧縮") ? "1" : "0";
    if (flag == compressFlag_ || refusingCompression_) return;  // shown as it is stored
    if (!prefix_->text().isEmpty() && ctx_.refuseChangeWhileEngineRuns()) {
        // The list shows the stored choice again once the click that chose
        // the other one is over (its release would choose it anew).
        refusingCompression_ = true;
        QTimer::singleShot(0, this, [this] {
            Select(compression_, compressFlag_ == "1" ? "圧縮" : "通常");
            refusingCompression_ = false;
        });
        return;
    }
    compressFlag_ = flag;
    if (!prefix_->text().isEmpty() && !RegistrationListEmpty(ctx_.state.db())) SaveCompression(ctx_.state.db(), S(compressFlag_));
}

void DIRSET::registerDirectory() {
    if (ctx_.refuseChangeWhileEngineRuns()) return;
    SharedState& state = ctx_.state;
    Connection& db = state.db();
    const std::string cwd = CurrentDirectory();
    switch (CheckRegistration(db, state.ui, S(source_->text()), S(dest_->text()), cwd, S(kindCode_))) {
    case RegistrationCheck::kNoPrefix: prefix_->setFocus(); return;
    case RegistrationCheck::kRefused: return;
    case RegistrationCheck::kAllowed: break;
    }
    const std::vector<std::string> patterns = typedPatterns();
    if (!CheckPatterns(state.ui, patterns)) {
        patterns_->setFocus();
        return;
    }
    RegistrationFields f{StoredDirectory(S(source_->text()), cwd), StoredDirectory(S(dest_->text()), cwd),
                         S(kindCode_),  S(remark_->text()),
                         AutoBackupCode(Included(autoBackup_)), SubdirCode(Included(subdirs_))};
    f.scan = ScanChoices{patterns, hiddenFolders_->isChecked(), cacheFolders_->isChecked()};
    const StoredRegistration stored = StoreRegistration(db, state.ui, f);
    requery();
    selectRowOf(stored.dirNo);
    source_->clear();
    dest_->clear();
    remark_->clear();
    showScanChoices(std::nullopt);
}

void DIRSET::deleteRegistration() {
    if (ctx_.refuseChangeWhileEngineRuns()) return;
    SharedState& state = ctx_.state;
    if (source_->text().isEmpty()) {
        state.ui.showMessage(" 取消対象のデータを一覧から選択してください!");
        return;
    }
    std::optional<std::int64_t> dirNo = currentDirNo();
    std::optional<Registration> row;
    if (dirNo) row = FindRegistrationByNumber(state.db(), *dirNo);
    if (RemoveRegistration(state.db(), state.ui, row, S(source_->text()), CurrentDirectory())) requery();
}

void DIRSET::initialBackup() {
    if (panel_->running()) return;
    const BackupEngine engine = ctx_.backupEngine;
    BackupResult result;
    const bool ran = panel_->run(
        [&](SharedState& worker, RunControl& control) { result = RunInitialBackups(worker, engine, &control); },
        idleOnly_);
    if (ran) {
        requery();
        ctx_.state.ui.showMessage(result.stopped ? panel_->stoppedMessage() : kDone);
    }
    const Leave after = leaveWhenDone_;
    leaveWhenDone_ = Leave::kStay;
    if (after == Leave::kHide) leave(false);
    if (after == Leave::kClose) close();
}

void DIRSET::leave(bool closing) {
    if (panel_->running()) {
        // Leaving during an initial backup asks as 中止 does, and leaves once it ends.
        if (panel_->askStop()) leaveWhenDone_ = closing ? Leave::kClose : Leave::kHide;
        return;
    }
    ctx_.openMenu();
    if (!closing) hide();
}

void DIRSET::destinationChanged() {
    if (listAtEnd_) return;
    std::string source = S(source_->text());
    if (!source.empty()) source = StoredDirectory(source, CurrentDirectory());
    std::optional<Registration> row = FindRegistrationByDir(ctx_.state.db(), source);
    if (!row) {
        listAtEnd_ = true;
        return;
    }
    selectRowOf(row->dirNo);
    if (row->chk1 == "1") ctx_.state.ui.showMessage(kDestinationChangeWarning);
}

bool DIRSET::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn && !inFocusMessage_) {
        if (watched == source_) sourceFocusIn();
        if (watched == prefix_) {
            if (prefix_->text().isEmpty()) setPrefixMode(true);
            entryText_ = prefix_->text();
        }
    } else if (event->type() == QEvent::FocusOut && !inFocusMessage_) {
        if (watched == source_) sourceFocusOut();
        if (watched == prefix_) prefixExit();
    }
    return QWidget::eventFilter(watched, event);
}

void DIRSET::closeEvent(QCloseEvent* event) {
    if (panel_->running()) {
        leave(true);
        event->ignore();
        return;
    }
    leave(true);
    // The close box discards the window; the next opening loads it anew.
    setAttribute(Qt::WA_DeleteOnClose);
    event->accept();
}

}  // namespace tessel
