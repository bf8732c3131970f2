#include "ui/sql_grid_model.h"

namespace tessel {

SqlGridModel::SqlGridModel(Connection& db, QObject* parent) : QAbstractTableModel(parent), db_(db) {}

void SqlGridModel::setQuery(std::string sql, std::vector<Value> values) {
    sql_ = std::move(sql);
    values_ = std::move(values);
    requery();
}

void SqlGridModel::requery() {
    beginResetModel();
    rows_.clear();
    stmt_ = std::make_unique<Statement>(db_.prepare(sql_));
    for (size_t i = 0; i < values_.size(); ++i)
        std::visit([&](const auto& v) { stmt_->bind(static_cast<int>(i + 1), v); }, values_[i]);
    columns_.clear();
    sqlite3_stmt* raw = stmt_->raw();
    for (int c = 0; c < sqlite3_column_count(raw); ++c) columns_.push_back(QString::fromUtf8(sqlite3_column_name(raw, c)));
    atEnd_ = false;
    inReset_ = true;
    fetchMore();
    inReset_ = false;
    endResetModel();
}

void SqlGridModel::setFormatter(int column, Formatter f) {
    if (static_cast<size_t>(column) >= formatters_.size()) formatters_.resize(column + 1);
    formatters_[column] = std::move(f);
}

void SqlGridModel::setColumnLook(int column, const QString& caption, Qt::Alignment alignment) {
    if (static_cast<size_t>(column) >= captions_.size()) {
        captions_.resize(column + 1);
        alignments_.resize(column + 1);
    }
    captions_[column] = caption;
    alignments_[column] = alignment;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

Qt::ItemFlags SqlGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (index.column() == editableColumn_ && editHandler_) f |= Qt::ItemIsEditable;
    return f;
}

void SqlGridModel::setEditableColumn(int column, EditHandler handler) {
    editableColumn_ = column;
    editHandler_ = std::move(handler);
}

bool SqlGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || index.column() != editableColumn_ || !editHandler_) return false;
    int row = index.row();
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    if (!editHandler_(row, value)) return false;
    // The handler may have shown a message; the row is still ours to update.
    if (row >= static_cast<int>(rows_.size()) || index.column() >= static_cast<int>(rows_[row].size())) return false;
    rows_[row][index.column()] = value;
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

QVariant SqlGridModel::rowKey(int row) const {
    if (!rowKey_ || row < 0 || row >= static_cast<int>(rows_.size()) || rows_[row].empty()) return {};
    return rows_[row].back();
}

QVariant SqlGridModel::value(int row, int column) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return {};
    const auto& r = rows_[row];
    if (column < 0 || column >= static_cast<int>(r.size())) return {};
    return r[column];
}

int SqlGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : static_cast<int>(rows_.size()); }

int SqlGridModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    int n = static_cast<int>(columns_.size());
    return rowKey_ && n > 0 ? n - 1 : n;
}

QVariant SqlGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::TextAlignmentRole) {
        if (static_cast<size_t>(index.column()) < alignments_.size() && alignments_[index.column()])
            return QVariant::fromValue(alignments_[index.column()] | Qt::AlignVCenter);
        return {};
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    QVariant v = value(index.row(), index.column());
    if (role == Qt::DisplayRole && static_cast<size_t>(index.column()) < formatters_.size() && formatters_[index.column()])
        return formatters_[index.column()](v);
    return v;
}

QVariant SqlGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return QAbstractTableModel::headerData(section, orientation, role);
    if (static_cast<size_t>(section) < captions_.size() && !captions_[section].isNull()) return captions_[section];
    return columns_[section];
}

bool SqlGridModel::canFetchMore(const QModelIndex& parent) const { return !parent.isValid() && !atEnd_; }

void SqlGridModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid() || atEnd_ || !stmt_) return;
    std::vector<std::vector<QVariant>> page;
    while (static_cast<int>(page.size()) < kPage) {
        if (!stmt_->step()) {
            atEnd_ = true;
            break;
        }
        sqlite3_stmt* s = stmt_->raw();
        int n = sqlite3_column_count(s);
        std::vector<QVariant> row(n);
        for (int c = 0; c < n; ++c) {
            switch (sqlite3_column_type(s, c)) {
            case SQLITE_NULL:
                break;
            case SQLITE_INTEGER:
                row[c] = static_cast<qlonglong>(sqlite3_column_int64(s, c));
                break;
            default:
                row[c] = QString::fromStdString(stmt_->text(c));
            }
        }
        page.push_back(std::move(row));
    }
    if (atEnd_) stmt_->reset();
    if (page.empty()) return;
    int first = static_cast<int>(rows_.size());
    if (!inReset_) beginInsertRows({}, first, first + static_cast<int>(page.size()) - 1);
    for (auto& r : page) rows_.push_back(std::move(r));
    if (!inReset_) endInsertRows();
}

void SqlGridModel::fetchAll() {
    while (canFetchMore()) fetchMore();
}

QVariant FormatStoredDate(const QVariant& v) {
    QString s = v.toString();
    if (s.size() == 10 && s[4] == '-' && s[7] == '-') return QString(s).replace('-', '/');
    return v;
}

}  // namespace tessel
