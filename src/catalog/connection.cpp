#include "catalog/connection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

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

std::string ParentFolder(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Whether this process may make files in the folder (root included: a
// read-only file system refuses root as well).
bool FolderWritable(const std::string& folder) {
    return faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string LockedMessage(const std::string& path) {
    return "カタログ " + path + " は他のプログラムが使用中のため開けません。しばらくしてからやり直してください。";
}

std::string ReadOnlyCatalogMessage(const std::string& path) {
    return "カタログ " + path + " は読み取り専用のため使用できません。ファイルを書き込みできるようにしてください。";
}

std::string ReadOnlyFolderMessage(const std::string& folder, const std::string& path) {
    return "データフォルダー " + folder + " に書き込めないため、カタログ " + path +
           " を使用できません。フォルダーを書き込みできるようにしてください。";
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

std::unique_ptr<Connection> Connection::open(const std::string& cs, int busyTimeoutMs) {
    static const std::string kSource = "Data Source=";
    size_t at = cs.find(kSource);
    if (at == std::string::npos) throw CatalogError("接続文字列に Data Source= がありません: " + cs);
    std::string provider = cs.substr(0, at);
    if (!provider.empty() && !StartsWithNoCase(provider, "Provider=SQLite"))
        throw CatalogError("JETDB.VER のプロバイダーは使用できません: " + provider);
    std::string path = cs.substr(at + kSource.size());
    if (!path.empty() && path.back() == ';') path.pop_back();
    return openChecked(path, false, true, busyTimeoutMs);
}

std::unique_ptr<Connection> Connection::openFile(const std::string& path, bool create, int busyTimeoutMs) {
    return openChecked(path, create, false, busyTimeoutMs);
}

std::unique_ptr<Connection> Connection::openChecked(const std::string& path, bool create, bool catalogOnly,
                                                    int busyTimeoutMs) {
    struct stat st {};
    if (!create) {
        if (stat(path.c_str(), &st) != 0) {
            if (errno == ENOENT) throw CatalogError("カタログ " + path + " が見つかりません");
            throw CatalogError("カタログ " + path + " を開けません: " + std::strerror(errno));
        }
        if (!S_ISREG(st.st_mode)) throw CatalogError("カタログ " + path + " はデータベースではありません（通常のファイルではありません）");
    }
    // A connection is used by one thread at a time: the engines run on the
    // thread that calls them and their worker threads never touch the
    // catalog. So SQLite's lock around every call on a connection is not
    // needed, nor its count of memory in use, which takes a global lock
    // around every allocation. (The count can only be turned off before
    // SQLite's first use; later calls are refused and change nothing.)
    static const bool configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
    (void)configured;
    sqlite3* db = nullptr;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw CatalogError("カタログ " + path + " を開けません: " + msg);
    }
    std::unique_ptr<Connection> c(new Connection(db, path));
    // Until the file has proved to be what is asked for, closing the
    // connection must not write to it (SQLite checkpoints a write-ahead log
    // into the database file on close).
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_busy_timeout(db, busyTimeoutMs);

    const std::string folder = ParentFolder(path);
    // Each way the opening can fail has its own message: the remedy differs
    // (a catalog that is locked or read-only is a good catalog).
    auto failWith = [&](int rc, const std::string& doing) -> CatalogError {
        switch (rc & 0xff) {
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
            return CatalogError("カタログ " + path + " はデータベースではありません: " + sqlite3_errmsg(db));
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return CatalogError(LockedMessage(path));
        case SQLITE_READONLY:
            if (!FolderWritable(folder)) return CatalogError(ReadOnlyFolderMessage(folder, path));
            return CatalogError(ReadOnlyCatalogMessage(path));
        case SQLITE_CANTOPEN:
            if (!FolderWritable(folder)) return CatalogError(ReadOnlyFolderMessage(folder, path));
            [[fallthrough]];
        default:
            return CatalogError("カタログ " + path + " " + doing + ": " + sqlite3_errmsg(db));
        }
    };

    // Reading the schema proves the file is a database at all; it writes nothing.
    int rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) throw failWith(rc, "を読めません");
    if (catalogOnly) {
        if (std::optional<std::string> missing = MissingCatalogTable(*c))
            throw CatalogError("ファイル " + path + " はこのプログラムのカタログではありません（" + *missing +
                               " がありません）。ファイルには手を加えていません。");
    }
    // The write-ahead log and its index are files beside the catalog. (A
    // catalog in write-ahead mode also reads as read-only in such a folder.)
    if (!FolderWritable(folder)) throw CatalogError(ReadOnlyFolderMessage(folder, path));
    if (sqlite3_db_readonly(db, "main") == 1) throw CatalogError(ReadOnlyCatalogMessage(path));

    // Write-ahead logging: a killed process never leaves a damaged
    // catalog, and readers do not block the writer.
    sqlite3_stmt* mode = nullptr;
    rc = sqlite3_prepare_v2(db, "PRAGMA journal_mode=WAL", -1, &mode, nullptr);
    std::string result;
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(mode);
        if (rc == SQLITE_ROW) {
            const unsigned char* t = sqlite3_column_text(mode, 0);
            result = t ? reinterpret_cast<const char*>(t) : "";
            rc = SQLITE_OK;
        }
        sqlite3_finalize(mode);
    }
    if (rc != SQLITE_OK && rc != SQLITE_DONE) throw failWith(rc, "の記録方式を切り替えられません");
    // SQLite answers with the mode it kept when it could not switch (a file
    // system without the shared memory that write-ahead logging needs).
    if (result != "wal")
        throw CatalogError("カタログ " + path + " の記録方式を WAL に切り替えられません（" + result +
                           " のままです）。カタログを置いたファイルシステムを確認してください。");
    rc = sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) throw failWith(rc, "の設定を変更できません");
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    return c;
}

Connection::~Connection() {
    cache_.clear();
    sqlite3_close_v2(db_);
}

Statement Connection::prepare(std::string_view sql) { return Statement(db_, sql); }

std::map<std::string, std::unique_ptr<Statement>>::value_type& Connection::cacheEntry(const std::string& sql) {
    auto it = cache_.find(sql);
    if (it == cache_.end()) it = cache_.emplace(sql, std::make_unique<Statement>(db_, sql)).first;
    it->second->reset();
    return *it;
}

Statement& Connection::cached(const std::string& sql) { return *cacheEntry(sql).second; }

Statement& Connection::cached(const char* sql) {
    // The address alone could be a recycled buffer holding other text: the
    // text is compared too, which is still far cheaper than a map lookup.
    auto it = byAddress_.find(sql);
    if (it != byAddress_.end() && std::string_view(sql) == it->second.first) {
        it->second.second->reset();
        return *it->second.second;
    }
    auto& entry = cacheEntry(sql);
    byAddress_[sql] = {std::string_view(entry.first), entry.second.get()};
    return *entry.second;
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

std::optional<std::string> MissingCatalogTable(Connection& db) {
    struct Table {
        const char* name;
        std::vector<const char*> columns;
    };
    static const Table kTables[] = {
        {"AUTODEF", {"BKPNO", "DIRNO"}},
        {"BKPDIR", {"DIRNO", "DIR", "BKPDIR"}},
        {"BKPNAME", {"BKPNO", "BKPNAME"}},
        {"FILEKANRI", {"BKPNO", "DIRNO", "LVL", "DIR", "FILENM"}},
    };
    Statement table = db.prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
    Statement column = db.prepare("SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2 COLLATE NOCASE");
    for (const auto& [name, columns] : kTables) {
        table.reset();
        table.bind(1, name);
        if (!table.step()) return "表 " + std::string(name);
        table.reset();
        for (const char* col : columns) {
            column.reset();
            column.bind(1, name).bind(2, col);
            if (!column.step()) return "表 " + std::string(name) + " の列 " + col;
        }
        column.reset();
    }
    return std::nullopt;
}

std::string BuildConnectionString(const std::string& providerClause, const std::string& dataFolder) {
    return providerClause + "Data Source=" + JoinPath(dataFolder, "filebkp.mdb") + ";";
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
