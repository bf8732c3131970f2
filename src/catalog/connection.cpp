#include "catalog/connection.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "platform/paths.h"

namespace tessel {
namespace {

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
    std::string file = db ? (sqlite3_db_filename(db, "main") ? sqlite3_db_filename(db, "main") : "") : "";
    throw CatalogError("カタログ " + file + ": " + what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) return false;
    return true;
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK)
        Fail(db, "cannot prepare \"" + std::string(sql) + "\"");
}

Statement::Statement(Statement&& o) noexcept : db_(o.db_), stmt_(o.stmt_) { o.stmt_ = nullptr; }

Statement::~Statement() {
    if (stmt_) sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int i, std::int64_t v) {
    if (sqlite3_bind_int64(stmt_, i, v) != SQLITE_OK) Fail(db_, "cannot bind a value");
    return *this;
}

Statement& Statement::bind(int i, std::string_view t) {
    if (sqlite3_bind_text(stmt_, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT) != SQLITE_OK)
        Fail(db_, "cannot bind a value");
    return *this;
}

Statement& Statement::bind(int i, const std::optional<std::string>& t) { return t ? bind(i, std::string_view(*t)) : bindNull(i); }

Statement& Statement::bind(int i, const std::optional<std::int64_t>& v) { return v ? bind(i, *v) : bindNull(i); }

Statement& Statement::bindNull(int i) {
    if (sqlite3_bind_null(stmt_, i) != SQLITE_OK) Fail(db_, "cannot bind a value");
    return *this;
}

bool Statement::step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    std::string sql = sqlite3_sql(stmt_) ? sqlite3_sql(stmt_) : "";
    sqlite3_reset(stmt_);
    Fail(db_, "\"" + sql + "\" failed");
}

void Statement::run() {
    while (step()) {
    }
    reset();
}

void Statement::reset() { sqlite3_reset(stmt_); }

bool Statement::isNull(int c) const { return sqlite3_column_type(stmt_, c) == SQLITE_NULL; }

std::int64_t Statement::int64(int c) const { return sqlite3_column_int64(stmt_, c); }

std::string Statement::text(int c) const {
    const unsigned char* p = sqlite3_column_text(stmt_, c);
    if (!p) return {};
    return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(stmt_, c)));
}

std::optional<std::string> Statement::optText(int c) const {
    if (isNull(c)) return std::nullopt;
    return text(c);
}

std::optional<std::int64_t> Statement::optInt(int c) const {
    if (isNull(c)) return std::nullopt;
    return int64(c);
}

std::unique_ptr<Connection> Connection::open(const std::string& cs) {
    static const std::string kSource = "Data Source=";
    size_t at = cs.find(kSource);
    if (at == std::string::npos) throw CatalogError("接続文字列に Data Source= がありません: " + cs);
    std::string provider = cs.substr(0, at);
    if (!provider.empty() && !StartsWithNoCase(provider, "Provider=SQLite"))
        throw CatalogError("JETDB.VER のプロバイダーは使用できません: " + provider);
    std::string path = cs.substr(at + kSource.size());
    if (!path.empty() && path.back() == ';') path.pop_back();
    return openFile(path, false);
}

std::unique_ptr<Connection> Connection::openFile(const std::string& path, bool create) {
    struct stat st {};
    if (!create && stat(path.c_str(), &st) != 0) throw CatalogError("カタログ " + path + " が見つかりません");
    sqlite3* db = nullptr;
    int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw CatalogError("カタログ " + path + " を開けません: " + msg);
    }
    std::unique_ptr<Connection> c(new Connection(db, path));
    sqlite3_busy_timeout(db, 10000);
    try {
        // Reading the schema proves the file is a database at all.
        c->exec("SELECT count(*) FROM sqlite_master");
        // Write-ahead logging: a killed process never leaves a damaged
        // catalog, and readers do not block the writer.
        c->exec("PRAGMA journal_mode=WAL");
        c->exec("PRAGMA synchronous=NORMAL");
    } catch (const CatalogError& e) {
        throw CatalogError("カタログ " + path + " はデータベースではありません: " + e.what());
    }
    return c;
}

Connection::~Connection() {
    cache_.clear();
    sqlite3_close_v2(db_);
}

Statement Connection::prepare(std::string_view sql) { return Statement(db_, sql); }

Statement& Connection::cached(const std::string& sql) {
    auto it = cache_.find(sql);
    if (it == cache_.end()) it = cache_.emplace(sql, std::make_unique<Statement>(db_, sql)).first;
    it->second->reset();
    return *it->second;
}

void Connection::exec(std::string_view sql) {
    char* err = nullptr;
    std::string s(sql);
    if (sqlite3_exec(db_, s.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : sqlite3_errmsg(db_);
        sqlite3_free(err);
        throw CatalogError("カタログ " + path_ + ": \"" + s + "\" failed: " + msg);
    }
}

std::int64_t Connection::lastInsertId() const { return sqlite3_last_insert_rowid(db_); }

Transaction::Transaction(Connection& c) : c_(c) { c_.exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
    if (open_) {
        try {
            c_.exec("ROLLBACK");
        } catch (...) {
        }
    }
}

void Transaction::commit() {
    c_.exec("COMMIT");
    open_ = false;
}

std::string BuildConnectionString(const std::string& providerClause, const std::string& dataFolder) {
    return providerClause + "Data Source=" + JoinPath(dataFolder, "filebkp.mdb") + ";";
}

std::string QuoteCriterion(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 2);
    for (char ch : value) {
        out += ch;
        if (ch == '\'') out += '\'';
    }
    return out;
}

int NextNumber(Connection& c, std::string_view column) {
    if (column != "BKPNO" && column != "DIRNO") throw CatalogError("unknown counter " + std::string(column));
    Statement read = c.prepare("SELECT rowid, " + std::string(column) + " FROM AUTODEF LIMIT 1");
    std::int64_t next;
    if (read.step()) {
        std::int64_t rowid = read.int64(0);
        next = read.int64(1) + 1;
        read.reset();
        c.prepare("UPDATE AUTODEF SET " + std::string(column) + " = ?1 WHERE rowid = ?2").bind(1, next).bind(2, rowid).run();
    } else {
        read.reset();
        next = 1;
        Statement add = c.prepare(column == "BKPNO" ? "INSERT INTO AUTODEF (BKPNO, DIRNO) VALUES (?1, 0)"
                                                    : "INSERT INTO AUTODEF (BKPNO, DIRNO) VALUES (0, ?1)");
        add.bind(1, next).run();
    }
    return static_cast<int>(next);
}

}  // namespace tessel
