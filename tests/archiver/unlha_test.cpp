// The archiver against real archives: typed requests, and the command
// lines of Unlha that write them out.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <filesystem>

#include "archiver/archive_ops.h"
#include "platform/safe_write.h"
#include "archiver_test_util.h"

// A disk failing under one file: reads of the file with inode gFailingInode
// that reach gFailingFrom fail with EIO (this definition stands in for the
// C library's in the whole test program).
ino_t gFailingInode = 0;
off_t gFailingFrom = 0;
extern "C" ssize_t pread(int fd, void* buf, size_t n, off_t off) {
    struct stat st {};
    if (gFailingInode != 0 && off + static_cast<off_t>(n) > gFailingFrom && ::fstat(fd, &st) == 0 &&
        st.st_ino == gFailingInode) {
        errno = EIO;
        return -1;
    }
    return ::syscall(SYS_pread64, fd, buf, n, off);
}

namespace tessel::test {
namespace {

using namespace archive;

// Same names from two folders are two members and a replaced one goes last;
// each comes back into its own folder with its time and mode, over a
// read-only file and over a link without writing through it; a member of
// that name in another folder is never taken.
TEST(UnlhaPerFile, FullPathsReplacementTheExactMemberTimesModesAndNoLinkFollowed) {
    TempDir t, outside;
    for (const char* d : {"X", "Y", "new", "dest folder.lzh x"}) std::filesystem::create_directories(t / d);
    const std::string x = t / "X/a.txt", y = t / "Y/a.txt", body = MixedBytes(200000, 4);
    WriteFile(x, "from X");
    WriteFile(y, body);
    ::chmod(y.c_str(), 0640);
    SetMtime(y, 1234567890);
    const std::string arc = t / "dest folder.lzh x/bkpcmp.lzh";
    auto add = [&](const std::string& path) { return RunUnlha("u -nd1 " + arc + " " + Quote(path)); };
    auto extract = [&](const std::string& dir) { return RunUnlha("e -a1cynx1 " + arc + " " + dir + "/ \"a.txt\""); };
    ASSERT_EQ(add(x), 0);
    ASSERT_EQ(add(y), 0);
    WriteFile(x, "version 2, longer than before");
    ASSERT_EQ(add(x), 0);
    EXPECT_EQ(MemberPaths(arc), (std::vector<std::string>{MemberPath(y), MemberPath(x)}));
    EXPECT_EQ(Members(arc).at(0).method, "-lh7-");

    WriteFile(outside / "victim", "untouched");
    ::unlink(x.c_str());
    ASSERT_EQ(::symlink((outside / "victim").c_str(), x.c_str()), 0);
    WriteFile(y, "overwritten");
    ::chmod(y.c_str(), 0444);
    EXPECT_EQ(extract(t / "X"), 0);
    EXPECT_EQ(extract(t / "Y"), 0);
    EXPECT_EQ(ReadFile(x), "version 2, longer than before");
    EXPECT_EQ(ReadFile(outside / "victim"), "untouched");
    EXPECT_TRUE(ReadFile(y) == body);
    struct stat st {};
    EXPECT_TRUE(::stat(y.c_str(), &st) == 0 && st.st_mtime == 1234567890 && (st.st_mode & 0777) == 0640u);
    EXPECT_EQ(extract(t / "new"), kUnlhaNoSuchMember);
    EXPECT_TRUE(std::filesystem::is_empty(t / "new"));
}

// The bulk adds take every regular file, hidden ones and names that look
// like the program's own (version folders, archives, temporary files)
// included, in name order; never links, FIFOs or the archive itself, which
// lies inside the folder it takes in. A name no archive reader would take
// is left out with a report line and fails the add after the others are
// in. The whole-tree extraction puts them back.
TEST(UnlhaBulk, WithSubdirectoriesEveryRegularFileDirectoryOnlyTheFolderItself) {
    TempDir t;
    const std::string r = t / "DATA";
    for (const std::string& d : {r + "/SUB/DEEP", r + "/d 😀", r + "/BK/V00001", r + "/old/V00007"}) std::filesystem::create_directories(d);
    // Names outside code page 932 and bytes that are not UTF-8 round-trip too.
    const std::vector<std::string> names = {"emoji 😀 and Ελληνικά", "raw \xff\xfe bytes", "日本語ﾃｽﾄ①.txt"};
    for (const auto& n : names) WriteFile(r + "/d 😀/" + n, "content of " + n);
    const std::string deep = MixedBytes(70000, 2);
    for (const auto& [name, body] : std::vector<std::pair<std::string, std::string>>{
             {"a.txt", "a"}, {".hidden", "dot file"}, {"noext", "no extension"}, {"SUB/b.txt", "b"}, {"SUB/DEEP/c.bin", deep},
             {"old/V00007/bkpcmp.lzh", "a former destination"}, {".tessel-tmp-Ab3dE9", "looks like a safe write"},
             {"BK/.tessel-lzh-x1y2z3", "looks like an extraction"}, {"BK/bkpcmp.lzh.tmp-Q1w2E3", "looks like a rewrite"}})
        WriteFile(r + "/" + name, body);
    ASSERT_EQ(::symlink("/etc/passwd", (r + "/link").c_str()), 0);
    ASSERT_EQ(::mkfifo((r + "/fifo").c_str(), 0600), 0);
    const std::string arc = r + "/BK/bkpcmp.lzh", top = t / "top.lzh";
    ASSERT_EQ(RunUnlha("u -d1n " + arc + " " + Quote(r + "/*.*")), 0);
    const auto size = std::filesystem::file_size(arc);
    ASSERT_EQ(RunUnlha("u -d1n " + arc + " " + Quote(r + "/*.*")), 0);  // replaces every member
    ASSERT_EQ(RunUnlha("u -n " + top + " " + Quote(r + "/*.*")), 0);
    // Files by name, then each sub-directory's, also by name.
    std::vector<std::string> expected;
    for (const char* f : {".hidden", ".tessel-tmp-Ab3dE9", "a.txt", "noext", "BK/.tessel-lzh-x1y2z3",
                          "BK/bkpcmp.lzh.tmp-Q1w2E3", "SUB/b.txt", "SUB/DEEP/c.bin"})
        expected.push_back(MemberPath(r + "/" + f));
    for (const auto& n : names) expected.push_back(MemberPath(r + "/d 😀/" + n));
    expected.push_back(MemberPath(r + "/old/V00007/bkpcmp.lzh"));
    EXPECT_EQ(MemberPaths(arc), expected);
    EXPECT_EQ(std::filesystem::file_size(arc), size);
    EXPECT_EQ(MemberPaths(top), std::vector<std::string>(expected.begin(), expected.begin() + 4));

    // Names with a backslash or a control byte: the rest goes in.
    const std::string odd = t / "ODD";
    std::filesystem::create_directories(odd);
    for (const std::string& n : {std::string("back\\slash"), std::string("tab\there"), std::string("ok")}) WriteFile(odd + "/" + n, n);
    std::vector<char> out(4096);
    EXPECT_EQ(Unlha("TEST", ("u -n " + (t / "odd.lzh") + " " + Quote(odd + "/*.*")).c_str(), out.data(), out.size()),
              kUnlhaRefusedPath);
    EXPECT_EQ(MemberPaths(t / "odd.lzh"), std::vector<std::string>{MemberPath(odd + "/ok")});
    EXPECT_NE(std::string(out.data()).find("skipped " + odd + "/back\\\\slash: "), std::string::npos) << out.data();
    EXPECT_NE(std::string(out.data()).find("skipped " + odd + "/tab\\x09here: "), std::string::npos) << out.data();

    // An archive asked to take itself (also by a hard link); a name that
    // looks like a temporary file is just a name.
    const std::string version = r + "/BK/V00001/bkpcmp.lzh";
    ASSERT_EQ(RunUnlha("u -nd1 " + version + " " + Quote(r + "/a.txt")), 0);
    ASSERT_EQ(::link(version.c_str(), (r + "/hard.lzh").c_str()), 0);
    for (const std::string& self : {version, r + "/hard.lzh"})
        EXPECT_EQ(RunUnlha("u -nd1 " + version + " " + Quote(self)), kUnlhaRefusedPath) << self;
    EXPECT_EQ(RunUnlha("u -nd1 " + version + " " + Quote(r + "/.tessel-tmp-Ab3dE9")), 0);
    EXPECT_EQ(MemberPaths(version),
              (std::vector<std::string>{MemberPath(r + "/a.txt"), MemberPath(r + "/.tessel-tmp-Ab3dE9")}));

    ASSERT_EQ(::rename(arc.c_str(), (t / "bulk.lzh").c_str()), 0);
    std::filesystem::remove_all(r);
    ASSERT_EQ(RunUnlha("e -r2x1a2ncy " + (t / "bulk.lzh") + " *.*"), 0);
    EXPECT_EQ(ReadFile(r + "/.hidden"), "dot file");
    EXPECT_TRUE(ReadFile(r + "/SUB/DEEP/c.bin") == deep);
    for (const auto& n : names) EXPECT_EQ(ReadFile(r + "/d 😀/" + n), "content of " + n);
}

TEST(UnlhaSafety, LinksAreNeverFollowedAndANameIsNeverAPath) {
    TempDir t, outside;
    std::filesystem::create_directories(t / "out");
    std::filesystem::create_directories(t / "src/L");
    WriteFile(t / "src/L/x.txt", "x");
    WriteFile(t / "src/a.txt", "a");
    const std::string arc = t / "a.lzh";
    ASSERT_EQ(RunUnlha("u -d1n " + arc + " " + Quote(t / "src/*.*")), 0);
    // A per-file name is a name, never a path.
    EXPECT_EQ(RunUnlha("e -a1cynx1 " + arc + " " + t.path() + "/out/ \"..\""), kUnlhaRefusedPath);

    // The directory-only form: the sub-directory replaced by a link.
    ASSERT_EQ(Shell("rm -r " + ShellQuote(t / "src/L") + " " + ShellQuote(t / "src/a.txt")), 0);
    ASSERT_EQ(::symlink(outside.path().c_str(), (t / "src/L").c_str()), 0);
    EXPECT_EQ(RunUnlha("e -na1cy " + arc + " " + Quote(t / "src/") + " *.*"), kUnlhaRefusedPath);
    EXPECT_TRUE(std::filesystem::is_empty(outside.path()));
    EXPECT_EQ(ReadFile(t / "src/a.txt"), "a");

    // A dangling link at the archive's name is never written through.
    std::filesystem::create_directories(t / "V00000");
    ASSERT_EQ(::symlink((outside / "made.lzh").c_str(), (t / "V00000/bkpcmp.lzh").c_str()), 0);
    EXPECT_EQ(RunUnlha("u -nd1 " + (t / "V00000/bkpcmp.lzh") + " " + Quote(t / "src/a.txt")), kUnlhaRefusedPath);
    EXPECT_TRUE(std::filesystem::is_empty(outside.path()));
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
        EXPECT_EQ(MemberPaths(arc).back(), MemberPath(t / "after"));
        EXPECT_EQ(Shell("lhasa t " + ShellQuote(arc) + " >/dev/null 2>&1"), 0) << delayMs;
    }
}

// Damage in the middle (a member's header no longer reads, or reads as the
// end mark, members behind it) is not an interrupted add: nothing is added
// to or dropped from such an archive, and its bytes stay exactly as they
// were for a repair to find the members behind the damage. What an add that
// did not finish leaves behind the end mark (its mark in the header's
// place, or, from older builds, zeros there and no header behind) is cut.
TEST(UnlhaCrash, DamageInTheMiddleIsNeverCutOff) {
    TempDir t;
    const std::string arc = t / "d.lzh";
    for (int i = 0; i < 3; ++i) {
        WriteFile(t / ("m" + std::to_string(i)), "member " + std::to_string(i));
        ASSERT_EQ(RunUnlha("u -nd1 " + arc + " " + Quote(t / ("m" + std::to_string(i)))), 0);
    }
    const lzh::Member m1 = Members(arc).at(1);
    const std::string whole = ReadFile(arc);
    // The second member's first header byte changed, or its whole header zeroed.
    for (const std::uint64_t length : {std::uint64_t{1}, m1.dataOffset - m1.headerOffset}) {
        SCOPED_TRACE(length);
        UnlhaDropIndexCache();
        std::string bytes = whole;
        for (std::uint64_t k = m1.headerOffset; k < m1.headerOffset + length; ++k)
            bytes[k] = length > 1 ? '\0' : static_cast<char>(bytes[k] ^ 0x5A);
        WriteFile(arc, bytes);
        WriteFile(t / "after", "after the damage");
        EXPECT_EQ(RunUnlha("u -nd1 " + arc + " " + Quote(t / "after")), kUnlhaNotArchive);
        WriteRoot root(t.path(), {});
        EXPECT_EQ(DropMembers(root, "d.lzh", {MemberPath(t / "m0")}), kUnlhaNotArchive);
        EXPECT_EQ(ReadFile(arc), bytes);
    }
    // The archive ends in its end mark, the first byte of each tail.
    for (const std::string& tail : {std::string(lzh::kAddInProgress) + "data", std::string(30, '\0') + "data"}) {
        UnlhaDropIndexCache();
        WriteFile(arc, whole + tail.substr(1));
        ASSERT_EQ(RunUnlha("u -nd1 " + arc + " " + Quote(t / "after")), 0) << tail.size();
        EXPECT_EQ(MemberPaths(arc),
                  (std::vector<std::string>{MemberPath(t / "m0"), MemberPath(t / "m1"), MemberPath(t / "m2"),
                                            MemberPath(t / "after")}));
        EXPECT_EQ(Shell("lhasa t " + ShellQuote(arc) + " >/dev/null 2>&1"), 0);
    }
    // A read that fails half-way is the disk failing, not damage: a member
    // before it is found, one behind it cannot be read, nothing is added.
    WriteFile(arc, whole);
    UnlhaDropIndexCache();
    const std::vector<lzh::Member> all = Members(arc);
    struct stat st {};
    ASSERT_EQ(::stat(arc.c_str(), &st), 0);
    gFailingInode = st.st_ino;
    for (const std::uint64_t from : {m1.headerOffset + 1, all[2].dataOffset}) {
        SCOPED_TRACE(from);
        UnlhaDropIndexCache();
        gFailingFrom = static_cast<off_t>(from);
        lzh::Member m;
        EXPECT_EQ(FindMember(arc, MemberPath(t / "m0"), &m), kUnlhaOk);
        EXPECT_EQ(FindMember(arc, MemberPath(t / "m2"), &m), from == all[2].dataOffset ? kUnlhaOk : kUnlhaCannotReadArchive);
        std::vector<std::int32_t> tested;
        EXPECT_EQ(TestMembers(arc, {&all[0], &all[2]}, [&](std::size_t, std::int32_t rc) { tested.push_back(rc); }), 0);
        EXPECT_EQ(tested, (std::vector<std::int32_t>{kUnlhaOk, kUnlhaCannotReadArchive}));
        EXPECT_EQ(RunUnlha("u -nd1 " + arc + " " + Quote(t / "after")), kUnlhaCannotReadArchive);
    }
    gFailingInode = 0;
    EXPECT_EQ(ReadFile(arc), whole);
}

}  // namespace
}  // namespace tessel::test
