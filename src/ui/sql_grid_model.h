#pragma once
// A grid's data: the rows of one catalog query. The rows are counted when
// the query runs, so the scroll bar and Ctrl+End reach the last row at
// once; their values are read a page at a time when a row is shown, and
// only a bounded number of pages is kept, so that a query over millions of
// rows opens at once and never fills the memory.
//
// The rows are read on a connection of the model's own to the same
// catalog. The reader it keeps open between pages holds that connection's
// view of the catalog as of the query (a static record set); on the
// window's shared connection it would hold every other statement there to
// that old view, so that a backup committed since on another connection
// (a worker thread, the companion) would stay unseen and the next write
// would fail.
#include <QAbstractTableModel>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "catalog/connection.h"

namespace tessel {

class SqlGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using Value = std::variant<std::int64_t, std::string>;
    // Turns a stored value into the text a column shows.
    using Formatter = std::function<QVariant(const QVariant&)>;
    // Checks and stores a value the user entered in a row's cell; true when
    // it was accepted and saved, false to keep the cell as it was.
    using EditHandler = std::function<bool(int row, const QVariant& value)>;

    SqlGridModel(Connection& db, QObject* parent = nullptr);

    // Runs a query with bound values; the rows are read as needed. The query
    // must not end in a LIMIT clause of its own.
    void setQuery(std::string sql, std::vector<Value> values = {});
    // Runs the current query again (after the catalog changed).
    void requery();
    void setFormatter(int column, Formatter f);
    // Caption and alignment a column shows (set by a grid layout).
    void setColumnLook(int column, const QString& caption, Qt::Alignment alignment);

    // The stored value of a cell.
    QVariant value(int row, int column) const;

    // With a row key, the query's last column (e.g. rowid) is kept with
    // each row but not shown as a column. Set before setQuery.
    void setRowKey(bool on) { rowKey_ = on; }
    // The row key of a row.
    QVariant rowKey(int row) const;
    // Lets the user edit one column; every entered value goes through the
    // handler, and the cell shows it only when the handler accepted it.
    void setEditableColumn(int column, EditHandler handler);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Reads every row now (small lists only).
    void fetchAll();

    static constexpr int kPage = 256;
    // Pages kept in memory at most.
    static constexpr std::size_t kMaxPages = 64;

private:
    using Row = std::vector<QVariant>;
    // The row, reading its page when it is not in memory; null outside the
    // counted rows.
    Row* rowAt(int row) const;
    const std::vector<Row>& page(int number) const;
    // Positions the reader at the given row.
    void seek(int row) const;
    // The model's own connection, opened on first use; the shared one when
    // a second connection cannot be opened.
    Connection& reading() const;

    Connection& db_;
    mutable std::unique_ptr<Connection> own_;
    mutable bool ownFailed_ = false;
    std::string sql_;
    std::vector<Value> values_;
    int count_ = 0;
    std::vector<QString> columns_;
    mutable std::map<int, std::vector<Row>> pages_;
    // Reads the rows in order from readerRow_ on; a jump starts it anew at
    // the wanted row.
    mutable std::unique_ptr<Statement> reader_;
    mutable int readerRow_ = -1;
    std::vector<Formatter> formatters_;
    std::vector<QString> captions_;
    std::vector<Qt::Alignment> alignments_;
    bool rowKey_ = false;
    int editableColumn_ = -1;
    EditHandler editHandler_;
};

// "yyyy-mm-dd" as stored, shown as "yyyy/mm/dd".
QVariant FormatStoredDate(const QVariant& v);

}  // namespace tessel
