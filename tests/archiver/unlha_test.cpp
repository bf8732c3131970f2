// The archiver against real archives: typed requests, and the command
// lines of Unlha that write them out.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "archiver/archive_ops.h"
#include "archiver/archive_request.h"
#include "archiver/lzh/crc16.h"
#include "archiver_test_util.h"

namespace tessel::test {
namespace {

using namespace archive;

std::string Stored(const std::string& absPath) { return absPath.substr(1); }

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
    for (const char* d : {"X", "Y", "old", "new", "dir with blanks/sub", "dest folder.lzh x"}) std::filesystem::create_directories(t / d);
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
    struct stat st {};
    EXPECT_TRUE(::stat(odd.c_str(), &st) == 0 && st.st_mtime == 1234567890 && (st.st_mode & 0777) == 0640u);
    // A member of that name in another folder is never taken.
    EXPECT_EQ(extract(t / "new", "only.txt"), kUnlhaNoSuchMember);
    EXPECT_TRUE(std::filesystem::is_empty(t / "new"));

    // Times outside what the header holds are clamped, not wrapped.
    const std::string clamped = t / "clamped.lzh";
    for (const auto& [name, seconds] : {std::pair<std::string, time_t>{"1960.txt", -315619200}, {"2128.txt", 5000000000}}) {
        WriteFile(t / name, name);
        SetTime(t / name, seconds);
        ASSERT_EQ(Perform(AddFileRequest(clamped, t / name)), 0);
    }
    EXPECT_EQ(Members(clamped).at(0).mtime, 0);
    EXPECT_EQ(Members(clamped).at(1).mtime, 0xFFFFFFFFLL);
}

// The bulk adds take every regular file (hidden ones too; no links, FIFOs,
// version folders, temporary files or the archive itself, which lies inside
// the folder it takes in) in name order; both extraction forms put them back.
TEST(UnlhaBulk, WithSubdirectoriesEveryRegularFileDirectoryOnlyTheFolderItself) {
    TempDir t;
    const std::string r = t / "DATA";
    for (const std::string& d : {r + "/SUB/DEEP", r + "/d 😀", r + "/BK/V00001", r + "/old/V00007"}) std::filesystem::create_directories(d);
    // Names outside code page 932 and bytes that are not UTF-8 round-trip too.
    const std::vector<std::string> names = {"back\\slash", "emoji 😀 and Ελληνικά", "raw \xff\xfe bytes", "日本語ﾃｽﾄ①.txt"};
    for (const auto& n : names) WriteFile(r + "/d 😀/" + n, "content of " + n);
    const std::string deep = MixedBytes(70000, 2);
    for (const auto& [name, body] : std::vector<std::pair<std::string, std::string>>{
             {"a.txt", "a"}, {".hidden", "dot file"}, {"noext", "no extension"}, {"SUB/b.txt", "b"}, {"SUB/DEEP/c.bin", deep},
             {"old/V00007/bkpcmp.lzh", "a former destination"}, {".tessel-tmp-Ab3dE9", "a safe write in progress"},
             {"BK/.tessel-lzh-x1y2z3", "an extraction in progress"}, {"BK/bkpcmp.lzh.tmp-Q1w2E3", "an archive rewrite"}})
        WriteFile(r + "/" + name, body);
    ASSERT_EQ(::symlink("/etc/passwd", (r + "/link").c_str()), 0);
    ASSERT_EQ(::mkfifo((r + "/fifo").c_str(), 0600), 0);
    const std::string arc = r + "/BK/bkpcmp.lzh", top = t / "top.lzh";
    ASSERT_EQ(RunUnlha("u -d1n " + arc + " " + Quote(r + "/*.*")), 0);
    const auto size = std::filesystem::file_size(arc);
    ASSERT_EQ(RunUnlha("u -d1n " + arc + " " + Quote(r + "/*.*")), 0);  // replaces every member
    ASSERT_EQ(RunUnlha("u -n " + top + " " + Quote(r + "/*.*")), 0);
    // Files by name, then each sub-directory's, also by name.
    std::vector<std::string> expected = {Stored(r + "/.hidden"), Stored(r + "/a.txt"), Stored(r + "/noext"),
                                         Stored(r + "/SUB/b.txt"), Stored(r + "/SUB/DEEP/c.bin")};
    for (const auto& n : names) expected.push_back(Stored(r + "/d 😀/" + n));
    EXPECT_EQ(MemberPaths(arc), expected);
    EXPECT_EQ(std::filesystem::file_size(arc), size);
    EXPECT_EQ(MemberPaths(top), std::vector<std::string>(expected.begin(), expected.begin() + 3));

    // An archive asked to take itself (also by a hard link) or a temporary file.
    const std::string version = r + "/BK/V00001/bkpcmp.lzh";
    ASSERT_EQ(RunUnlha("u -nd1 " + version + " " + Quote(r + "/a.txt")), 0);
    ASSERT_EQ(::link(version.c_str(), (r + "/hard.lzh").c_str()), 0);
    for (const std::string& self : {version, r + "/hard.lzh", r + "/.tessel-tmp-Ab3dE9"})
        EXPECT_EQ(RunUnlha("u -nd1 " + version + " " + Quote(self)), kUnlhaRefusedPath) << self;
    EXPECT_EQ(MemberPaths(version), std::vector<std::string>{Stored(r + "/a.txt")});

    ASSERT_EQ(::rename(arc.c_str(), (t / "bulk.lzh").c_str()), 0);
    std::filesystem::remove_all(r);
    ASSERT_EQ(RunUnlha("e -r2x1a2ncy " + (t / "bulk.lzh") + " *.*"), 0);
    EXPECT_EQ(ReadFile(r + "/.hidden"), "dot file");
    EXPECT_TRUE(ReadFile(r + "/SUB/DEEP/c.bin") == deep);
    for (const auto& n : names) EXPECT_EQ(ReadFile(r + "/d 😀/" + n), "content of " + n);
    WriteFile(r + "/a.txt", "changed");
    ASSERT_EQ(RunUnlha("e -na1cy " + top + " " + Quote(r + "/") + " *.*"), 0);
    EXPECT_EQ(ReadFile(r + "/a.txt"), "a");
    std::filesystem::create_directories(t / "EMPTY");  // an empty archive that extracts to nothing
    ASSERT_EQ(RunUnlha("u -n " + (t / "e.lzh") + " " + Quote(t / "EMPTY/*.*")), 0);
    EXPECT_EQ(RunUnlha("e -na1cy " + (t / "e.lzh") + " " + Quote(t / "EMPTY/") + " *.*"), 0);
}

TEST(UnlhaSafety, DotDotPathsAndLinksAreRefusedAndNothingIsWrittenOutside) {
    TempDir t, outside;
    std::filesystem::create_directories(t / "out/in");
    for (const std::string& bad : {std::string("../escape.txt"), std::string("a/../../escape.txt"), std::string("./")}) {
        WriteFile(t / "evil.lzh", ArchiveWithPath(t.path().substr(1) + "/out/in/" + bad, "payload"));
        UnlhaDropIndexCache();
        EXPECT_EQ(RunUnlha("e -r2x1a2ncy " + (t / "evil.lzh") + " *.*"), kUnlhaRefusedPath) << bad;
        EXPECT_EQ(RunUnlha("e -na1cy " + (t / "evil.lzh") + " " + Quote(t / "out/in/") + " *.*"), kUnlhaRefusedPath) << bad;
    }
    EXPECT_FALSE(Exists(t / "out/escape.txt"));
    EXPECT_TRUE(std::filesystem::is_empty(t / "out/in"));

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

    // A link, dangling or not, at the archive's name is never written through.
    std::filesystem::create_directories(t / "V00000");
    ASSERT_EQ(::symlink((outside / "made.lzh").c_str(), (t / "V00000/bkpcmp.lzh").c_str()), 0);
    EXPECT_EQ(RunUnlha("u -nd1 " + (t / "V00000/bkpcmp.lzh") + " " + Quote(t / "src/a.txt")), kUnlhaCannotWrite);
    EXPECT_TRUE(std::filesystem::is_empty(outside.path()));
    ASSERT_EQ(RunUnlha("u -nd1 " + (outside / "real.lzh") + " " + Quote(t / "src/a.txt")), 0);
    const std::string before = ReadFile(outside / "real.lzh");
    ASSERT_EQ(::symlink((outside / "real.lzh").c_str(), (t / "V00000/linked.lzh").c_str()), 0);
    EXPECT_EQ(RunUnlha("u -nd1 " + (t / "V00000/linked.lzh") + " " + Quote(t / "src/a.txt")), kUnlhaCannotWrite);
    EXPECT_EQ(ReadFile(outside / "real.lzh"), before);
}

// Requests written as command lines read back as the same requests (blanks,
// quotes and ".lzh" inside paths included); what Unlha cannot understand or
// do gives its code, and its report is cut to the buffer.
TEST(UnlhaCommandLine, RequestsRoundTripAndFailuresGiveTheirCodes) {
    TempDir t;
    std::filesystem::create_directories(t / "a.lzh x");
    WriteFile(t / "f.txt", "f");
    const std::string arc = t / "a.lzh x/b c.lzh", missing = t / "new.lzh";
    ASSERT_EQ(Perform(AddFileRequest(arc, t / "f.txt")), 0);
    for (const ArchiveRequest& r :
         {AddFileRequest(arc, t / "-dash \"q\" 日本.txt"), AddFolderRequest(arc, t.path(), true), AddFolderRequest(arc, t / "x.lzh y/", false),
          ExtractAllRequest(arc), ExtractIntoRequest(arc, t / "o p"), ExtractOneRequest(arc, t / "o p", "n \"m\".txt")})
        EXPECT_TRUE(ParseCommandLine(CommandLineOf(r)) == r) << CommandLineOf(r);
    ASSERT_EQ(::symlink((t / "f.txt").c_str(), (t / "link.txt").c_str()), 0);
    WriteFile(t / "text.lzh", "this is not an archive at all, just text");
    const std::pair<std::string, std::int32_t> lines[] = {
        {"x -nd1 " + arc + " " + Quote(t / "f.txt"), kUnlhaBadCommand},
        {"u -nd1 " + arc + " " + t.path() + "/f.txt", kUnlhaBadCommand},  // unquoted
        {"u -nd1 " + t.path() + "/a.zip " + Quote(t / "f.txt"), kUnlhaBadCommand},
        {"u -d1n " + arc + " " + Quote(t.path()), kUnlhaBadCommand},  // no *.*
        {"e -r2x1a2ncy " + missing + " *.*", kUnlhaArchiveMissing},
        {"u -nd1 " + missing + " " + Quote(t / "missing.txt"), kUnlhaCannotReadSource},
        {"u -nd1 " + missing + " " + Quote(t / "link.txt"), kUnlhaCannotReadSource},
        {"u -nd1 " + (t / "text.lzh") + " " + Quote(t / "f.txt"), kUnlhaNotArchive},
    };
    for (const auto& [line, code] : lines) EXPECT_EQ(RunUnlha(line), code) << line;
    EXPECT_FALSE(Exists(missing));  // a failed first add leaves no archive
    EXPECT_EQ(ReadFile(t / "text.lzh"), "this is not an archive at all, just text");
    char small[6];
    std::memset(small, 'X', sizeof small);
    EXPECT_EQ(Unlha(nullptr, "nonsense", small, sizeof small), kUnlhaBadCommand);
    EXPECT_EQ(std::strlen(small), 5u);
}

// The index follows the archive, also one replaced behind the cache's back;
// an index once handed out stays as it was.
TEST(UnlhaCache, FollowsTheArchiveAndHandedOutIndexesStay) {
    TempDir t, other;
    WriteFile(t / "f.txt", "first");
    WriteFile(other / "g.txt", "second");
    const std::string arc = t / "a.lzh";
    ASSERT_EQ(Perform(AddFileRequest(arc, t / "f.txt")), 0);
    std::int32_t code = 0;
    const auto before = LoadIndex(arc, &code);
    ASSERT_EQ(Perform(AddFileRequest(other / "a.lzh", other / "g.txt")), 0);
    ASSERT_EQ(::rename((other / "a.lzh").c_str(), arc.c_str()), 0);
    ::unlink((other / "g.txt").c_str());
    EXPECT_EQ(Perform(ExtractOneRequest(arc, other.path(), "g.txt")), 0);
    EXPECT_EQ(ReadFile(other / "g.txt"), "second");
    EXPECT_EQ(Perform(ExtractOneRequest(arc, t.path(), "f.txt")), kUnlhaNoSuchMember);
    ASSERT_EQ(Perform(AddFileRequest(arc, t / "f.txt")), 0);
    EXPECT_EQ(before->members.at(0).path, Stored(t / "f.txt"));
    EXPECT_EQ(before->members.size(), 1u);
    EXPECT_EQ(LoadIndex(arc, &code)->members.size(), 2u);
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
    std::filesystem::create_directories(t / "s");
    std::filesystem::create_directories(t / "o");
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
