#include "catalog/catalog_transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>

#include "catalog/destination_tokens.h"
#include "catalog/scan_rules.h"
#include "catalog/table_files.h"
#include "platform/codepage.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

namespace tessel {
namespace {

// ---------------------------------------------------------------- files

std::string Errno() { return std::strerror(errno); }

void RemoveIfExists(const std::string& path) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT)
        throw CatalogError(path + " を削除できません: " + Errno());
}

// A database file and the side files SQLite keeps beside it.
void RemoveDatabaseFiles(const std::string& path) {
    for (const char* suffix : {"-wal", "-shm", "-journal", ""}) RemoveIfExists(path + suffix);
}

void Rename(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0)
        throw CatalogError(from + " を " + to + " に置き換えられません: " + Errno());
}

// Makes renames and removals in the folder durable before the next step.
void SyncFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) throw CatalogError(folder + " を開けません: " + Errno());
    // A file system that cannot sync a folder (EINVAL) keeps its renames anyway.
    if (fsync(fd) != 0 && errno != EINVAL) {
        std::string why = Errno();
        close(fd);
        throw CatalogError(folder + " を書き込めません: " + why);
    }
    close(fd);
}

void SyncFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0 || fsync(fd) != 0) {
        std::string why = Errno();
        if (fd >= 0) close(fd);
        throw CatalogError(path + " を書き込めません: " + why);
    }
    close(fd);
}

// Keeps the old catalog under its second name: a second link to the same
// file where the file system allows it (no copy of a large catalog), a copy
// otherwise.
void KeepUnderSecondName(const std::string& catalog, const std::string& kept) {
    RemoveIfExists(kept);
    if (link(catalog.c_str(), kept.c_str()) == 0) return;
    std::string rc = CopyFile(catalog, kept).resultText();
    if (rc != kSuccess) throw CatalogError("カタログ " + catalog + " を " + kept + " として残せません: " + rc);
    if (const int err = SyncFileSystemOf(kept))
        throw CatalogError("カタログ " + catalog + " を " + kept + " として残せません: " + std::strerror(err));
}

// Switches a catalog out of write-ahead logging, which writes everything in
// its -wal file into the catalog file itself, so that the file can be renamed
// on its own once the connection is closed.
void LeaveWalMode(Connection& db) {
    Statement mode = db.prepare("PRAGMA journal_mode=DELETE");
    std::string result = mode.step() ? mode.text(0) : "";
    if (result != "delete")
        throw CatalogError("カタログ " + db.path() + " は他で使用中のため、ファイルを置き換えられません");
}

// ---------------------------------------------------------------- text

bool IsAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

std::optional<std::string> ToCp932(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    return Utf8ToCp932(utf8);
}

// Decodes a field. A lone lead byte at the very end (half a character left
// by a writer that cut inside a double-byte character) is read as a blank,
// the same as the export's own cut would have left.
std::optional<std::string> FromCp932(std::string_view field) {
    if (IsAscii(field)) return std::string(field);
    std::string bytes(field);
    for (std::size_t i = 0; i < bytes.size();) {
        auto c = static_cast<unsigned char>(bytes[i]);
        const bool lead = IsCp932LeadByte(c);
        if (lead && i + 1 == bytes.size()) {
            bytes[i] = ' ';
            break;
        }
        i += lead ? 2 : 1;
    }
    return Cp932ToUtf8(bytes);
}

// ---------------------------------------------------------------- catalog

// Lower-case names of the columns a table has; empty when there is no table.
std::set<std::string> ColumnsOf(Connection& db, std::string_view table) {
    std::set<std::string> columns;
    Statement info = db.prepare("SELECT lower(name) FROM pragma_table_info(?1)");
    info.bind(1, table);
    while (info.step()) columns.insert(info.text(0));
    return columns;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// ---------------------------------------------------------------- export

class TableFileWriter {
public:
    TableFileWriter(const std::string& folder, const TableLayout& layout) {
        // A leftover file of the same name, in whatever case, goes first.
        while (auto old = FindNoCase(folder, layout.fileName())) RemoveIfExists(*old);
        path_ = JoinPath(folder, layout.fileName());
        out_.open(path_, std::ios::binary | std::ios::trunc);
        if (!out_) throw CatalogError("テーブルファイル " + path_ + " を作成できません: " + Errno());
        record_.resize(layout.recordSize());
    }

    std::string& record() { return record_; }

    void write() {
        out_.write(record_.data(), static_cast<std::streamsize>(record_.size()));
        if (!out_) throw CatalogError("テーブルファイル " + path_ + " に書き込めません: " + Errno());
    }

    void close() {
        out_.close();
        if (!out_) throw CatalogError("テーブルファイル " + path_ + " に書き込めません: " + Errno());
    }

private:
    std::string path_;
    std::ofstream out_;
    std::string record_;
};

// Writes one table into its table file. `numberAno`: the catalog's FILEKANRI
// carries no usable `ano`; rows are numbered 1, 2, 3, ... instead.
void ExportTable(Connection& db, const std::string& folder, const TableLayout& layout, bool numberAno) {
    TableFileWriter file(folder, layout);
    std::set<std::string> columns = ColumnsOf(db, layout.table);
    if (columns.empty()) {  // an old catalog without this table: no records
        file.close();
        return;
    }
    std::string sql = "SELECT ";
    for (std::size_t i = 0; i < layout.fields.size(); ++i) {
        const TableField& f = layout.fields[i];
        bool numbered = numberAno && f.column == "ano";
        if (i) sql += ",";
        sql += (!numbered && columns.count(Lower(f.column))) ? std::string(f.column) : "NULL";
    }
    // Rows in the order they were added, which the new catalog keeps.
    sql += " FROM " + std::string(layout.table) + " ORDER BY rowid";
    Statement rows = db.prepare(sql);

    std::int64_t rowNumber = 0;
    while (rows.step()) {
        ++rowNumber;
        auto fail = [&](const TableField& f, const std::string& what) {
            throw CatalogError("カタログの " + std::string(layout.table) + " の " + std::to_string(rowNumber) + " 行目の " +
                               std::string(f.column) + " " + what);
        };
        std::string& record = file.record();
        std::size_t offset = 0;
        for (std::size_t i = 0; i < layout.fields.size(); ++i) {
            const TableField& f = layout.fields[i];
            int c = static_cast<int>(i);
            switch (f.kind) {
            case FieldKind::Int32: {
                std::int64_t v = numberAno && f.column == "ano" ? rowNumber : rows.isNull(c) ? 0 : rows.int64(c);
                if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
                    fail(f, "の値 " + std::to_string(v) + " は 32 ビットの整数に収まりません");
                PutInt32(record, offset, static_cast<std::int32_t>(v));
                break;
            }
            case FieldKind::Day:
            case FieldKind::Time: {
                double v = NoDate();
                if (!rows.isNull(c)) {
                    std::string text = rows.text(c);
                    auto a = f.kind == FieldKind::Day ? DayToAutomation(text) : TimeToAutomation(text);
                    if (!a) fail(f, "の値 \"" + text + (f.kind == FieldKind::Day ? "\" は日付 (yyyy-mm-dd) ではありません"
                                                                                  : "\" は時刻 (hh:mm:ss) ではありません"));
                    v = *a;
                }
                PutDouble(record, offset, v);
                break;
            }
            case FieldKind::Text: {
                std::string text = rows.isNull(c) ? std::string(" ") : rows.text(c);
                std::optional<std::string> cp932 = ToCp932(text);
                if (!cp932) fail(f, "の値 \"" + text + "\" にはシフトJIS (コードページ 932) で表せない文字があります");
                std::string field = FitText(*cp932, f.width);
                record.replace(offset, f.width, field);
                break;
            }
            }
            offset += f.width;
        }
        file.write();
    }
    file.close();
}

std::optional<std::string> ReadVersionRecord(Connection& db) {
    if (!ColumnsOf(db, "DBVERSION").count("vnum")) return std::nullopt;
    Statement rec = db.prepare("SELECT VNUM FROM DBVERSION ORDER BY rowid LIMIT 1");
    if (!rec.step()) return std::nullopt;
    return rec.optText(0);
}

// ---------------------------------------------------------------- import

// How the records of one table file are stored.
struct ImportPlan {
    const TableLayout* layout;
    bool withAno = true;        // FILEKANRI: store `ano`
    bool overwrite = false;     // AUTODEF: overwrite the first row
    bool keepBlanks = false;    // AUTODEF: BIKOU stored at full width
    bool replaceName = false;   // KBNDEF: a code already present takes the file's name
};

std::string InsertSql(const ImportPlan& plan) {
    const TableLayout& l = *plan.layout;
    std::string cols, values;
    int n = 0;
    for (const TableField& f : l.fields) {
        if (f.column == "ano" && !plan.withAno) continue;
        if (n) {
            cols += ",";
            values += ",";
        }
        cols += std::string(f.column);
        values += "?" + std::to_string(++n);
    }
    std::string sql = "INSERT INTO " + std::string(l.table) + " (" + cols + ") VALUES (" + values + ")";
    if (plan.replaceName) sql += " ON CONFLICT(KBN, ID) DO UPDATE SET NAIYOU = excluded.NAIYOU";
    return sql;
}

// Stores the records of one table file; returns the file's path, or nullopt
// when the folder holds no such file (the table keeps the template's rows).
std::optional<std::string> ImportTable(Connection& db, const std::string& folder, const ImportPlan& plan,
                                       const UpgradeProbe& probe) {
    const TableLayout& l = *plan.layout;
    std::optional<std::string> path = FindNoCase(folder, l.fileName());
    if (!path) return std::nullopt;
    const std::size_t size = l.recordSize();
    struct stat st {};
    if (stat(path->c_str(), &st) != 0) throw CatalogError("テーブルファイル " + *path + " を読めません: " + Errno());
    if (static_cast<std::size_t>(st.st_size) % size != 0)
        throw CatalogError("テーブルファイル " + *path + " の長さ " + std::to_string(st.st_size) + " バイトがレコード長 " +
                           std::to_string(size) + " バイトの倍数ではありません");
    std::ifstream in(*path, std::ios::binary);
    if (!in) throw CatalogError("テーブルファイル " + *path + " を読めません: " + Errno());

    // AUTODEF: the record overwrites the first row the template provides. A
    // template without such a row gets one, so that the counters of run and
    // directory numbers are never lost (and numbers never handed out twice).
    std::optional<Statement> update;
    if (plan.overwrite)
        update.emplace(db.prepare("UPDATE AUTODEF SET BKPNO = ?1, DIRNO = ?2, BIKOU = ?3 "
                                  "WHERE rowid = (SELECT min(rowid) FROM AUTODEF)"));
    Statement insert = db.prepare(plan.overwrite ? "INSERT INTO AUTODEF (BKPNO, DIRNO, BIKOU) VALUES (?1, ?2, ?3)"
                                                 : InsertSql(plan));
    std::string record(size, '\0');
    std::int64_t number = 0;
    while (in.read(record.data(), static_cast<std::streamsize>(size))) {
        ++number;
        auto where = [&](const TableField* f) {
            return "テーブルファイル " + *path + " の " + std::to_string(number) + " 件目のレコード" +
                   (f ? " (" + std::string(f->column) + ")" : std::string()) + ": ";
        };
        // Binds the record's fields, in layout order, to a statement.
        auto bindRecord = [&](Statement& target) {
            target.reset();
            std::size_t offset = 0;
            int param = 0;
            for (const TableField& f : l.fields) {
                std::string_view bytes(record.data() + offset, f.width);
                offset += f.width;
                if (f.column == "ano" && !plan.withAno) continue;
                ++param;
                switch (f.kind) {
                case FieldKind::Int32:
                    target.bind(param, static_cast<std::int64_t>(GetInt32(bytes, 0)));
                    break;
                case FieldKind::Day:
                case FieldKind::Time: {
                    double v = GetDouble(bytes, 0);
                    if (IsNoDate(v)) {
                        target.bindNull(param);
                        break;
                    }
                    auto text = f.kind == FieldKind::Day ? AutomationToDay(v) : AutomationToTime(v);
                    if (!text) throw CatalogError(where(&f) + "日付として読めない値です");
                    target.bind(param, *text);
                    break;
                }
                case FieldKind::Text: {
                    std::optional<std::string> text = FromCp932(bytes);
                    if (!text) throw CatalogError(where(&f) + "シフトJIS (コードページ 932) の文字として読めないバイトがあります");
                    target.bind(param, plan.keepBlanks ? *text : TrimTrailing(*text));
                    break;
                }
                }
            }
        };
        try {
            if (plan.overwrite) {
                bindRecord(*update);
                update->run();
                if (sqlite3_changes(db.handle()) == 0) {
                    bindRecord(insert);
                    insert.run();
                }
            } else {
                bindRecord(insert);
                insert.run();
            }
        } catch (const CatalogError& e) {
            std::string what = e.what();
            if (what.rfind("テーブルファイル ", 0) == 0) throw;
            throw CatalogError(where(nullptr) + what);
        }
        if (probe) probe(std::string(l.table) + " " + std::to_string(number));
    }
    if (in.bad()) throw CatalogError("テーブルファイル " + *path + " を読めません: " + Errno());
    return path;
}

void WriteVersionRecord(Connection& db, const std::optional<std::string>& vnum) {
    if (ColumnsOf(db, "DBVERSION").empty()) throw CatalogError("カタログのひな形にバージョンの表 DBVERSION がありません");
    db.exec("DELETE FROM DBVERSION");
    Statement add = db.prepare("INSERT INTO DBVERSION (VNUM) VALUES (?1)");
    if (vnum && !vnum->empty())
        add.bind(1, *vnum);
    else
        add.bindNull(1);
    add.run();
}

}  // namespace

ExportedCatalog ExportCatalog(Connection& db, const std::string& folder, const std::string& version,
                              const UpgradeProbe& probe) {
    // A snapshot of the whole catalog: every table file shows the same moment.
    db.exec("BEGIN");
    ExportedCatalog result;
    try {
        ExportTable(db, folder, AutodefLayout(), false);
        ExportTable(db, folder, BkpdirLayout(), false);
        ExportTable(db, folder, BkpnameLayout(), false);
        ExportTable(db, folder, FilekanriLayout(), !VersionAbove(version, "1.02"));
        result.versionRecord = ReadVersionRecord(db);
        if (!VersionBelow(version, "1.03")) ExportTable(db, folder, SubdirLayout(), false);
    } catch (...) {
        db.exec("ROLLBACK");
        throw;
    }
    db.exec("COMMIT");
    if (probe) probe("exported");
    return result;
}

void RemoveUnfinishedImport(const std::string& dataFolder) {
    RemoveDatabaseFiles(JoinPath(dataFolder, kBuildingName));
    RemoveIfExists(JoinPath(dataFolder, kKeptName));
}

void ImportCatalog(std::unique_ptr<Connection>& catalog, const std::string& folder,
                   const std::string& providerClause, const std::string& version, const ExportedCatalog& exported,
                   const ImportFinish& finish, const UpgradeProbe& probe) {
    const std::string canonical = JoinPath(folder, kCatalogName);
    const std::string building = JoinPath(folder, kBuildingName);
    const std::string kept = JoinPath(folder, kKeptName);
    std::vector<std::string> read;

    // 1. The new catalog is built beside the old one, in one transaction; a
    //    failure or a kill leaves at most an unfinished file under its own name.
    try {
        std::optional<std::string> source = FindNoCase(folder, kTemplateName);
        if (!source) throw CatalogError("カタログのひな形が見つかりません: " + JoinPath(folder, kTemplateName));
        RemoveDatabaseFiles(building);
        std::string rc = CopyFile(*source, building, SourceLinks::kFollow).resultText();
        if (rc != kSuccess) throw CatalogError("カタログ " + building + " を作成できません: " + rc);
        std::unique_ptr<Connection> db = Connection::openFile(building);
        // Nobody else sees this file, and a failed or killed build is thrown
        // away whole: it needs no journal and no syncing while it grows, only
        // one sync of the finished file before it takes the catalog's place.
        db->exec("PRAGMA journal_mode=OFF");
        db->exec("PRAGMA synchronous=OFF");
        db->exec("PRAGMA cache_size=-65536");
        Transaction t(*db);
        auto add = [&](const ImportPlan& plan) {
            if (auto path = ImportTable(*db, folder, plan, probe)) read.push_back(*path);
        };
        add({.layout = &AutodefLayout(), .overwrite = true, .keepBlanks = true});
        add({.layout = &BkpdirLayout()});
        add({.layout = &BkpnameLayout()});
        add({.layout = &FilekanriLayout(), .withAno = VersionAbove(version, "1.02")});
        add({.layout = &KbndefLayout(), .replaceName = true});
        // The catalog keeps one version record: the old catalog's, in place
        // of the template's.
        WriteVersionRecord(*db, exported.versionRecord);
        if (!VersionBelow(version, "1.03")) add({.layout = &SubdirLayout()});
        // The scan choices have no table file: they are copied from the old
        // catalog as they are, patterns byte for byte.
        if (catalog) CopyScanChoices(*catalog, *db);
        // So are the destinations' write tokens, without which the rebuilt
        // catalog could not tell its own destinations from a twin's.
        if (catalog) CopyDestinationTokens(*catalog, *db);
        if (finish) finish(*db);
        t.commit();
        LeaveWalMode(*db);
        db.reset();
        SyncFile(building);
    } catch (...) {
        try {
            RemoveDatabaseFiles(building);
        } catch (...) {
        }
        throw;
    }
    if (probe) probe("built");

    // 2. The old catalog is closed and kept under its second name, the new one
    //    takes its place with one rename, and the shared connection reopens.
    std::string oldPath = catalog ? catalog->path() : canonical;
    if (catalog) {
        try {
            LeaveWalMode(*catalog);
        } catch (...) {
            RemoveDatabaseFiles(building);
            throw;
        }
        catalog.reset();
    }
    bool replaced = false;
    try {
        // After leaving write-ahead logging no -wal file may remain: one left
        // beside the catalog name would be applied to the new catalog.
        if (PathExists(oldPath + "-wal")) throw CatalogError("カタログ " + oldPath + " は他で使用中です");
        RemoveIfExists(oldPath + "-shm");
        if (oldPath != canonical) {  // a catalog file spelt in other case takes the usual name
            RemoveDatabaseFiles(canonical);
            Rename(oldPath, canonical);
            oldPath = canonical;
        }
        KeepUnderSecondName(canonical, kept);
        SyncFolder(folder);
        if (probe) probe("kept");
        Rename(building, canonical);
        replaced = true;
        SyncFolder(folder);
        if (probe) probe("replaced");
        catalog = Connection::open(BuildConnectionString(providerClause, folder));
    } catch (const std::exception& e) {
        std::string what = e.what();
        catalog.reset();
        try {
            if (replaced) {
                for (const char* suffix : {"-wal", "-shm", "-journal"}) RemoveIfExists(canonical + suffix);
                Rename(kept, canonical);
            }
            RemoveIfExists(kept);
            SyncFolder(folder);
            catalog = Connection::openFile(oldPath);
        } catch (const std::exception& again) {
            throw CatalogError(what + "\n元のカタログを戻せませんでした: " + again.what() +
                               (PathExists(kept) ? "\n元のカタログは " + kept + " にあります" : std::string()));
        }
        try {
            RemoveDatabaseFiles(building);
        } catch (...) {
        }
        throw CatalogError(what);
    }

    // 3. The old catalog's second name and the table files read go.
    RemoveIfExists(kept);
    for (const std::string& path : read) RemoveIfExists(path);
    SyncFolder(folder);
}

}  // namespace tessel
