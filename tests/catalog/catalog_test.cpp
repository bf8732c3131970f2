#include "catalog/connection.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace tessel {
namespace {

// Opens a catalog the way start-up does and returns the message of the
// refusal, "" when it opened. Root writes to read-only files and folders, so
// under root the opening runs in a child that has dropped to user nobody.
std::string OpeningMessage(const std::string& path, bool unprivileged) {
    auto attempt = [&]() -> std::string {
        try {
            Connection::open("Provider=SQLite;Data Source=" + path + ";", 200);
            return "";
        } catch (const CatalogError& e) {
            return e.what();
        }
    };
    if (!unprivileged || geteuid() != 0) return attempt();
    int out[2];
    if (pipe(out) != 0) return "pipe failed";
    if (fork() == 0) {
        const uid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 || setresuid(nobody, nobody, nobody) != 0)
            _exit(3);
        const std::string message = attempt();
        _exit(write(out[1], message.data(), message.size()) == ssize_t(message.size()) ? 0 : 4);
    }
    close(out[1]);
    std::string message;
    char buf[512];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) message.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    wait(&status);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? message : "child failed";
}

TEST(Connection, EachUnusableCatalogHasItsOwnMessageAndIsLeftAsItWas) {
    struct Case {
        const char* what;
        // "x…": that text; else the template with these statements run on it
        // as another program would.
        std::string content;
        mode_t catalogMode, folderMode;
        bool writeAhead, heldByAnother;
        std::string expected;  // with @ for the catalog path and # for its folder
    };
    const std::string notCatalog = "ファイル @ はこのプログラムのカタログではありません（表 AUTODEF がありません）。ファイルには手を加えていません。";
    const std::string readOnlyFolder = "データフォルダー # に書き込めないため、カタログ @ を使用できません。フォルダーを書き込みできるようにしてください。";
    const Case cases[] = {
        {"not a database", "x" + std::string(4096, 'x'), 0644, 0755, false, false,
         "カタログ @ はデータベースではありません: file is not a database"},
        {"empty file", "x", 0644, 0755, false, false, notCatalog},
        {"catalog without its versions table", "DROP TABLE FILEKANRI", 0644, 0755, false, false,
         "ファイル @ はこのプログラムのカタログではありません（表 FILEKANRI がありません）。ファイルには手を加えていません。"},
        {"locked by another program", "", 0644, 0755, false, true,
         "カタログ @ は他のプログラムが使用中のため開けません。しばらくしてからやり直してください。"},
        {"read-only catalog", "", 0444, 0777, false, false,
         "カタログ @ は読み取り専用のため使用できません。ファイルを書き込みできるようにしてください。"},
        {"read-only data folder", "", 0666, 0555, false, false, readOnlyFolder},
        {"read-only data folder, catalog in write-ahead mode", "", 0666, 0555, true, false, readOnlyFolder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDataFolder folder;
        const std::string catalog = folder / "filebkp.mdb";
        if (c.content.starts_with("x")) {
            test::WriteFile(catalog, c.content.substr(1));
        } else {
            std::filesystem::copy_file(folder / "bkpDEF.mdb", catalog);
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(catalog.c_str(), &db), SQLITE_OK);
            EXPECT_EQ(sqlite3_exec(db, c.content.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        if (c.writeAhead) Connection::openFile(catalog);  // switches it to write-ahead logging
        sqlite3* holder = nullptr;
        if (c.heldByAnother) {
            ASSERT_EQ(sqlite3_open(catalog.c_str(), &holder), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(holder, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; DELETE FROM KBNDEF WHERE 0", nullptr,
                                   nullptr, nullptr),
                      SQLITE_OK);
        }
        chmod(catalog.c_str(), c.catalogMode);
        chmod(folder.path().c_str(), c.folderMode);  // user nobody reaches the catalog
        const std::string before = test::ReadFile(catalog);
        std::string expected = c.expected;
        for (size_t at; (at = expected.find('@')) != std::string::npos;) expected.replace(at, 1, catalog);
        for (size_t at; (at = expected.find('#')) != std::string::npos;) expected.replace(at, 1, folder.path());
        EXPECT_EQ(OpeningMessage(catalog, c.folderMode != 0755), expected);
        EXPECT_EQ(test::ReadFile(catalog), before);
        // Nothing is made beside a file in rollback-journal mode either.
        EXPECT_TRUE(c.writeAhead || !std::filesystem::exists(catalog + "-wal"));
        if (holder) sqlite3_close(holder);
        chmod(folder.path().c_str(), 0755);
    }
}

TEST(Connection, RefusesUnknownProviderAndMissingFileAndRollsBackUncommittedWork) {
    test::TempDataFolder folder;
    std::unique_ptr<Connection> db = Connection::openFile(folder / "bkpDEF.mdb");
    EXPECT_THROW(Connection::open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (folder / "bkpDEF.mdb") + ";"),
                 CatalogError);
    EXPECT_THROW(Connection::open("Data Source=" + (folder / "none.mdb") + ";"), CatalogError);
    EXPECT_FALSE(std::filesystem::exists(folder / "none.mdb"));
    EXPECT_NO_THROW(Connection::open("provider=sqlite;Data Source=" + (folder / "bkpDEF.mdb") + ";"));
    for (bool commit : {false, true}) {
        Transaction t(*db);
        db->prepare("INSERT INTO BKPNAME (BKPNO) VALUES (?1)").bind(1, commit ? 6 : 5).run();
        if (commit) t.commit();
    }
    EXPECT_EQ(test::Column(*db, "SELECT BKPNO FROM BKPNAME"), std::vector<std::string>{"6"});
}

}  // namespace
}  // namespace tessel
