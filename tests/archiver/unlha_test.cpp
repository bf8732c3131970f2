// Unlha: the engines' command lines against real archives.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "archiver/archive_ops.h"
#include "archiver/lzh/crc16.h"
#include "engine/run_archiver.h"
#include "archiver_test_util.h"
#include "support/recording_ui.h"

namespace tessel::test {
namespace {

std::string Stored(const std::string& absPath) { return absPath.substr(1); }

void MakeDir(const std::string& p) { ASSERT_EQ(Shell("mkdir -p " + ShellQuote(p)), 0); }

bool IsEmptyDir(const std::string& p) { return Shell("test -z \"$(ls -A " + ShellQuote(p) + ")\"") == 0; }

void SetTime(const std::string& p, time_t seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

// A raw archive with one stored member of the given path (which our writer
// would never produce), for the refusal tests.
std::string ArchiveWithPath(const std::string& path, const std::string& data) {
    lzh::MemberAttributes a;
    a.path = path;
    a.mtime = 1000000000;
    auto h = lzh::BuildHeader(a, "-lh0-", data.size(), data.size(), lzh::Crc16Update(0, data.data(), data.size()), false);
    return std::string(h.begin(), h.end()) + data + std::string(1, '\0');
}

TEST(UnlhaPerFile, FullPathsReplacementTheExactMemberTimesModesAndNoLinkFollowed) {
    TempDir t, outside;
    for (const char* d : {"X", "Y", "old", "new", "dir with blanks/sub", "dest folder.lzh x"}) MakeDir(t / d);
    WriteFile(t / "X/a.txt", "from X");
    WriteFile(t / "Y/a.txt", "from Y");
    WriteFile(t / "old/only.txt", "only one");
    const std::string oddName = "-leading dash \"quoted\" 日本語.txt";
    const std::string odd = t / ("dir with blanks/sub/" + oddName);
    const std::string body = MixedBytes(200000, 4);
    WriteFile(odd, body);
    ::chmod(odd.c_str(), 0640);
    SetTime(odd, 1234567890);
    const std::string arc = t / "dest folder.lzh x/bkpcmp.lzh";
    auto add = [&](const std::string& path) { return RunUnlha("u -nd1 " + arc + " " + Quote(path)); };
    auto extract = [&](const std::string& dir, const std::string& name) {
        return RunUnlha("e -a1cynx1 " + arc + " " + dir + "/ " + Quote(name));
    };
    for (const std::string& f : {t / "X/a.txt", t / "Y/a.txt", t / "old/only.txt", odd}) ASSERT_EQ(add(f), 0);
    WriteFile(t / "X/a.txt", "version 2, longer than before");
    ASSERT_EQ(add(t / "X/a.txt"), 0);
    // Same names from two folders are two members; a replaced one goes last.
    EXPECT_EQ(MemberPaths(arc), (std::vector<std::string>{Stored(t / "Y/a.txt"), Stored(t / "old/only.txt"), Stored(odd),
                                                          Stored(t / "X/a.txt")}));
    EXPECT_EQ(Members(arc).at(2).method, "-lh7-");

    // Each comes back into its own folder, replacing a read-only file and a
    // link without writing through it.
    WriteFile(outside / "victim", "untouched");
    ::unlink((t / "X/a.txt").c_str());
    ASSERT_EQ(::symlink((outside / "victim").c_str(), (t / "X/a.txt").c_str()), 0);
    WriteFile(t / "Y/a.txt", "changed");
    WriteFile(odd, "overwritten");
    ::chmod(odd.c_str(), 0444);
    EXPECT_EQ(extract(t / "X", "a.txt"), 0);
    EXPECT_EQ(extract(t / "Y", "a.txt"), 0);
    EXPECT_EQ(extract(t / "dir with blanks/sub", oddName), 0);
    EXPECT_EQ(ReadFile(t / "X/a.txt"), "version 2, longer than before");
    EXPECT_EQ(ReadFile(t / "Y/a.txt"), "from Y");
    EXPECT_EQ(ReadFile(outside / "victim"), "untouched");
    EXPECT_TRUE(ReadFile(odd) == body);
    struct stat st;
    ASSERT_EQ(::stat(odd.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1234567890);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // A member of that name in another folder is never taken.
    EXPECT_EQ(extract(t / "new", "only.txt"), kUnlhaNoSuchMember);
    EXPECT_TRUE(IsEmptyDir(t / "new"));

    // Times outside what the header holds are clamped, not wrapped.
    const std::string clamped = t / "clamped.lzh";
    for (const auto& [name, seconds] : {std::pair<std::string, time_t>{"1960.txt", -315619200}, {"2128.txt", 5000000000}}) {
        WriteFile(t / name, name);
        SetTime(t / name, seconds);
        ASSERT_EQ(RunUnlha("u -nd1 " + clamped + " " + Quote(t / name)), 0);
    }
    const auto members = Members(clamped);
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[0].mtime, 0);
    EXPECT_EQ(members[1].mtime, 0xFFFFFFFFLL);
}

TEST(UnlhaBulk, WithSubdirectoriesEveryRegularFileDirectoryOnlyTheFolderItself) {
    TempDir t;
    const std::string r = t / "DATA";
    MakeDir(r + "/SUB/DEEP");
    MakeDir(r + "/d 😀");
    MakeDir(t / "BK");
    // Names outside code page 932 and bytes that are not UTF-8 round-trip too.
    const std::vector<std::string> names = {"日本語ﾃｽﾄ①.txt", "emoji 😀 and Ελληνικά", "raw \xff\xfe bytes", "back\\slash"};
    for (const auto& n : names) WriteFile(r + "/d 😀/" + n, "content of " + n);
    WriteFile(r + "/a.txt", "a");
    WriteFile(r + "/.hidden", "dot file");
    WriteFile(r + "/noext", "no extension");
    WriteFile(r + "/SUB/b.txt", "b");
    const std::string deep = MixedBytes(70000, 2);
    WriteFile(r + "/SUB/DEEP/c.bin", deep);
    ASSERT_EQ(::symlink("/etc/passwd", (r + "/link").c_str()), 0);
    ASSERT_EQ(::mkfifo((r + "/fifo").c_str(), 0600), 0);
    const std::string arc = t / "BK/bkpcmp.lzh", top = t / "top.lzh";
    ASSERT_EQ(RunUnlha("u -d1n " + arc + " " + Quote(r + "/*.*")), 0);
    ASSERT_EQ(RunUnlha("u -n " + top + " " + Quote(r + "/*.*")), 0);
    auto paths = MemberPaths(arc);
    std::vector<std::string> expected = {Stored(r + "/.hidden"), Stored(r + "/SUB/DEEP/c.bin"), Stored(r + "/SUB/b.txt"),
                                         Stored(r + "/a.txt"), Stored(r + "/noext")};
    for (const auto& n : names) expected.push_back(Stored(r + "/d 😀/" + n));
    std::sort(paths.begin(), paths.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(paths, expected);
    paths = MemberPaths(top);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{Stored(r + "/.hidden"), Stored(r + "/a.txt"), Stored(r + "/noext")}));

    ASSERT_EQ(Shell("rm -rf " + ShellQuote(r)), 0);
    ASSERT_EQ(RunUnlha("e -r2x1a2ncy " + arc + " *.*"), 0);
    EXPECT_EQ(ReadFile(r + "/.hidden"), "dot file");
    EXPECT_TRUE(ReadFile(r + "/SUB/DEEP/c.bin") == deep);
    for (const auto& n : names) EXPECT_EQ(ReadFile(r + "/d 😀/" + n), "content of " + n);
    WriteFile(r + "/a.txt", "changed");
    ASSERT_EQ(RunUnlha("e -na1cy " + top + " " + Quote(r + "/") + " *.*"), 0);
    EXPECT_EQ(ReadFile(r + "/a.txt"), "a");
    MakeDir(t / "EMPTY");  // an empty archive that extracts to nothing
    ASSERT_EQ(RunUnlha("u -n " + (t / "e.lzh") + " " + Quote(t / "EMPTY/*.*")), 0);
    EXPECT_EQ(RunUnlha("e -na1cy " + (t / "e.lzh") + " " + Quote(t / "EMPTY/") + " *.*"), 0);
}

TEST(UnlhaAdd, NeverTakesTheArchiveItselfOrAFileBeingWritten) {
    TempDir t;
    const std::string r = t / "DATA";
    MakeDir(r + "/BK/V00001");
    MakeDir(r + "/old/V00007");
    WriteFile(r + "/old/V00007/bkpcmp.lzh", "a version folder of a former destination");
    WriteFile(r + "/a.txt", "a");
    WriteFile(r + "/.tessel-tmp-Ab3dE9", "a safe write in progress");
    WriteFile(r + "/BK/.tessel-lzh-x1y2z3", "an extraction in progress");
    WriteFile(r + "/BK/bkpcmp.lzh.tmp-Q1w2E3", "an archive being rewritten");
    const std::string arc = r + "/BK/bkpcmp.lzh";
    // The bulk archive lies inside the folder it takes in; version folders
    // and temporary files are left out, also on the second add.
    ASSERT_EQ(RunUnlha("u -d1n " + arc + " " + Quote(r + "/*.*")), 0);
    const auto size = std::filesystem::file_size(arc);
    ASSERT_EQ(RunUnlha("u -d1n " + arc + " " + Quote(r + "/*.*")), 0);
    EXPECT_EQ(MemberPaths(arc), std::vector<std::string>{Stored(r + "/a.txt")});
    EXPECT_EQ(std::filesystem::file_size(arc), size);
    // An archive asked to take itself (also by a hard link) or a temporary file.
    const std::string version = r + "/BK/V00001/bkpcmp.lzh";
    ASSERT_EQ(RunUnlha("u -nd1 " + version + " " + Quote(r + "/a.txt")), 0);
    ASSERT_EQ(::link(version.c_str(), (r + "/hard.lzh").c_str()), 0);
    const auto versionSize = std::filesystem::file_size(version);
    for (const std::string& self : {version, r + "/hard.lzh", r + "/.tessel-tmp-Ab3dE9"})
        EXPECT_EQ(RunUnlha("u -nd1 " + version + " " + Quote(self)), kUnlhaRefusedPath) << self;
    EXPECT_EQ(std::filesystem::file_size(version), versionSize);
}

// Many files on several workers: the same archive bytes as on one, after an
// append, a replacing rewrite and a failed add alike; -lh5- stays selectable.
TEST(UnlhaBulk, WorkersWriteTheSameArchiveAsOne) {
    TempDir t;
    MakeDir(t / "src");
    std::vector<archive::FileToAdd> files;
    for (int i = 0; i < 40; ++i) {
        const std::string p = t / ("src/f" + std::to_string(i));
        std::string body = i % 4 == 0 ? MixedBytes(static_cast<std::size_t>(i) * 17000, i)  // several queue chunks
                         : i % 4 == 1 ? Noise(static_cast<std::size_t>(i) * 3000, i)        // stored at once
                         : i % 4 == 2 ? std::string()
                                      : MixedBytes(900, i);
        if (i == 7) body = MixedBytes(8000, 1) + Noise(8 << 20, 2);  // stored after data went out
        WriteFile(p, body);
        files.push_back({p, Stored(p)});
    }
    const std::string one = t / "one.lzh", many = t / "many.lzh";
    auto add = [&](const std::string& arc, const std::vector<archive::FileToAdd>& list, unsigned jobs) {
        archive::AddOptions o;
        o.jobs = jobs;
        return archive::AddFiles(arc, list, nullptr, o);
    };
    ASSERT_EQ(add(one, files, 1), 0);
    ASSERT_EQ(add(many, files, 3), 0);
    EXPECT_TRUE(ReadFile(one) == ReadFile(many));
    auto members = Members(many);
    ASSERT_EQ(members.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const bool shrinks = (i % 4 == 0 || i % 4 == 3) && i != 0 && i != 7;
        EXPECT_EQ(members[i].method, shrinks ? "-lh7-" : "-lh0-") << i;
    }

    // A replacing rewrite, then an add failing on a missing file: the same on both.
    WriteFile(files[4].source, "changed");
    std::vector<archive::FileToAdd> again = {files[4], files[5], files[6]};
    ASSERT_EQ(add(one, again, 1), 0);
    ASSERT_EQ(add(many, again, 3), 0);
    EXPECT_TRUE(ReadFile(one) == ReadFile(many));
    std::vector<archive::FileToAdd> broken;
    for (int i = 0; i < 6; ++i) broken.push_back({t / ("src/g" + std::to_string(i)), Stored(t / ("src/g" + std::to_string(i)))});
    for (int i : {0, 1, 2, 4, 5}) WriteFile(broken[i].source, MixedBytes(60000, i));
    EXPECT_EQ(add(one, broken, 1), kUnlhaCannotReadSource);
    EXPECT_EQ(add(many, broken, 3), kUnlhaCannotReadSource);
    EXPECT_TRUE(ReadFile(one) == ReadFile(many));
    EXPECT_EQ(Shell("lhasa t " + ShellQuote(many) + " >/dev/null 2>&1"), 0);

    // The cached index knows every member where it landed.
    WriteFile(files[4].source, "overwritten");
    WriteFile(files[8].source, "overwritten");
    for (const char* name : {"f4", "f8", "g1"})
        ASSERT_EQ(RunUnlha("e -a1cynx1 " + many + " " + t.path() + "/src/ " + Quote(name)), 0) << name;
    EXPECT_EQ(ReadFile(files[4].source), "changed");
    EXPECT_TRUE(ReadFile(files[8].source) == MixedBytes(8 * 17000, 8));

    archive::AddOptions lh5;
    lh5.method = "-lh5-";
    lh5.jobs = 2;
    const std::string old = t / "lh5.lzh";
    ASSERT_EQ(archive::AddFiles(old, files, nullptr, lh5), 0);
    for (const auto& m : Members(old)) EXPECT_TRUE(m.method == "-lh5-" || m.method == "-lh0-") << m.method;
    MakeDir(t / "x");
    ASSERT_EQ(RunUnlha("e -na1cy " + old + " " + Quote(t / "x/") + " *.*"), 0);
    for (const auto& f : files)
        EXPECT_TRUE(ReadFile(t / ("x/" + f.source.substr(f.source.rfind('/') + 1))) == ReadFile(f.source)) << f.source;
}

TEST(UnlhaSafety, DotDotPathsAndLinksAreRefusedAndNothingIsWrittenOutside) {
    TempDir t, outside;
    MakeDir(t / "out/in");
    for (const std::string& bad : {std::string("../escape.txt"), std::string("a/../../escape.txt"), std::string("./")}) {
        WriteFile(t / "evil.lzh", ArchiveWithPath(t.path().substr(1) + "/out/in/" + bad, "payload"));
        UnlhaDropIndexCache();
        EXPECT_EQ(RunUnlha("e -r2x1a2ncy " + (t / "evil.lzh") + " *.*"), kUnlhaRefusedPath) << bad;
        EXPECT_EQ(RunUnlha("e -na1cy " + (t / "evil.lzh") + " " + Quote(t / "out/in/") + " *.*"), kUnlhaRefusedPath) << bad;
    }
    EXPECT_FALSE(Exists(t / "out/escape.txt"));
    EXPECT_TRUE(IsEmptyDir(t / "out/in"));

    MakeDir(t / "src/L");
    WriteFile(t / "src/L/x.txt", "x");
    WriteFile(t / "src/a.txt", "a");
    const std::string arc = t / "a.lzh";
    ASSERT_EQ(RunUnlha("u -d1n " + arc + " " + Quote(t / "src/*.*")), 0);
    // A per-file name is a name, never a path.
    EXPECT_EQ(RunUnlha("e -a1cynx1 " + arc + " " + t.path() + "/out/ \"..\""), kUnlhaRefusedPath);

    // tessel-lzh x: a link inside the target folder stands in a member's way.
    const std::string out = t / "out";
    const std::string below = out + t.path() + "/src";
    MakeDir(below);
    ASSERT_EQ(::symlink(outside.path().c_str(), (below + "/L").c_str()), 0);
    EXPECT_NE(Shell(std::string(TESSEL_BINARY_DIR) + "/tessel-lzh x " + ShellQuote(arc) + " " + ShellQuote(out) +
                    " >/dev/null 2>&1"),
              0);
    EXPECT_TRUE(IsEmptyDir(outside.path()));
    EXPECT_EQ(ReadFile(below + "/a.txt"), "a");

    // The directory-only form: the sub-directory replaced by a link.
    ASSERT_EQ(Shell("rm -r " + ShellQuote(t / "src/L") + " " + ShellQuote(t / "src/a.txt")), 0);
    ASSERT_EQ(::symlink(outside.path().c_str(), (t / "src/L").c_str()), 0);
    EXPECT_EQ(RunUnlha("e -na1cy " + arc + " " + Quote(t / "src/") + " *.*"), kUnlhaRefusedPath);
    EXPECT_TRUE(IsEmptyDir(outside.path()));
    EXPECT_EQ(ReadFile(t / "src/a.txt"), "a");

    // A link, dangling or not, at the archive's name is never written through.
    MakeDir(t / "V00000");
    ASSERT_EQ(::symlink((outside / "made.lzh").c_str(), (t / "V00000/bkpcmp.lzh").c_str()), 0);
    EXPECT_EQ(RunUnlha("u -nd1 " + (t / "V00000/bkpcmp.lzh") + " " + Quote(t / "src/a.txt")), kUnlhaCannotWrite);
    EXPECT_TRUE(IsEmptyDir(outside.path()));
    ASSERT_EQ(RunUnlha("u -nd1 " + (outside / "real.lzh") + " " + Quote(t / "src/a.txt")), 0);
    const std::string before = ReadFile(outside / "real.lzh");
    ASSERT_EQ(::symlink((outside / "real.lzh").c_str(), (t / "V00000/linked.lzh").c_str()), 0);
    EXPECT_EQ(RunUnlha("u -nd1 " + (t / "V00000/linked.lzh") + " " + Quote(t / "src/a.txt")), kUnlhaCannotWrite);
    EXPECT_EQ(ReadFile(outside / "real.lzh"), before);
}

TEST(UnlhaCommandLine, RejectsWhatItDoesNotUnderstandAndRunArchiverShowsTheCode) {
    TempDir t;
    WriteFile(t / "f.txt", "f");
    const std::string arc = t / "a.lzh";
    EXPECT_EQ(RunUnlha("x -nd1 " + arc + " " + Quote(t / "f.txt")), kUnlhaBadCommand);
    EXPECT_EQ(RunUnlha("u -nd1 " + arc + " " + t.path() + "/f.txt"), kUnlhaBadCommand);  // unquoted
    EXPECT_EQ(RunUnlha("u -nd1 " + t.path() + "/a.zip " + Quote(t / "f.txt")), kUnlhaBadCommand);
    EXPECT_EQ(RunUnlha("u -d1n " + arc + " " + Quote(t.path())), kUnlhaBadCommand);  // no *.*
    EXPECT_EQ(RunUnlha("e -r2x1a2ncy " + arc + " *.*"), kUnlhaArchiveMissing);
    EXPECT_EQ(RunUnlha("u -nd1 " + arc + " " + Quote(t / "missing.txt")), kUnlhaCannotReadSource);
    EXPECT_FALSE(Exists(arc));  // a failed first add leaves no archive
    ASSERT_EQ(::symlink((t / "f.txt").c_str(), (t / "link.txt").c_str()), 0);
    EXPECT_EQ(RunUnlha("u -nd1 " + arc + " " + Quote(t / "link.txt")), kUnlhaCannotReadSource);
    WriteFile(t / "text.lzh", "this is not an archive at all, just text");
    EXPECT_EQ(RunUnlha("u -nd1 " + (t / "text.lzh") + " " + Quote(t / "f.txt")), kUnlhaNotArchive);
    EXPECT_EQ(ReadFile(t / "text.lzh"), "this is not an archive at all, just text");
    // The report is cut to the buffer and always terminated.
    char small[6];
    std::memset(small, 'X', sizeof small);
    EXPECT_EQ(Unlha(nullptr, "nonsense", small, sizeof small), kUnlhaBadCommand);
    EXPECT_EQ(std::strlen(small), 5u);

    // RunArchiver shows a failure code in upper-case hex.
    RecordingUi ui;
    FakeSystem system;
    SharedState state(ui, system);
    state.archiverCommand = "u -nd1 " + arc + " " + Quote(t / "missing.txt");
    EXPECT_EQ(RunArchiver(state, "9"), kUnlhaCannotReadSource);
    state.archiverCommand = "bad";
    EXPECT_EQ(RunArchiver(state, "1"), kUnlhaBadCommand);
    EXPECT_EQ(ui.messages, (std::vector<std::string>{"UNLHA32.DLL error return rc = 8107",
                                                     "UNLHA32.DLL error return rc = 8105"}));
    ui.messages.clear();
    state.archiverCommand = "u -nd1 " + arc + " " + Quote(t / "f.txt");
    EXPECT_EQ(RunArchiver(state, "2"), 0);
    EXPECT_TRUE(ui.messages.empty());
}

TEST(UnlhaCache, NoticesWhenTheArchiveIsReplacedBehindItsBack) {
    TempDir t, other;
    WriteFile(t / "f.txt", "first");
    WriteFile(other / "g.txt", "second");
    const std::string arc = t / "a.lzh";
    ASSERT_EQ(RunUnlha("u -nd1 " + arc + " " + Quote(t / "f.txt")), 0);
    ASSERT_EQ(RunUnlha("e -a1cynx1 " + arc + " " + t.path() + "/ \"f.txt\""), 0);  // index now cached
    ASSERT_EQ(RunUnlha("u -nd1 " + (other / "a.lzh") + " " + Quote(other / "g.txt")), 0);
    ASSERT_EQ(::rename((other / "a.lzh").c_str(), arc.c_str()), 0);
    ::unlink((other / "g.txt").c_str());
    EXPECT_EQ(RunUnlha("e -a1cynx1 " + arc + " " + other.path() + "/ \"g.txt\""), 0);
    EXPECT_EQ(ReadFile(other / "g.txt"), "second");
    EXPECT_EQ(RunUnlha("e -a1cynx1 " + arc + " " + t.path() + "/ \"f.txt\""), kUnlhaNoSuchMember);
}

// Adds in a child process that is killed part-way; every earlier member
// must stay extractable and the next add must leave a sound archive.
TEST(UnlhaCrash, KillDuringAddLeavesEarlierMembersAndTheNextAddRepairs) {
    TempDir t;
    WriteFile(t / "big.bin", MixedBytes(24 << 20, 21));
    for (int delayMs : {0, 3, 15, 40, 90, 200}) {
        const std::string arc = t / ("k" + std::to_string(delayMs) + ".lzh");
        for (int i = 0; i < 3; ++i) {
            WriteFile(t / ("e" + std::to_string(i)), "earlier " + std::to_string(i));
            ASSERT_EQ(RunUnlha("u -nd1 " + arc + " " + Quote(t / ("e" + std::to_string(i)))), 0);
        }
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            RunUnlha("u -nd1 " + arc + " " + Quote(t / "big.bin"));
            ::_exit(0);
        }
        ::usleep(static_cast<useconds_t>(delayMs) * 1000);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        UnlhaDropIndexCache();
        for (int i = 0; i < 3; ++i) {
            ::unlink((t / ("e" + std::to_string(i))).c_str());
            EXPECT_EQ(RunUnlha("e -a1cynx1 " + arc + " " + t.path() + "/ \"e" + std::to_string(i) + "\""), 0) << delayMs;
            EXPECT_EQ(ReadFile(t / ("e" + std::to_string(i))), "earlier " + std::to_string(i));
        }
        WriteFile(t / "after", "after the crash");
        ASSERT_EQ(RunUnlha("u -nd1 " + arc + " " + Quote(t / "after")), 0) << delayMs;
        EXPECT_EQ(MemberPaths(arc).back(), Stored(t / "after"));
        EXPECT_EQ(Shell("lhasa t " + ShellQuote(arc) + " >/dev/null 2>&1"), 0) << delayMs;
    }
}

TEST(UnlhaCorrupt, DamagedArchivesGiveErrorCodesNotCrashes) {
    TempDir t;
    MakeDir(t / "s");
    MakeDir(t / "o");
    WriteFile(t / "s/one.txt", MixedBytes(40000, 1));
    WriteFile(t / "s/two.bin", MixedBytes(30000, 2));
    const std::string arc = t / "good.lzh";
    ASSERT_EQ(RunUnlha("u -d1n " + arc + " " + Quote(t / "s/*.*")), 0);
    const std::string good = ReadFile(arc);
    auto tryExtract = [&](const std::string& bytes) {
        WriteFile(t / "bad.lzh", bytes);
        return RunUnlha("e -na1cy " + (t / "bad.lzh") + " " + Quote(t / "o/") + " *.*");
    };
    for (std::size_t cut = 1; cut + 1 < good.size(); cut += 997) EXPECT_NE(tryExtract(good.substr(0, cut)), 0) << cut;
    // Flipped bits: damage to bits that carry nothing may pass, never with wrong content.
    std::mt19937 rng(3);
    int detected = 0;
    for (int i = 0; i < 200; ++i) {
        std::string bad = good;
        std::size_t at = i < 100 ? rng() % 60 : rng() % (good.size() - 1);
        bad[at] ^= static_cast<char>(1 << (rng() % 8));
        if (tryExtract(bad) != 0) {
            ++detected;
        } else {
            EXPECT_TRUE(ReadFile(t / "o/one.txt") == ReadFile(t / "s/one.txt")) << at;
            EXPECT_TRUE(ReadFile(t / "o/two.bin") == ReadFile(t / "s/two.bin")) << at;
        }
    }
    EXPECT_GT(detected, 180);
    // A wrong file CRC (bytes 21-22) in a header whose own CRC (27-28) is
    // patched to match.
    std::string wrongCrc = ArchiveWithPath(t.path().substr(1) + "/o/w.txt", "payload");
    wrongCrc[21] ^= 1;
    std::string h = wrongCrc.substr(0, static_cast<unsigned char>(wrongCrc[0]) | (static_cast<unsigned char>(wrongCrc[1]) << 8));
    h[27] = h[28] = 0;
    const std::uint16_t c = lzh::Crc16Update(0, h.data(), h.size());
    wrongCrc[27] = static_cast<char>(c & 0xFF);
    wrongCrc[28] = static_cast<char>(c >> 8);
    EXPECT_EQ(tryExtract(wrongCrc), kUnlhaCrcMismatch);
    EXPECT_FALSE(Exists(t / "o/w.txt"));
    // A member claiming more data than the file has.
    std::string huge = good;
    huge[7] = huge[8] = huge[9] = huge[10] = '\x7f';
    EXPECT_EQ(tryExtract(huge), kUnlhaNotArchive);
}

}  // namespace
}  // namespace tessel::test
