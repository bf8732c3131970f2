// Containment as a class: every command that writes, with a link planted
// at each component of the paths it writes below; archives whose member
// names hold each forbidden byte in both name encodings, read by every
// reader; and user files whose names look like the program's own.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "archiver/archive_ops.h"
#include "archiver/archive_request.h"
#include "archiver/lzh/crc16.h"
#include "archiver/unlha.h"
#include "platform/codepage.h"
#include "platform/safe_write.h"
#include "restore/restore_directory.h"
#include "restore/restore_to.h"
#include "restore/verify.h"
#include "support/archive_members.h"
#include "support/backup_fixture.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;

std::string Lzh(const std::string& args) {
    return ShellQuote(std::string(TESSEL_BINARY_DIR) + "/tessel-lzh") + " " + args + " >/dev/null 2>&1";
}

class Containment : public ::testing::Test, public BackupFixture {
protected:
    Containment() {
        for (const char* d : {"sub", "V00001"}) MakeDirs(src(d));
        WriteFile(src("a.txt"), "a");
        WriteFile(src("sub/b.txt"), "b");
        WriteFile(outside / "victim", "keep");
        state.db()
            .prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) "
                     "VALUES (1, ?1, ?2, '1', '', '1', '1', '01')")
            .bind(1, source).bind(2, destination).run();
    }
    // A backup run with the real archiver.
    BackupResult backUp(int run, const std::string& compression, const std::string& kind = "1") {
        options.compression = compression;
        return BackupDirectory(state, options, {source, "9", kind, destination, run, 1, "01"});
    }
    RestoreResult restoreInPlace(int run) {
        return RestoreDirectory(state, 1, run, RestoreOptions{false, options.compression, "1"});
    }
    // Replaces the entry at path by a link to the victim's folder (or to
    // the victim itself for a file).
    void plant(const std::string& path, bool toFile = false) {
        fs::remove_all(path);
        MakeDirs(fs::path(path).parent_path().string());
        ASSERT_EQ(::symlink((toFile ? outside / "victim" : outside.path()).c_str(), path.c_str()), 0) << path;
    }
    void expectOutsideUntouched(const std::string& what) {
        EXPECT_EQ(FilesBelow(outside.path()), (std::map<std::string, std::string>{{"victim", "keep"}})) << what;
    }
    std::vector<std::string> kbn1() { return Column(state.db(), "SELECT FILENM || ' ' || KBN1 FROM FILEKANRI ORDER BY rowid"); }

    TempDir outside;
};

// Backups: a link at the destination or at the bulk archive is never
// written through, and the run fails.
TEST_F(Containment, BackupsNeverWriteThroughALinkAtAnyComponentOfTheDestination) {
    struct Case {
        const char* compression;
        const char* kind;
        const char* planted;  // below the destination; "" is the destination itself
        bool toFile;
    };
    const Case cases[] = {
        {"1", "1", "", false}, {"0", "1", "", false}, {"1", "3", "", false}, {"1", "3", "bkpcmp.lzh", true}};
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.compression) + "/" + c.kind + " link at " + c.planted);
        state.db().exec("DELETE FROM FILEKANRI");
        // Emptied, but still this catalog's once marked.
        if (fs::is_symlink(destination)) fs::remove(destination);
        MakeDirs(destination);
        for (const auto& e : fs::directory_iterator(destination))
            if (e.path().filename() != ".tessel-owner") fs::remove_all(e.path());
        plant(c.planted[0] ? dst(c.planted) : destination, c.toFile);
        EXPECT_TRUE(backUp(++run, c.compression, c.kind).failed());
        expectOutsideUntouched("");
    }
    // A link at a plain copy's name, at the level archive's or at the
    // version folder: that name counts as taken, the copies go one level up
    // (said but for the plain copy), they come back, and the link's target
    // stays as it was.
    for (const auto& [planted, compression] : {std::pair{"V00001/a.txt", "0"}, {"V00001/bkpcmp.lzh", "1"},
                                               {"V00001", "1"}, {"V00001", "0"}}) {
        SCOPED_TRACE(std::string(planted) + " " + compression);
        const bool plainName = std::string(planted).ends_with(".txt");
        state.db().exec("DELETE FROM FILEKANRI");
        for (const char* entry : {"V00001", "V00002", "V00003", "bkpcmp.lzh"}) fs::remove_all(dst(entry));
        MakeDirs(dst("V00001"));
        plant(dst(planted), plainName || std::string(planted).ends_with(".lzh"));
        // The plain a.txt passes V00002 too, whose archive takes nothing.
        if (plainName) plant(dst("V00002/bkpcmp.lzh"), true);
        ui.messages.clear();
        const BackupResult r = backUp(++run, compression);
        EXPECT_EQ(std::make_pair(r.failed(), r.warnings), std::make_pair(false, decltype(r.warnings){1}));
        expectOutsideUntouched(planted);
        EXPECT_EQ(kbn1(), (std::vector<std::string>{"a.txt 0", "b.txt 0"}));
        EXPECT_EQ(Column(state.db(), "SELECT FILENM || LVL FROM FILEKANRI ORDER BY rowid"),
                  (plainName ? std::vector<std::string>{"a.txt3", "b.txt1"} : std::vector<std::string>{"a.txt2", "b.txt2"}));
        const std::string said = "書庫の場所に通常のファイルでないものがあるため、この書庫には追加せず、次の版のフォルダーに保存します！ (";
        EXPECT_EQ(ui.messages, std::vector<std::string>{said + dst(plainName ? "V00002/bkpcmp.lzh" : "V00001/bkpcmp.lzh") + ")"});
        WriteFile(src("a.txt"), "changed");
        EXPECT_EQ(restoreInPlace(run).failed, 0);
        EXPECT_EQ(ReadFile(src("a.txt")), "a");
    }
}

// Restores: a link at a folder on the way or at the target file itself, in
// place, into another folder and by tessel-lzh x.
TEST_F(Containment, RestoresNeverWriteOrDeleteThroughALinkBelowTheirTarget) {
    for (const std::string compression : {"1", "0"}) {
        SCOPED_TRACE("compression " + compression);
        state.db().exec("DELETE FROM FILEKANRI");
        fs::remove_all(destination);
        MakeDirs(destination);
        ASSERT_FALSE(backUp(1, compression).failed());
        WriteFile(src("sub/later.txt"), "recorded by run 2");
        ASSERT_FALSE(backUp(2, compression).failed());

        // In place: the folder sub replaced by a link (its file cannot be
        // put back, the later file cannot be deleted through it); a.txt
        // replaced by a link, which the restore replaces with the file.
        plant(src("sub"));
        WriteFile(outside / "later.txt", "not the program's to delete");
        plant(src("a.txt"), true);
        const RestoreResult r = restoreInPlace(1);
        EXPECT_EQ(std::make_pair(r.restored, r.failed), std::make_pair(1, 2));
        EXPECT_EQ(ReadFile(outside / "later.txt"), "not the program's to delete");
        fs::remove(outside / "later.txt");
        expectOutsideUntouched("in place");
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(src("a.txt"))));
        fs::remove(src("sub"));
        MakeDirs(src("sub"));
        WriteFile(src("sub/b.txt"), "b");

        // Into another folder: the same at each component below it.
        TempDir target;
        const std::string base = target / source.substr(1);
        plant(base + "/sub");
        plant(base + "/a.txt", true);
        const RestoreToSummary to = RestoreRunTo(state, 2, {}, {target.path(), true}, {});
        EXPECT_EQ(std::make_pair(to.restored, to.failed), std::make_pair(1, 2));
        expectOutsideUntouched("restore to");
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(base + "/a.txt")));
    }

    // tessel-lzh x: a link on the way below the folder, and at a target.
    TempDir x;
    const std::string base = x / source.substr(1);
    plant(base + "/sub");
    plant(base + "/a.txt", true);
    ASSERT_EQ(archive::Perform(archive::AddFolderRequest(x / "t.lzh", source, true)), 0);
    EXPECT_NE(Shell(Lzh("x " + ShellQuote(x / "t.lzh") + " " + ShellQuote(x.path()))), 0);
    expectOutsideUntouched("tessel-lzh x");
    EXPECT_EQ(ReadFile(base + "/a.txt"), "a");
}

// One stored member with exactly this path, written as our writer never
// would: `path` goes into the name fields as given (code page 932 where it
// fits, else the Unicode name headers).
void PlantMember(const std::string& archive, const std::string& path) {
    lzh::MemberAttributes a;
    a.path = path;
    a.mtime = 1000000000;
    const auto h = lzh::BuildHeader(a, "-lh0-", 4, 4, lzh::Crc16Update(0, "evil", 4), false);
    WriteFile(archive, std::string(h.begin(), h.end()) + "evil" + std::string(1, '\0'));
    UnlhaDropIndexCache();
}

// Member names that are not plain relative paths once decoded, in the code
// page 932 fields and in the Unicode headers: every reader refuses them,
// writes nothing, and shows them escaped, never cut.
TEST_F(Containment, MemberNamesWithForbiddenBytesAreRefusedByEveryReader) {
    const std::string out = data / "out/in";
    MakeDirs(out);
    const std::string up = source.substr(1) + "/";  // the member folder of the source
    const std::vector<std::string> bad = {
        up + std::string("..\0a/..\0b/evil.txt", 18), up + std::string("..\0a😀/..\0b/evil.txt", 22),
        up + "a\x01/evil.txt", up + "😀\x1b[2J/evil.txt", up + "..\\..\\evil.txt", up + "😀\\evil.txt",
        "/" + up + "evil.txt", up + "a//evil.txt", up + "./evil.txt", up + "../evil.txt", up + "x/\x7f"};
    for (const std::string& path : bad) {
        const std::string shown = Printable(path);
        SCOPED_TRACE(shown);
        const std::string arc = data / "evil.lzh";
        PlantMember(arc, path);
        const std::vector<lzh::Member> members = Members(arc);
        ASSERT_EQ(members.size(), 1u);
        EXPECT_FALSE(members[0].safePath);
        EXPECT_FALSE(lzh::IsSafeMemberPath(members[0].path));
        // Every extraction form and tessel-lzh x refuse it.
        for (const auto& request : {archive::ExtractAllRequest(arc), archive::ExtractIntoRequest(arc, out)})
            EXPECT_EQ(archive::Perform(request), kUnlhaRefusedPath);
        EXPECT_EQ(Shell(Lzh("x " + ShellQuote(arc) + " " + ShellQuote(out))), 1);
        // The listing shows the whole name, escaped, and says it is unsafe.
        Shell(ShellQuote(std::string(TESSEL_BINARY_DIR) + "/tessel-lzh") + " l " + ShellQuote(arc) + " >" +
              ShellQuote(data / "list.txt"));
        const std::string listed = ReadFile(data / "list.txt");
        EXPECT_NE(listed.find(Printable(members[0].path) + "  (unsafe path"), std::string::npos) << listed;
        EXPECT_EQ(listed.find('\0'), std::string::npos);
        EXPECT_EQ(listed.find('\x1b'), std::string::npos);

        // As the bulk archive of an initial bulk backup: the in-place
        // restore reports it and writes nothing; verify reports it.
        fs::copy_file(arc, dst("bkpcmp.lzh"), fs::copy_options::overwrite_existing);
        UnlhaDropIndexCache();
        state.db().exec("UPDATE BKPDIR SET KBN = '3'");
        const RestoreResult r = restoreInPlace(1);
        EXPECT_GE(r.failed, 1);
        const auto lines = Column(state.db(), "SELECT TEXT FROM RSTRLIST WHERE TEXT LIKE '%ファイルの戻しに失敗しました%'");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(Printable("/" + members[0].path)), std::string::npos) << lines[0];
        int problems = 0;
        VerifyBackups(state, {}, [&](const VerifyProblem&) { ++problems; });
        EXPECT_GE(problems, 1);
        state.db().exec("UPDATE BKPDIR SET KBN = '1'");
    }
    EXPECT_EQ(FilesBelow(data / "out"), (std::map<std::string, std::string>{{"in", "/"}}));
    for (const auto& e : fs::recursive_directory_iterator(data.path())) EXPECT_NE(e.path().filename(), "evil.txt") << e.path();
}

// Names that look like the program's own, in sources and targets: backed
// up, restored and never deleted; names an archive cannot hold go as plain
// copies, and names a plain copy must not take go into the archive. Names
// of characters of code page 932's lead bytes 0xF0-0xFC (user-defined and
// IBM extensions, "\" as a second byte among them) come back as they were.
TEST_F(Containment, FilesNamedLikeTheProgramsOwnOrInTheUserDefinedAreaAreBackedUpAndRestored) {
    const std::string live = std::string(kTempPrefix) + std::to_string(::getpid()) + "-abcd1234";
    // Also names no archive reader may be trusted with, in a folder of such
    // a name too (where a plain copy may not take the program's names
    // either), terminal and direction controls, and a set-user-ID file.
    std::vector<std::string> names = {"notes.tessel-tmp-2024", ".tessel-tmp-mydraft", "bkpcmp.lzh.tmp-abcdef",
                                      ".tessel-lzh-abcdef",    "bkpcmp.lzh",          live,
                                      "V00001/bkpcmp.lzh",     "back\\slash",         "line\nbreak",
                                      "odd\\dir/bkpcmp.lzh",   "odd\\dir/" + live,    "esc\x1b[2Jname",
                                      "rtl\u202Eevil.txt",     "c1\u009Bname",         "suid"};
    for (int lead = 0xF0; lead <= 0xFC; ++lead) {
        std::string cp932;
        for (const int trail : lead == 0xFC ? std::vector{0x40, 0x4B} : std::vector{0x40, 0x5C, 0xFC})
            cp932 += {static_cast<char>(lead), static_cast<char>(trail)};
        names.push_back(Cp932ToUtf8(cp932).value() + ".txt");
    }
    for (const std::string compression : {"1", "0"}) {
        SCOPED_TRACE("compression " + compression);
        state.db().exec("DELETE FROM FILEKANRI");
        fs::remove_all(destination);
        MakeDirs(destination);
        MakeDirs(src("odd\\dir"));
        for (const auto& n : names) WriteFile(src(n), "content of " + n);
        ASSERT_EQ(::chmod(src("suid").c_str(), 06755), 0);
        const auto before = FilesBelow(source);
        ASSERT_FALSE(backUp(1, compression).failed()) << (ui.messages.empty() ? "" : ui.messages.back());
        EXPECT_EQ(FilesBelow(source), before);
        UnlhaDropIndexCache();  // names read back from the archive, not as written
        int problems = 0;
        VerifyBackups(state, {}, [&](const VerifyProblem& p) { ADD_FAILURE() << p.name << ": " << p.what; ++problems; });
        EXPECT_EQ(problems, 0);
        EXPECT_EQ(Column(state.db(), "SELECT count(*) FROM FILEKANRI WHERE KBN1 <> '0'"), std::vector<std::string>{"0"});
        EXPECT_EQ(Column(state.db(), "SELECT count(*) FROM FILEKANRI"), std::vector<std::string>{std::to_string(names.size() + 2)});

        // A restore into a folder that already holds look-alikes of the
        // user's own keeps them.
        TempDir target;
        const std::string base = target / source.substr(1);
        MakeDirs(base + "/V00001");
        MakeDirs(base + "/odd\\dir");
        std::map<std::string, std::string> theirs;
        for (const auto& n : names) {
            WriteFile(base + "/" + n + ".keep", "theirs");
            WriteFile(target / n.substr(n.rfind('/') + 1), "theirs");
        }
        const auto targetBefore = FilesBelow(target.path());
        const RestoreToSummary to = RestoreRunTo(state, 1, {}, {target.path(), false}, {});
        EXPECT_EQ(to.failed, 0);
        EXPECT_EQ(to.restored, static_cast<int>(names.size()) + 2);
        for (const auto& [rel, bytes] : targetBefore) EXPECT_EQ(FilesBelow(target.path())[rel], bytes) << rel;
        for (const auto& n : names) EXPECT_EQ(ReadFile(base + "/" + n), "content of " + n) << n;
        EXPECT_EQ(fs::status(base + "/suid").permissions(), static_cast<fs::perms>(0755)) << "never set-user-ID";

        // In place, after every file was deleted.
        for (const auto& n : names) fs::remove(src(n));
        fs::remove(src("a.txt"));
        EXPECT_EQ(restoreInPlace(1).failed, 0);
        EXPECT_EQ(FilesBelow(source), before);
        EXPECT_EQ(fs::status(src("suid")).permissions(), static_cast<fs::perms>(0755));
    }
}

// The drive a destination lives on, changed under it: a folder above the
// destination replaced by a link, the level archive hard-linked elsewhere
// (a snapshot made with "cp -al"), a FIFO in the archive's place. Nothing
// is written or removed anywhere else, and nothing waits for ever.
TEST_F(Containment, ADestinationsDriveChangedUnderItIsNeverWrittenThrough) {
    // A folder above the destination, swapped for a link to the victim's.
    const std::string drive = data / "drive";
    MakeDirs(drive);
    const std::string dest = drive + "/bk";
    state.db().prepare("UPDATE BKPDIR SET BKPDIR = ?1").bind(1, dest).run();
    options.compression = "1";
    ASSERT_FALSE(BackupDirectory(state, options, {source, "9", "1", dest, 1, 1, "01"}).failed());
    fs::rename(drive, data / "drive.old");
    MakeDirs(outside / "bk");
    pid_t dead = fork();
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    const std::string precious = outside / ("bk/" + std::string(kTempPrefix) + std::to_string(dead) + "-abcdefgh");
    WriteFile(precious, "precious");
    ASSERT_EQ(::symlink(outside.path().c_str(), drive.c_str()), 0);
    WriteFile(src("a.txt"), "changed");
    EXPECT_TRUE(BackupDirectory(state, options, {source, "9", "1", dest, 2, 1, "01"}).failed());
    EXPECT_EQ(ReadFile(precious), "precious");
    EXPECT_EQ(FilesBelow(outside / "bk"), (std::map<std::string, std::string>{{fs::path(precious).filename(), "precious"}}));
    fs::remove(drive);
    fs::rename(data / "drive.old", drive);

    // A hard link to the level archive keeps what it had.
    ASSERT_EQ(::link((dest + "/V00001/bkpcmp.lzh").c_str(), (data / "snapshot.lzh").c_str()), 0);
    const std::string snapshot = ReadFile(data / "snapshot.lzh");
    WriteFile(src("new.txt"), "new at level 1");
    ASSERT_FALSE(BackupDirectory(state, options, {source, "9", "1", dest, 3, 1, "01"}).failed());
    EXPECT_EQ(ReadFile(data / "snapshot.lzh"), snapshot);
    EXPECT_EQ(ListMembers(dest + "/V00001/bkpcmp.lzh").count(MemberPath(src("new.txt"))), 1u);

    // A FIFO in the archive's place: never opened by any reader; new first
    // versions go one level up.
    fs::rename(dest + "/V00001/bkpcmp.lzh", data / "level1.lzh");
    ASSERT_EQ(::mkfifo((dest + "/V00001/bkpcmp.lzh").c_str(), 0600), 0);
    UnlhaDropIndexCache();
    WriteFile(src("newer.txt"), "also level 1");
    EXPECT_FALSE(BackupDirectory(state, options, {source, "9", "1", dest, 4, 1, "01"}).failed());
    EXPECT_EQ(ListMembers(dest + "/V00002/bkpcmp.lzh").count(MemberPath(src("newer.txt"))), 1u);
    EXPECT_GE(restoreInPlace(3).failed, 1);
    int problems = 0;
    VerifyBackups(state, {}, [&](const VerifyProblem&) { ++problems; });
    EXPECT_GE(problems, 1);
}

}  // namespace
}  // namespace tessel::test
