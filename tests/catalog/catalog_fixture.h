#pragma once
// A data folder with an open catalog made from the template, as start-up
// leaves it, plus helpers to turn it into a catalog of an older version and
// to read tables back as text.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "catalog/connection.h"
#include "engine/shared_state.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace tessel::test {

using Cell = std::optional<std::string>;
using Row = std::vector<Cell>;

inline std::string Blanks(std::size_t n) { return std::string(n, ' '); }

// Every row of a query, each column as text (numbers in decimal), nullopt for NULL.
inline std::vector<Row> Rows(Connection& db, const std::string& sql) {
    std::vector<Row> rows;
    Statement s = db.prepare(sql);
    int n = sqlite3_column_count(s.raw());
    while (s.step()) {
        Row r;
        for (int c = 0; c < n; ++c) r.push_back(s.optText(c));
        rows.push_back(std::move(r));
    }
    return rows;
}

// Inserts one row; the values are bound in order.
inline void Insert(Connection& db, const std::string& table, const std::string& columns, const Row& values) {
    std::string marks;
    for (std::size_t i = 0; i < values.size(); ++i) marks += (i ? ",?" : "?") + std::to_string(i + 1);
    Statement s = db.prepare("INSERT INTO " + table + " (" + columns + ") VALUES (" + marks + ")");
    for (std::size_t i = 0; i < values.size(); ++i) s.bind(static_cast<int>(i + 1), values[i]);
    s.run();
}

inline const std::string kFilekanriColumns =
    "BKPNO,DIRNO,LVL,DIR,FILENM,FCRDATE,FCRTIME,FCRDAYD,FCRTIMED,FUPDATE,FUPTIME,FUPDAYD,FUPTIMED,FSIZE,"
    "FVERNO,FMVER,FLVER,PVERNO,PMVER,PLVER,KBN1,KBN2,CHK1,CHK2";

struct CatalogFolder {
    TempDataFolder folder;
    TempDir runtime;
    RecordingUi ui;
    FakeSystem system;
    SharedState state{ui, system};

    CatalogFolder() {
        std::filesystem::copy_file(folder / "bkpDEF.mdb", folder / "filebkp.mdb");
        state.dataFolder = folder.path();
        state.providerClause = "Provider=SQLite;";
        open();
    }

    void open() { state.catalog = Connection::open(BuildConnectionString(state.providerClause, state.dataFolder)); }
    Connection& db() { return state.db(); }

    // Turns the catalog into one of an older version: "1.02" has no `ano`
    // column; "" has no version table at all.
    void makeVersion(const std::string& version) {
        if (version <= "1.02") db().exec("ALTER TABLE FILEKANRI DROP COLUMN ano");
        if (version.empty()) {
            db().exec("DROP TABLE DBVERSION");
        } else {
            db().prepare("UPDATE DBVERSION SET VNUM = ?1").bind(1, "V" + version).run();
        }
        state.catalogVersion = version;
    }

    bool exists(const std::string& name) const { return std::filesystem::exists(folder / name); }
};

}  // namespace tessel::test
