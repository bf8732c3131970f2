// One owner for every destination, and registrations that cannot hurt:
// every pair of (data folder, prefix, destination, source) nested both
// ways, directly, through a link and through a bind mount; two data
// folders sharing a destination; old catalogs that already hold such
// registrations; initial backups that fail.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>

#include "archiver/archive_request.h"
#include "backup/backup_directory.h"
#include "backup/backup_runs.h"
#include "catalog/catalog_rows.h"
#include "engine/destination_owner.h"
#include "engine/version_store.h"
#include "registration/registration_rules.h"
#include "registration/registrations.h"
#include "restore/restore_directory.h"
#include "restore/restore_to.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;

// A data folder at a chosen place, with its catalog open.
struct DataFolder {
    // A new data folder, or (copyOf) a copy of another one as cp -a makes it.
    explicit DataFolder(const std::string& folder, const std::string& copyOf = "") : state(ui, system) {
        if (!copyOf.empty()) fs::copy(copyOf, folder, fs::copy_options::recursive);
        fs::create_directories(folder);
        if (copyOf.empty()) fs::copy_file(std::string(TESSEL_SHARE_BUILD_DIR) + "/bkpDEF.mdb", folder + "/filebkp.mdb");
        state.dataFolder = folder;
        state.catalog = Connection::openFile(folder + "/filebkp.mdb");
    }
    Connection& db() { return state.db(); }
    // A registration stored as an old catalog may hold it, past every check.
    void storeUnchecked(int dirNo, const std::string& source, const std::string& dest, const std::string& done = "0") {
        db().prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) "
                     "VALUES (?1, ?2, ?3, '1', '', '1', ?4, '01')")
            .bind(1, dirNo).bind(2, source).bind(3, dest).bind(4, done).run();
    }
    BackupResult backUp(int run, int dirNo, const std::string& source, const std::string& dest) {
        BackupOptions options;
        options.compression = "1";
        return BackupDirectory(state, options, {source, "9", "1", dest, run, dirNo, "01"});
    }
    RecordingUi ui;
    FakeSystem system;
    SharedState state;
};

class Ownership : public ::testing::Test {
protected:
    // The tree: T/data (the data folder), T/pz/prefix (the prefix), a
    // registered source T/up/s1 with its destination T/dp/d1, links to
    // each, and free folders.
    Ownership() : data(t / "data") {
        for (const char* d : {"pz/prefix/x", "up/s1/sub", "dp/d1/x", "free", "a/b", "data/sub"}) fs::create_directories(t / d);
        WriteFile(t / "afile", "x");
        for (const auto& [link, target] : {std::pair{"L-data", "data"}, {"L-up", "up"}, {"L-dp", "dp"}, {"L-pz", "pz"}})
            fs::create_directory_symlink(t / target, t / link);
        SavePrefix(data.db(), t / "pz/prefix/", "1");
        data.storeUnchecked(1, t / "up/s1", t / "dp/d1");
    }
    std::string conflict(const std::string& source, const std::string& dest) {
        return RegistrationConflict(data.db(), source, dest);
    }

    TempDir t;
    DataFolder data;
};

TEST_F(Ownership, EveryOverlapOfDataFolderPrefixDestinationAndSourceIsRefusedHoweverItIsSpelled) {
    struct Case {
        std::string source, dest;
        const char* refusedFor;  // a word of the message; nullptr: allowed
    };
    const std::string T = t.path(), ok = T + "/pz/prefix/free";
    const std::vector<Case> cases = {
        // The data folder: contains, is, lies inside; also through a link.
        {T, ok, "データフォルダー"}, {T + "/data", ok, "データフォルダー"}, {T + "/data/sub", ok, "データフォルダー"},
        {T + "/L-data/sub", ok, "データフォルダー"}, {T + "/free", T + "/data/bk", "データフォルダー"},
        {T + "/free", T + "/L-data", "データフォルダー"}, {T + "/free", T + "/L-data/bk", "データフォルダー"},
        // The prefix, both ways.
        {T + "/pz", ok, "プレフィックス"}, {T + "/pz/prefix/x", ok, "プレフィックス"}, {T + "/L-pz/prefix/x", ok, "プレフィックス"},
        // Its own destination, both ways.
        {T + "/a", T + "/a/bk", "が重なっている"}, {T + "/a/b", T + "/a", "が重なっている"},
        // Another registration's source, both ways, directly and through a link.
        {T + "/up", ok, "登録済のバックアップ対象"}, {T + "/up/s1/sub", ok, "登録済のバックアップ対象"},
        {T + "/L-up", ok, "登録済のバックアップ対象"}, {T + "/L-up/s1/sub", ok, "登録済のバックアップ対象"},
        {T + "/free", T + "/up/s1/bk", "登録済のバックアップ対象"}, {T + "/free", T + "/up", "登録済のバックアップ対象"},
        // Another registration's destination, both ways.
        {T + "/dp", ok, "登録済のバックアップ先"}, {T + "/dp/d1/x", ok, "登録済のバックアップ先"},
        {T + "/L-dp/d1/x", ok, "登録済のバックアップ先"}, {T + "/free", T + "/dp/d1/x", "登録済のバックアップ先"},
        {T + "/free", T + "/dp", "登録済のバックアップ先"},
        // A source that does not exist or is no folder.
        {T + "/missing", ok, "見つからない"}, {T + "/afile", ok, "見つからない"},
        // Free places.
        {T + "/free", ok, nullptr}, {T + "/a/b", T + "/pz/prefix/b", nullptr}};
    for (const Case& c : cases) {
        const std::string why = conflict(c.source, c.dest);
        if (!c.refusedFor) EXPECT_EQ(why, "") << c.source << " -> " << c.dest;
        else EXPECT_NE(why.find(c.refusedFor), std::string::npos) << c.source << " -> " << c.dest << ": " << why;
    }
    // The prefix: not inside the data folder, not overlapping a source.
    for (const std::string& prefix : {T + "/data/bk/", T + "/up/", T + "/up/s1/bk/", T + "/L-up/"})
        EXPECT_NE(PrefixConflict(data.db(), prefix), "") << prefix;
    EXPECT_EQ(PrefixConflict(data.db(), T + "/pz/other/"), "");

    // An initialised registration keeps its copies where its kind put them:
    // it cannot become a bulk one (or stop being one); other changes pass.
    data.storeUnchecked(5, T + "/a/b", T + "/pz/prefix/b", "1");
    for (const auto& [kind, check] : {std::pair{"3", RegistrationCheck::kRefused}, {"9", RegistrationCheck::kAllowed}})
        EXPECT_EQ(CheckRegistration(data.db(), data.ui, T + "/a/b", T + "/pz/prefix/b", "/", kind), check) << kind;
    data.db().exec("DELETE FROM BKPDIR WHERE DIRNO = 5");
    EXPECT_EQ(data.ui.messages.back(), registration_text::kBulkKindFixed);

    // A bind mount of a registered source is the same place (root only).
    if (::geteuid() != 0) GTEST_SKIP() << "bind mounts need root";
    fs::create_directories(t / "bind");
    ASSERT_EQ(::mount((t / "up").c_str(), (t / "bind").c_str(), nullptr, MS_BIND, nullptr), 0);
    EXPECT_NE(conflict(t / "bind/s1/sub", ok).find("登録済のバックアップ対象"), std::string::npos);
    EXPECT_NE(conflict(t / "bind", ok).find("登録済のバックアップ対象"), std::string::npos);
    EXPECT_NE(conflict(t / "free", t / "bind/s1/x").find("登録済のバックアップ対象"), std::string::npos);
    ::umount((t / "bind").c_str());
}

// Two data folders with the same prefix and source: the first backup marks
// the destination; the other catalog is offered the next free name, and a
// run of it that names the marked destination anyway writes nothing there.
TEST_F(Ownership, TwoDataFoldersNeverShareADestination) {
    DataFolder other(t / "other-data");
    SavePrefix(other.db(), t / "pz/prefix/", "1");
    const std::string source = t / "free", dest = t / "pz/prefix/free", archive = dest + "/V00001/bkpcmp.lzh";
    WriteFile(source + "/a.txt", "first catalog's bytes");
    data.storeUnchecked(2, source, dest);
    ASSERT_FALSE(data.backUp(1, 2, source, dest).failed());
    const auto mark = ReadFile(dest + "/.tessel-owner");
    EXPECT_NE(mark.find("id=" + CatalogIdentity(data.db())), std::string::npos) << mark;

    EXPECT_NE(RegistrationConflict(other.db(), source, dest).find("別のカタログ"), std::string::npos);
    EXPECT_EQ(FreeDestination(other.db(), dest, source), dest + "_2");
    other.storeUnchecked(1, source, dest);
    WriteFile(source + "/a.txt", "second catalog's bytes");
    const std::string before = ReadFile(archive);
    const BackupResult r = other.backUp(1, 1, source, dest);
    EXPECT_TRUE(r.failed());
    ASSERT_EQ(other.ui.messages.size(), 1u);
    EXPECT_EQ(other.ui.messages[0], "バックアップ先 " + dest + " は別のカタログ (" + data.db().path() +
                                        ") のものです。このカタログ (" + other.db().path() + ") からは書き込みません！");
    EXPECT_EQ(ReadFile(archive), before);
    EXPECT_EQ(Column(other.db(), "SELECT count(*) FROM FILEKANRI"), std::vector<std::string>{"0"});

    // Nor inside it: a destination below the first catalog's is refused
    // when registered and when written.
    const std::string inside = dest + "/mine";
    DataFolder third(t / "third-data");
    const std::string why = RegistrationConflict(third.db(), t / "a", inside);
    EXPECT_NE(why.find("のバックアップ先 " + dest + " の中にあります"), std::string::npos) << why;
    third.storeUnchecked(1, t / "a", inside);
    EXPECT_TRUE(third.backUp(1, 1, t / "a", inside).failed());
    EXPECT_FALSE(fs::exists(inside + "/.tessel-owner"));

    // A lost mark: copies that the other catalog never recorded are not
    // taken over (its cleanup would treat them as leftovers); the catalog
    // that recorded them writes there again and marks it anew.
    fs::remove(dest + "/.tessel-owner");
    EXPECT_TRUE(other.backUp(3, 1, source, dest).failed());
    EXPECT_NE(other.ui.messages.back().find("には所有の印がなく"), std::string::npos) << other.ui.messages.back();
    EXPECT_EQ(ReadFile(archive), before);
    WriteFile(source + "/a.txt", "first catalog's bytes, again");
    EXPECT_FALSE(data.backUp(2, 2, source, dest).failed());
    EXPECT_NE(ReadFile(dest + "/.tessel-owner").find("id=" + CatalogIdentity(data.db())), std::string::npos);
    // A mark that cannot be read is not guessed at.
    WriteFile(dest + "/.tessel-owner", "garbage");
    EXPECT_TRUE(data.backUp(3, 2, source, dest).failed());
    EXPECT_NE(data.ui.messages.back().find("が壊れているか読めない"), std::string::npos) << data.ui.messages.back();

    // A copy of the data folder has the same identity: whichever of the
    // two writes the destination first keeps it, and the other is refused
    // rather than dropping copies it never recorded.
    fs::remove(dest + "/.tessel-owner");
    EXPECT_FALSE(data.backUp(4, 2, source, dest).failed());
    DataFolder copy(t / "data-copy", t / "data");
    WriteFile(source + "/a.txt", "written through the copy");
    EXPECT_FALSE(copy.backUp(5, 2, source, dest).failed());
    EXPECT_FALSE(copy.backUp(6, 2, source, dest).failed());
    WriteFile(source + "/a.txt", "written through the first");
    EXPECT_TRUE(data.backUp(5, 2, source, dest).failed());
    EXPECT_NE(data.ui.messages.back().find("このカタログの複製"), std::string::npos) << data.ui.messages.back();
    const RestoreToSummary fromCopy = RestoreRunTo(copy.state, 5, {source}, {t / "back-copy", false}, {});
    EXPECT_EQ(fromCopy.restored, 1);
    EXPECT_EQ(ReadFile(t / ("back-copy" + source + "/a.txt")), "written through the copy");

    // A copy from before write tokens (its catalog keeps none) is refused
    // the same way; the copy that wrote keeps the destination under a new
    // path (a disk mounted elsewhere), for its backups and forgets alike.
    data.db().exec("DROP TABLE TESSEL_DESTTOKEN");
    EXPECT_TRUE(data.backUp(6, 2, source, dest).failed());
    EXPECT_NE(data.ui.messages.back().find("このカタログの複製"), std::string::npos) << data.ui.messages.back();
    const std::string moved = t / "pz/prefix/moved";
    fs::rename(dest, moved);
    copy.db().prepare("UPDATE BKPDIR SET BKPDIR = ?1 WHERE DIRNO = 2").bind(1, moved).run();
    EXPECT_EQ(SweepRefusal(moved, copy.db()), "");
    WriteFile(source + "/a.txt", "written at the new place");
    EXPECT_FALSE(copy.backUp(7, 2, source, moved).failed());
    EXPECT_EQ(copy.ui.messages, std::vector<std::string>{});
}

// Old catalogs that already hold what registration now refuses keep
// working: a data folder inside a source is never recorded (nor restored
// over the running catalog), and a source nested in another is backed up
// by its own registration only.
TEST_F(Ownership, OldCatalogsWithTheDataFolderOrAnotherSourceInsideASourceKeepWorking) {
    DataFolder inner(t / "src/tdata");
    fs::create_directories(t / "src/nested");
    WriteFile(t / "src/a.txt", "a");
    WriteFile(t / "src/nested/n.txt", "n");
    inner.storeUnchecked(1, t / "src", t / "dp/src");
    inner.storeUnchecked(2, t / "src/nested", t / "dp/nested");
    for (int run : {1, 2}) {
        ASSERT_FALSE(inner.backUp(run, 1, t / "src", t / "dp/src").failed()) << inner.ui.messages.size();
        ASSERT_FALSE(inner.backUp(run, 2, t / "src/nested", t / "dp/nested").failed());
        WriteFile(t / "src/a.txt", "changed");
    }
    EXPECT_EQ(Column(inner.db(), "SELECT DIRNO || ' ' || substr(DIR, " + std::to_string(t.path().size() + 1) +
                                     ") || FILENM FROM FILEKANRI ORDER BY rowid"),
              (std::vector<std::string>{"1 /src/a.txt", "2 /src/nested/n.txt", "1 /src/a.txt"}));
    // A row of the catalog itself, as an older program recorded it, with
    // its copy: an in-place restore never puts it back over the running
    // catalog.
    const std::string catalogFile = t / "src/tdata/filebkp.mdb";
    inner.db()
        .prepare("INSERT INTO FILEKANRI (BKPNO, DIRNO, DIR, FILENM, LVL, KBN1, FUPDATE, FUPTIME, FSIZE) "
                 "SELECT BKPNO, DIRNO, ?1, 'filebkp.mdb', LVL, KBN1, FUPDATE, FUPTIME, FSIZE FROM FILEKANRI "
                 "WHERE DIRNO = 1 ORDER BY rowid LIMIT 1")
        .bind(1, t / "src/tdata/")
        .run();
    archive::ArchiveRequest add = archive::AddFileRequest(LevelArchive(t / "dp/src", 1), catalogFile);
    add.root = t / "dp/src";
    ASSERT_EQ(archive::Perform(add), 0);
    const RestoreResult back = RestoreDirectory(inner.state, 1, 1, RestoreOptions{false, "1", "1"});
    EXPECT_EQ(back.failed, 1);
    EXPECT_EQ(ReadFile(t / "src/a.txt"), "a");
    EXPECT_EQ(Column(inner.db(), "SELECT count(*) FROM RSTRLIST WHERE TEXT LIKE '%filebkp.mdb%データフォルダー・バックアップ先への書き込みを拒否しました%'"),
              std::vector<std::string>{"1"});
    // Nor elsewhere, when the target's folder is the data folder through a
    // bind mount (root only).
    if (::geteuid() == 0) {
        const std::string alias = t / ("out" + t.path() + "/src/tdata");
        fs::create_directories(alias);
        ASSERT_EQ(::mount((t / "src/tdata").c_str(), alias.c_str(), nullptr, MS_BIND, nullptr), 0);
        const RestoreToSummary to = RestoreRunTo(inner.state, 1, {t / "src"}, {t / "out", true}, {});
        ::umount(alias.c_str());
        EXPECT_EQ(to.failed, 1);
        EXPECT_EQ(ReadFile(t / ("out" + t.path() + "/src/a.txt")), "a");
    }

    // A source that is the data folder itself is refused before anything.
    inner.storeUnchecked(3, t / "src/tdata", t / "dp/tdata");
    EXPECT_TRUE(inner.backUp(3, 3, t / "src/tdata", t / "dp/tdata").failed());
    EXPECT_FALSE(fs::exists(t / "dp/tdata"));
}

// A registration whose source is missing: its initial backup fails and the
// registration stays not done, to be run again.
TEST_F(Ownership, AFailedInitialBackupLeavesTheRegistrationToRunAgain) {
    data.storeUnchecked(2, t / "later", t / "pz/prefix/later");
    EXPECT_TRUE(RunInitialBackups(data.state, RealBackupEngine()).failed());
    EXPECT_EQ(Column(data.db(), "SELECT DIRNO || CHK1 FROM BKPDIR WHERE DIRNO > 1"), std::vector<std::string>{"20"});
}

}  // namespace
}  // namespace tessel::test
