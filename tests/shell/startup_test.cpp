#include "shell/startup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace tessel {
namespace {

using test::ReadFile;
using test::TempDataFolder;
using test::TempDir;
using test::WriteFile;

std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

struct Harness {
    TempDataFolder folder;
    TempDir runtime;
    test::RecordingUi ui;
    test::FakeSystem system;
    SharedState state{ui, system};
    InstanceLock lock{runtime / "tessel.lock"};

    StartupOutcome start() { return RunStartup(state, lock, folder.path()); }
};

TEST(Startup, FreshFolderGetsCatalogAndSettingsFromTemplatesAndASecondCopyIsRefused) {
    Harness h;
    WriteFile(h.folder / "Bkpdef.def", "AUTO=NO\r\nICON=YES\r\n");
    // A provider line without ";" means an empty clause, which is SQLite too.
    WriteFile(h.folder / "JETDB.VER", "Provider=SQLite\r\n");
    ASSERT_EQ(h.start(), StartupOutcome::Ready);
    EXPECT_TRUE(h.ui.messages.empty());
    EXPECT_EQ(h.state.dataFolder, h.folder.path());
    EXPECT_EQ(h.state.providerClause, "");
    EXPECT_EQ(h.state.catalogVersion, "1.04");
    EXPECT_EQ(ReadFile(h.folder / "Bkpdef.ini"), "AUTO=NO\r\nICON=YES\r\n");
    EXPECT_EQ(h.state.catalog->path(), h.folder / "filebkp.mdb");

    // A second copy says so, touches nothing and leaves the first its lock.
    test::RecordingUi ui2;
    SharedState second(ui2, h.system);
    InstanceLock lock2(h.runtime / "tessel.lock");
    TempDataFolder other;
    auto before = Listing(other.path());
    EXPECT_EQ(RunStartup(second, lock2, other.path()), StartupOutcome::SecondCopy);
    EXPECT_EQ(ui2.messages, std::vector<std::string>{"すでにTesselバックアップ管理は起動しています。"});
    EXPECT_EQ(Listing(other.path()), before);
    EXPECT_TRUE(lock2.anotherCopyRunning());
    EXPECT_FALSE(h.lock.anotherCopyRunning());
}

TEST(Startup, InstallationFilesMayBeLinksToTheInstalledOnes) {
    // The data folder holds links to the installed files (ln -s .../* .).
    TempDataFolder installed;
    Harness h;
    for (const std::string& name : Listing(h.folder.path())) {
        std::filesystem::remove(h.folder / name);
        std::filesystem::create_symlink(installed / name, h.folder / name);
    }
    const std::string templateBytes = ReadFile(installed / "bkpDEF.mdb");
    ASSERT_EQ(h.start(), StartupOutcome::Ready);
    EXPECT_TRUE(h.ui.messages.empty());
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(h.folder / "filebkp.mdb")));
    EXPECT_EQ(ReadFile(installed / "bkpDEF.mdb"), templateBytes);
    EXPECT_FALSE(Listing(installed.path()).count("filebkp.mdb"));
}

TEST(Startup, ExistingFilesAreNotReplacedAndNamesIgnoreCase) {
    Harness h;
    // An existing settings file in upper case is the settings file.
    WriteFile(h.folder / "BKPDEF.INI", "ICON=YES\n");
    ASSERT_EQ(h.start(), StartupOutcome::Ready);
    // Once both exist, their templates are no longer needed.
    std::filesystem::remove(h.folder / "bkpDEF.mdb");
    std::filesystem::remove(h.folder / "Bkpdef.def");
    h.state.db().exec("INSERT INTO BKPNAME (BKPNO, BKPNAME, KBN) VALUES (7, 'kept', '1')");
    h.state.catalog.reset();
    EXPECT_FALSE(Listing(h.folder.path()).count("Bkpdef.ini"));
    EXPECT_EQ(ReadFile(h.folder / "BKPDEF.INI"), "ICON=YES\n");

    SharedState again(h.ui, h.system);
    InstanceLock lock2(h.runtime / "tessel2.lock");
    ASSERT_EQ(RunStartup(again, lock2, h.folder.path()), StartupOutcome::Ready);
    Statement run = again.db().prepare("SELECT BKPNAME FROM BKPNAME WHERE BKPNO = 7");
    ASSERT_TRUE(run.step());
    EXPECT_EQ(run.text(0), "kept");
}

TEST(Startup, ProviderClauseAndConnectionString) {
    EXPECT_EQ(ProviderClauseOf("Provider=SQLite;"), "Provider=SQLite;");
    EXPECT_EQ(ProviderClauseOf("Provider=SQLite;Mode=Share"), "Provider=SQLite;");
    EXPECT_EQ(ProviderClauseOf("Provider=SQLite"), "");
    EXPECT_EQ(BuildConnectionString("Provider=SQLite;", "/"), "Provider=SQLite;Data Source=/filebkp.mdb;");
    EXPECT_EQ(BuildConnectionString("", "/home/u/data"), "Data Source=/home/u/data/filebkp.mdb;");
}

TEST(Startup, CatalogVersionDecidesUpgrade) {
    struct Case {
        const char* sql;
        StartupOutcome outcome;
        const char* version;
    } cases[] = {
        {"DELETE FROM DBVERSION", StartupOutcome::NeedsUpgrade, ""},
        {"DROP TABLE DBVERSION", StartupOutcome::NeedsUpgrade, ""},
        {"UPDATE DBVERSION SET VNUM = 'V1.03'", StartupOutcome::NeedsUpgrade, "1.03"},
        {"UPDATE DBVERSION SET VNUM = '1.04'", StartupOutcome::NeedsUpgrade, ""},
        {"UPDATE DBVERSION SET VNUM = 'V1.04'", StartupOutcome::Ready, "1.04"},
    };
    for (const Case& c : cases) {
        Harness h;
        std::filesystem::copy_file(h.folder / "bkpDEF.mdb", h.folder / "filebkp.mdb");
        Connection::openFile(h.folder / "filebkp.mdb")->exec(c.sql);
        EXPECT_EQ(h.start(), c.outcome) << c.sql;
        EXPECT_EQ(h.state.catalogVersion, c.version) << c.sql;
        EXPECT_TRUE(h.ui.messages.empty());
    }
}

TEST(Startup, BadInstallationFilesFailClearlyAndWriteNothing) {
    struct Case {
        const char* what;
        std::function<void(const TempDir&)> spoil;
        const char* expectedInMessage;
    } cases[] = {
        {"catalog template missing", [](const TempDir& d) { std::filesystem::remove(d / "bkpDEF.mdb"); }, "bkpDEF.mdb"},
        {"settings template missing", [](const TempDir& d) { std::filesystem::remove(d / "Bkpdef.def"); }, "Bkpdef.def"},
        {"provider file missing", [](const TempDir& d) { std::filesystem::remove(d / "JETDB.VER"); }, "JETDB.VER"},
        {"provider file unreadable",
         [](const TempDir& d) {
             std::filesystem::remove(d / "JETDB.VER");
             std::filesystem::create_directory(d / "JETDB.VER");
         },
         "JETDB.VER"},
        {"unknown provider", [](const TempDir& d) { WriteFile(d / "JETDB.VER", "Provider=Microsoft.Jet.OLEDB.4.0;\r\n"); },
         "Provider=Microsoft.Jet.OLEDB.4.0;"},
        // Such a file would otherwise go to the upgrade, which replaces it
        // (the other unusable catalogs are the connection test's).
        {"catalog is another program's database",
         [](const TempDir& d) {
             sqlite3* db = nullptr;
             sqlite3_open((d / "filebkp.mdb").c_str(), &db);
             sqlite3_exec(db, "CREATE TABLE notes (body TEXT); INSERT INTO notes VALUES ('keep me')", nullptr, nullptr, nullptr);
             sqlite3_close(db);
         },
         "filebkp.mdb はこのプログラムのカタログではありません（表 AUTODEF がありません）"},
    };
    for (const Case& c : cases) {
        Harness h;
        c.spoil(h.folder);
        auto before = Listing(h.folder.path());
        std::string catalogBefore = std::filesystem::exists(h.folder / "filebkp.mdb") ? ReadFile(h.folder / "filebkp.mdb") : "";
        EXPECT_EQ(h.start(), StartupOutcome::Failed) << c.what;
        if (before.count("filebkp.mdb")) EXPECT_EQ(ReadFile(h.folder / "filebkp.mdb"), catalogBefore) << c.what;
        ASSERT_EQ(h.ui.messages.size(), 1u) << c.what;
        EXPECT_NE(h.ui.messages[0].find(c.expectedInMessage), std::string::npos) << h.ui.messages[0];
        EXPECT_EQ(Listing(h.folder.path()), before) << c.what;
        EXPECT_FALSE(h.state.catalog) << c.what;
    }
}

}  // namespace
}  // namespace tessel
