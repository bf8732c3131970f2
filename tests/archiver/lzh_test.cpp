// LZH archives on their own: the -lh5- and -lh7- codecs (giving up early on
// what does not shrink), tessel-lzh's command line, and archives read and
// written by independent programs.
// Round trips of both methods run here and in the archive tests.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <tuple>

#include "archiver/lzh/codec.h"
#include "archiver/lzh/crc16.h"
#include "archiver_test_util.h"
#include "platform/codepage.h"

namespace tessel::test {
namespace {

// Reads `in` from the front in whatever pieces are asked for.
auto Reader(const std::string& in, std::size_t& pos) {
    return [&in, &pos](void* buf, std::size_t n) -> std::ptrdiff_t {
        const std::size_t take = std::min(n, in.size() - pos);
        std::memcpy(buf, in.data() + pos, take);
        pos += take;
        return static_cast<std::ptrdiff_t>(take);
    };
}

struct Encoded {
    lzh::EncodeResult result;
    std::string bytes;
};

Encoded Encode(const std::string& in, int dictBits, std::uint64_t limit = ~0ull) {
    std::size_t pos = 0;
    Encoded e;
    auto sink = [&](const void* buf, std::size_t n) {
        e.bytes.append(static_cast<const char*>(buf), n);
        return true;
    };
    e.result = lzh::EncodeLh(dictBits, Reader(in, pos), sink, limit);
    return e;
}

lzh::DecodeStatus Decode(const std::string& comp, std::uint64_t size, std::string* out, std::uint16_t* crc, int dictBits) {
    std::size_t pos = 0;
    auto sink = [&](const void* buf, std::size_t n) {
        out->append(static_cast<const char*>(buf), n);
        return out->size() <= size + 1;
    };
    return lzh::DecodeLh(dictBits, Reader(comp, pos), comp.size(), size, sink, crc);
}

// Damaged streams are the codec fuzz target's.
TEST(LhCodec, RoundTripsAndGivesUpEarlyOnWhatDoesNotShrink) {
    EXPECT_EQ(lzh::Crc16Update(0, "123456789", 9), 0xBB3D);
    // Against a bitwise CRC: every length to 600 from odd starts and with a
    // starting value (short, folded and mixed with a tail), and 1 MiB whole.
    auto bitwise = [](std::uint16_t c, const char* p, std::size_t n) {
        for (; n > 0; --n) {
            c ^= static_cast<unsigned char>(*p++);
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
        }
        return c;
    };
    const std::string noise = Noise(1 << 20, 9);
    for (std::size_t n = 0; n <= 600; ++n)
        ASSERT_EQ(lzh::Crc16Update(n * 257, noise.data() + n % 13, n), bitwise(n * 257, noise.data() + n % 13, n)) << n;
    EXPECT_EQ(lzh::Crc16Update(0, noise.data(), noise.size()), bitwise(0, noise.data(), noise.size()));
    EXPECT_NE(Encode("abc", 15).result.status, lzh::EncodeResult::Status::Ok);  // -lh6- is read only
    // The second input repeats its first bytes after a NUL, with a shorter
    // match of the same start before: no match may reach before the data.
    std::string echo = "ABCDEFGHIJKL" + Noise(100, 3) + std::string("\0ABx", 4) + Noise(60, 4) +
                       std::string("\0ABCDEFGHIJKL", 13);
    for (int i = 0; i < 3000; ++i) echo += "xyz";
    for (int dictBits : {13, 16}) {
        Encoded e;
        std::string back;
        std::uint16_t backCrc = 0;
        for (const std::string& in : {MixedBytes(300000, 11), echo}) {
            e = Encode(in, dictBits);
            back.clear();
            ASSERT_EQ(Decode(e.bytes, in.size(), &back, &backCrc, dictBits), lzh::DecodeStatus::Ok);
            EXPECT_TRUE(back == in && backCrc == e.result.crc && e.result.crc == lzh::Crc16Update(0, in.data(), in.size()));
        }
        back.clear();  // an absurd original size ends as damage, not a hang
        EXPECT_EQ(Decode(e.bytes, 1ull << 40, &back, &backCrc, dictBits), lzh::DecodeStatus::Corrupt);
        // Noise: nothing written, reading stops long before the end.
        e = Encode(Noise(3 << 20, 5), dictBits);
        EXPECT_EQ(e.result.status, lzh::EncodeResult::Status::NotSmaller);
        EXPECT_EQ(e.bytes.size(), 0u);
        EXPECT_LT(e.result.originalSize, 1u << 20);
        // Gives up once the output cannot end below the limit (here the
        // size of the noise alone).
        const std::string late = MixedBytes(8000, 4) + Noise(8 << 20, 6);
        e = Encode(late, dictBits, 8 << 20);
        EXPECT_EQ(e.result.status, lzh::EncodeResult::Status::NotSmaller);
        EXPECT_LT(e.bytes.size(), late.size());
    }
}

class Interop : public ::testing::Test {
protected:
    void SetUp() override {
        for (const std::string tool : {"lhasa", "bsdtar", "7z", "jlha"})
            if (Shell("command -v " + tool + " >/dev/null 2>&1") != 0)
                GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
        ASSERT_EQ(Shell("mkdir -p " + ShellQuote(src()) + "/日本語フォルダ " + ShellQuote(src()) + "/sub"), 0);
        files_ = {
            {"日本語フォルダ/ファイル名①.txt", "テスト内容\n"},
            {"sub/mixed.bin", MixedBytes(3 << 20, 5)},  // several blocks and window slides
            {"sub/noise.bin", Noise(100000, 8)},
            {"empty", ""},
            {".hidden", "dot"},
            {"sub/far.txt", std::string()},  // repeats 30 KB back: matches at far distances
            {"sub/big-noise.bin", Noise(700000, 9)},  // stored after a second read, not from the encoder's buffer
        };
        const std::string part = MixedBytes(30000, 9);
        files_[5].second = part + part + part;
        for (const auto& [name, body] : files_) WriteFile(src() + "/" + name, body);
        arc_ = t_ / "ours.lzh";
        ASSERT_EQ(RunUnlha("u -d1n " + arc_ + " " + Quote(src() + "/*.*")), 0);
        // The method each reader must handle: -lh7- for what shrinks, -lh0- for the rest.
        for (const auto& m : Members(arc_)) {
            const bool packed = m.path.ends_with("far.txt") || m.path.ends_with("mixed.bin");
            ASSERT_EQ(m.method, packed ? "-lh7-" : "-lh0-") << m.path;
        }
    }
    std::string src() const { return t_ / "src"; }
    // Where an extraction below `root` puts a file of the source tree.
    std::string Below(const std::string& root, const std::string& name, bool cp932Names) const {
        std::string full = src().substr(1) + "/" + name;
        return root + "/" + (cp932Names ? *Utf8ToCp932(full) : full);
    }

    TempDir t_;
    std::string arc_;
    std::vector<std::pair<std::string, std::string>> files_;
};

TEST_F(Interop, LhasaBsdtarSevenZipAndJlhaExtractOurArchiveAndWeExtractJlhasAtEveryHeaderLevelAndMethod) {
    EXPECT_EQ(Shell("lhasa t " + ShellQuote(arc_) + " >/dev/null 2>&1"), 0);
    // lhasa and 7z keep the stored code page 932 bytes; bsdtar converts;
    // jlha shows them in another character set, so only plain names count.
    enum Names { kCp932, kUtf8, kPlainOnly };
    const std::pair<std::string, Names> tools[] = {
        {"lhasa xq", kCp932},
        {"LC_ALL=C.UTF-8 bsdtar --options hdrcharset=CP932 -xf", kUtf8},
        {"7z x -y", kCp932},
        {"jlha x", kPlainOnly},
    };
    int n = 0;
    for (const auto& [command, names] : tools) {
        const std::string x = t_ / ("x" + std::to_string(++n));
        ASSERT_EQ(Shell("mkdir " + ShellQuote(x) + " && cd " + ShellQuote(x) + " && " + command + " " + ShellQuote(arc_) +
                        " >/dev/null 2>&1"),
                  0) << command;
        for (const auto& [name, body] : files_) {
            if (names == kPlainOnly && name.find("日本語") != std::string::npos) continue;
            const std::string path = Below(x, name, names == kCp932);
            EXPECT_TRUE(std::filesystem::exists(path) && ReadFile(path) == body) << command << ": " << path;
        }
    }
    for (const std::string mode : {"a0", "a1", "a2", "ao5", "ao6", "ao7"}) {
        const std::string jarc = t_ / ("jlha-" + mode + ".lzh");
        // jlha stores the paths it is given: relative ones, from the tree's parent.
        ASSERT_EQ(Shell("cd " + ShellQuote(t_.path()) + " && jlha " + mode + " " + ShellQuote(jarc) +
                        " src/sub/mixed.bin src/sub/noise.bin src/.hidden >/dev/null 2>&1"),
                  0) << mode;
        const std::string out = t_ / ("x-" + mode);
        ASSERT_EQ(RunUnlha("e -na1cy " + jarc + " " + Quote(out + "/") + " *.*"), 0) << mode;
        EXPECT_TRUE(ReadFile(out + "/mixed.bin") == files_[1].second) << mode;
        EXPECT_TRUE(ReadFile(out + "/noise.bin") == files_[2].second) << mode;
        EXPECT_EQ(ReadFile(out + "/.hidden"), "dot") << mode;
    }
}

// tessel-lzh as a user runs it ($L): each command with its exit status and
// its whole output, "…" ending a prefix; then the files extracted. A wrong
// command line is one line that points to the help.
TEST(TesselLzh, AddsListsTestsAndExtractsAndBadUsageSaysWhatIsWrongInOneLine) {
    TempDir t;
    ASSERT_EQ(Shell("mkdir -p " + ShellQuote(t / "in/sub")), 0);
    const std::pair<std::string, std::string> files[] = {
        {"in/a.txt", "hello\n"}, {"in/sub/noise.bin", Noise(3000, 1)}, {"in/sub/text.txt", MixedBytes(50000, 2)}};
    for (const auto& [name, body] : files) {
        WriteFile(t / name, body);
        SetMtime(t / name, 1704164645);  // 2024-01-02 03:04:05 UTC
    }
    const std::string head = "meth        original         packed  modified (UTC)       path\n";
    const std::string all = "$L a arc.lzh in/a.txt in/sub/noise.bin in/sub/text.txt";
    const std::tuple<std::string, int, std::string> cases[] = {
        {all, 0, "3 member(s) added\n"},
        {"$L a --method=lh5 lh5.lzh --jobs 1 in/sub/text.txt", 0, "1 member(s) added\n"},
        {"$L -q a q.lzh in/a.txt && $L x q.lzh qx --quiet && $L t -q q.lzh", 0, ""},
        {"$L a arc.lzh ./arc.lzh", 1, "tessel-lzh: ./arc.lzh: the archive itself (code 8106)\n"},
        {"$L l arc.lzh", 0,
         head + "-lh0-              6              6  2024-01-02 03:04:05  in/a.txt\n"
                "-lh0-           3000           3000  2024-01-02 03:04:05  in/sub/noise.bin\n"
                "-lh7-          50000 …"},
        {"$L l lh5.lzh", 0, head + "-lh5-          50000 …"},
        {"$L t arc.lzh", 0, "ok      in/a.txt\nok      in/sub/noise.bin\nok      in/sub/text.txt\n"},
        {"$L x arc.lzh out", 0, "3 member(s) extracted\n"},
        {"$L t damaged.lzh", 1, "ok      in/a.txt\nFAILED  in/sub/noise.bin\nok      in/sub/text.txt\n"},
        {"$L t header.lzh", 1, "ok      in/a.txt\nFAILED  damaged data after the last member\n"},
        {"$L l missing.lzh", 1, "tessel-lzh: archive not found (code 8101)\n"},
        {"$L", 2, "tessel-lzh: no command given (see tessel-lzh --help)\n"},
        {"$L a --jobs 0 z.lzh in/a.txt", 2,
         "tessel-lzh: --jobs is a number from 1 to 256: 0 (see tessel-lzh a --help)\n"},
        {"$L l arc.lzh >/dev/full", 1, "tessel-lzh: cannot write the output: No space left on device\n"},
    };
    for (const auto& [command, status, expected] : cases) {
        if (command.find("damaged") != std::string::npos) {  // one byte of the stored noise flipped
            std::string bytes = ReadFile(t / "arc.lzh");
            bytes[bytes.find(files[1].second) + 100] ^= 1;
            WriteFile(t / "damaged.lzh", bytes);
        }
        if (command.find("header") != std::string::npos) {  // one byte of the second member's time flipped
            std::string bytes = ReadFile(t / "arc.lzh");
            bytes[Members(t / "arc.lzh").at(1).headerOffset + 15] ^= 1;
            WriteFile(t / "header.lzh", bytes);
        }
        EXPECT_EQ(Shell("cd " + ShellQuote(t.path()) + " && L=" + ShellQuote(std::string(TESSEL_BINARY_DIR) + "/tessel-lzh") +
                        " && (" + command + ") >" + ShellQuote(t / "said") + " 2>&1"),
                  status) << command;
        const std::string said = ReadFile(t / "said");
        const std::size_t cut = expected.find("…");
        EXPECT_EQ(cut == std::string::npos ? said : said.substr(0, cut), expected.substr(0, cut)) << command;
    }
    for (const auto& [name, body] : files) EXPECT_TRUE(ReadFile(t / ("out/" + name)) == body) << name;
    EXPECT_FALSE(std::filesystem::exists(t / "z.lzh"));
}

}  // namespace
}  // namespace tessel::test
