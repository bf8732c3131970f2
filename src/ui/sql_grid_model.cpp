#include "ui/sql_grid_model.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>

namespace tessel {
namespace {

// The query that counts a query's rows. A trailing ORDER BY is left out:
// it does not change the count, and without it SQLite counts from an index
// instead of reading every row in order.
std::string CountSql(const std::string& sql) {
    std::string lower = sql;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    std::string body = sql;
    const std::size_t order = lower.rfind("order by");
    if (order != std::string::npos && lower.find_first_of("()'\"", order) == std::string::npos)
        body = sql.substr(0, order);
    return "SELECT count(*) FROM (" + body + ")";
}

}  // namespace

SqlGridModel::SqlGridModel(Connection& db, QObject* parent) : QAbstractTableModel(parent), db_(db) {}

Connection& SqlGridModel::reading() const {
    if (!own_ && !ownFailed_) {
        try {
            own_ = Connection::openFile(db_.path());
        } catch (const CatalogError&) {
            ownFailed_ = true;
        }
    }
    return own_ ? *own_ : db_;
}

void SqlGridModel::setQuery(std::string sql, std::vector<Value> values) {
    sql_ = std::move(sql);
    values_ = std::move(values);
    requery();
}

void SqlGridModel::requery() {
    beginResetModel();
    pages_.clear();
    reader_.reset();
    readerRow_ = -1;
    columns_.clear();
    count_ = 0;
    {
        Statement shape = reading().prepare(sql_);
        sqlite3_stmt* raw = shape.raw();
        for (int c = 0; c < sqlite3_column_count(raw); ++c)
            columns_.push_back(QString::fromUtf8(sqlite3_column_name(raw, c)));
        Statement count = reading().prepare(CountSql(sql_));
        for (size_t i = 0; i < values_.size(); ++i)
            std::visit([&](const auto& v) { count.bind(static_cast<int>(i + 1), v); }, values_[i]);
        if (count.step()) count_ = static_cast<int>(std::min<std::int64_t>(count.int64(0), INT_MAX));
    }
    endResetModel();
}

void SqlGridModel::seek(int row) const {
    const int offsetParam = static_cast<int>(values_.size()) + 1;
    reader_ = std::make_unique<Statement>(reading().prepare(sql_ + " LIMIT -1 OFFSET ?" + std::to_string(offsetParam)));
    for (size_t i = 0; i < values_.size(); ++i)
        std::visit([&](const auto& v) { reader_->bind(static_cast<int>(i + 1), v); }, values_[i]);
    reader_->bind(offsetParam, static_cast<std::int64_t>(row));
    readerRow_ = row;
}

const std::vector<SqlGridModel::Row>& SqlGridModel::page(int number) const {
    auto found = pages_.find(number);
    if (found != pages_.end()) return found->second;
    const int first = number * kPage;
    const int size = std::min(kPage, count_ - first);
    std::vector<Row> rows;
    rows.reserve(size);
    try {
        if (!reader_ || readerRow_ != first) seek(first);
        while (static_cast<int>(rows.size()) < size && reader_->step()) {
            sqlite3_stmt* s = reader_->raw();
            const int n = sqlite3_column_count(s);
            Row row(n);
            for (int c = 0; c < n; ++c) {
                switch (sqlite3_column_type(s, c)) {
                case SQLITE_NULL:
                    break;
                case SQLITE_INTEGER:
                    row[c] = static_cast<qlonglong>(sqlite3_column_int64(s, c));
                    break;
                default:
                    row[c] = QString::fromStdString(reader_->text(c));
                }
            }
            rows.push_back(std::move(row));
        }
        readerRow_ = first + static_cast<int>(rows.size());
    } catch (const CatalogError&) {
        // Shown as empty rows; the next page starts the reader anew.
        reader_.reset();
    }
    // Rows removed since they were counted show empty.
    rows.resize(std::max(size, 0), Row(columns_.size()));
    if (pages_.size() >= kMaxPages) {
        // Drop the page farthest from this one.
        auto farthest = pages_.begin();
        if (std::abs(std::prev(pages_.end())->first - number) > std::abs(farthest->first - number))
            farthest = std::prev(pages_.end());
        pages_.erase(farthest);
    }
    return pages_.emplace(number, std::move(rows)).first->second;
}

SqlGridModel::Row* SqlGridModel::rowAt(int row) const {
    if (row < 0 || row >= count_) return nullptr;
    auto& rows = const_cast<std::vector<Row>&>(page(row / kPage));
    return &rows[row % kPage];
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
    if (row < 0 || row >= count_) return false;
    if (!editHandler_(row, value)) return false;
    // The handler may have shown a message; the row is still ours to update.
    Row* r = rowAt(row);
    if (!r || index.column() >= static_cast<int>(r->size())) return false;
    (*r)[index.column()] = value;
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

QVariant SqlGridModel::rowKey(int row) const {
    const Row* r = rowKey_ ? rowAt(row) : nullptr;
    if (!r || r->empty()) return {};
    return r->back();
}

QVariant SqlGridModel::value(int row, int column) const {
    const Row* r = rowAt(row);
    if (!r || column < 0 || column >= static_cast<int>(r->size())) return {};
    return (*r)[column];
}

int SqlGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count_; }

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
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ToolTipRole) return {};
    QVariant v = value(index.row(), index.column());
    if (role == Qt::EditRole) return v;
    // The tooltip shows the whole text of a cell too narrow for it.
    if (static_cast<size_t>(index.column()) < formatters_.size() && formatters_[index.column()])
        return formatters_[index.column()](v);
    return v;
}

QVariant SqlGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return QAbstractTableModel::headerData(section, orientation, role);
    if (static_cast<size_t>(section) < captions_.size() && !captions_[section].isNull()) return captions_[section];
    return columns_[section];
}

void SqlGridModel::fetchAll() {
    for (int p = 0; p * kPage < count_; ++p) page(p);
}

QVariant FormatStoredDate(const QVariant& v) {
    QString s = v.toString();
    if (s.size() == 10 && s[4] == '-' && s[7] == '-') return QString(s).replace('-', '/');
    return v;
}

}  // namespace tessel
