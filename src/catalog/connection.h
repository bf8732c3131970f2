#pragma once
// The catalog connection: one SQLite database opened from a connection
// string of the form  <provider clause>Data Source=<path>;  and prepared
// statements on it. Values are always bound, never pasted into SQL text.
#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/status.h"

namespace tessel {

// A failing catalog operation; what() names the database file and SQLite's words.
class CatalogError : public Error {
public:
    using Error::Error;
};

class Statement {
public:
    Statement(sqlite3* db, std::string_view sql);
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&&) = delete;
    Statement(const Statement&) = delete;
    ~Statement();

    // Parameters are numbered from 1, as in SQLite.
    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, int value) { return bind(index, static_cast<std::int64_t>(value)); }
    Statement& bind(int index, std::string_view text);
    Statement& bind(int index, const char* text) { return bind(index, std::string_view(text)); }
    Statement& bind(int index, const std::string& text) { return bind(index, std::string_view(text)); }
    Statement& bind(int index, const std::optional<std::string>& text);
    Statement& bind(int index, const std::optional<std::int64_t>& value);
    Statement& bindNull(int index);

    // Advances to the next row; false when there is none (or the statement
    // returns no rows). Throws CatalogError on failure.
    bool step();
    // Runs a statement that returns no rows.
    void run();
    // Makes the statement ready to run again (bindings are kept).
    void reset();

    bool isNull(int column) const;
    std::int64_t int64(int column) const;
    int int32(int column) const { return static_cast<int>(int64(column)); }
    std::string text(int column) const;                 // "" for NULL
    std::optional<std::string> optText(int column) const;  // nullopt for NULL
    std::optional<std::int64_t> optInt(int column) const;
    sqlite3_stmt* raw() { return stmt_; }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// How long a statement waits for another connection's lock before it fails.
inline constexpr int kBusyTimeoutMs = 10000;

class Connection {
public:
    // Opens the catalog named by a connection string. The provider clause
    // may be empty or name SQLite; anything else is refused. The file must
    // be a catalog: a database holding the catalog's tables. Any other file
    // (not a database, a database without those tables, an empty file) is
    // refused with a message naming it and is left exactly as it was.
    static std::unique_ptr<Connection> open(const std::string& connectionString, int busyTimeoutMs = kBusyTimeoutMs);
    // Opens a database file directly (template generation, tests).
    static std::unique_ptr<Connection> openFile(const std::string& path, bool create = false,
                                                int busyTimeoutMs = kBusyTimeoutMs);
    ~Connection();

    Statement prepare(std::string_view sql);
    // A prepared statement kept for the life of the connection (hot paths).
    Statement& cached(const std::string& sql);
    // The same for a text that stays put (a literal): found again by its
    // address, without building or comparing a string each call.
    Statement& cached(const char* sql);
    void exec(std::string_view sql);
    const std::string& path() const { return path_; }
    sqlite3* handle() { return db_; }

private:
    Connection(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    // The cached statement of the text, made on first use, reset.
    std::map<std::string, std::unique_ptr<Statement>>::value_type& cacheEntry(const std::string& sql);
    static std::unique_ptr<Connection> openChecked(const std::string& path, bool create, bool catalogOnly,
                                                   int busyTimeoutMs);
    sqlite3* db_;
    std::string path_;
    std::map<std::string, std::unique_ptr<Statement>> cache_;
    std::unordered_map<const char*, std::pair<std::string_view, Statement*>> byAddress_;
};

// A transaction: rolled back on destruction unless committed.
class Transaction {
public:
    explicit Transaction(Connection& c);
    ~Transaction();
    void commit();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

private:
    Connection& c_;
    bool open_ = true;
};

// The first of the catalog's tables (AUTODEF, BKPDIR, BKPNAME, FILEKANRI,
// each with its key columns) that the database lacks, as "TABLE" or
// "TABLE.COLUMN"; nullopt when it has them all. Catalogs of every version
// hold these; a database without them is not a catalog.
std::optional<std::string> MissingCatalogTable(Connection& db);

// Provider clause + "Data Source=" + catalog path + ";", where the catalog
// path is the data folder and "filebkp.mdb" joined with one separator.
std::string BuildConnectionString(const std::string& providerClause, const std::string& dataFolder);

// Hands out the next run ("BKPNO") or directory ("DIRNO") number from the
// AUTODEF counter row: adds the row when missing, writes value + 1 back
// and returns it.
int NextNumber(Connection& c, std::string_view column);

}  // namespace tessel
