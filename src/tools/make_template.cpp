// Build tool: writes the empty catalog template from the schema file.
//   tessel-make-template schema.sql bkpDEF.mdb
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: tessel-make-template SCHEMA.sql OUTPUT.mdb\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << argv[1] << ": cannot read\n";
        return 1;
    }
    std::stringstream sql;
    sql << in.rdbuf();
    std::remove(argv[2]);
    sqlite3* db = nullptr;
    if (sqlite3_open(argv[2], &db) != SQLITE_OK) {
        std::cerr << argv[2] << ": " << sqlite3_errmsg(db) << "\n";
        return 1;
    }
    char* err = nullptr;
    if (sqlite3_exec(db, sql.str().c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::cerr << argv[1] << ": " << err << "\n";
        sqlite3_close(db);
        std::remove(argv[2]);
        return 1;
    }
    sqlite3_close(db);
    return 0;
}
