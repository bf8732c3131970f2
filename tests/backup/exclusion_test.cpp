// What the user leaves out of a backup: the pattern table, and the scan of a
// tree with every kind of entry that is left out, counted by reason.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "backup/backup_summary.h"
#include "catalog/scan_rules.h"
#include "core/exclusion_patterns.h"
#include "support/backup_fixture.h"

namespace tessel {
namespace {

using test::BackupFixture;
using test::MakeDirs;
using test::WriteFile;

// Each syntax form against paths it must and must not leave out. `by` is
// the pattern that decides ("" when the entry is taken).
struct Case {
    std::vector<std::string> patterns;
    std::string path;
    bool folder;
    std::string by;
};

TEST(ExclusionPatterns, EachFormAnchoringReincludeAndAnyBytes) {
    const std::string bad = "caf\xC3\x28 \xFF\xFE";  // not UTF-8
    const Case cases[] = {
        // A name without "/" matches at any depth, files and folders alike.
        {{"*.tmp"}, "deep/er/a.tmp", false, "*.tmp"},
        {{"*.tmp"}, "a.tmp.txt", false, ""},
        {{"*.tmp"}, "x.tmp/inside", false, ""},  // the name alone is matched
        {{"node_modules"}, "web/node_modules", true, "node_modules"},
        // "*" never crosses "/", "?" is one character (a Japanese one too).
        {{"/a*/x"}, "ab/x", false, "/a*/x"},
        {{"/a*/x"}, "a/b/x", false, ""},
        {{"?.log"}, "12.log", false, ""},
        {{"?.log"}, "日.log", false, "?.log"},
        {{"??.log"}, "日.log", false, ""},
        // A final "/" is for folders only.
        {{"build/"}, "build", false, ""},
        {{"build/"}, "src/build", true, "build/"},
        // A "/" at the start or inside anchors at the source.
        {{"/build"}, "build", true, "/build"},
        {{"/build"}, "src/build", true, ""},
        {{"doc/*.pdf"}, "doc/a.pdf", false, "doc/*.pdf"},
        {{"doc/*.pdf"}, "x/doc/a.pdf", false, ""},
        // "**": any folders, none included; everything inside.
        {{"**/cache"}, "cache", true, "**/cache"},
        {{"a/**/z"}, "a/z", false, "a/**/z"},
        {{"a/**/z"}, "a/b/c/z", false, "a/**/z"},
        {{"a/**/z"}, "ab/z", false, ""},
        {{"logs/**"}, "logs/x/y.txt", false, "logs/**"},
        {{"logs/**"}, "logs", true, ""},
        {{"a*b*c*d"}, std::string(200, 'a') + "bcx", false, ""},  // many stars stay cheap
        {{"a*b*c*d"}, "a-b-c-d", false, "a*b*c*d"},
        // "!" takes back what earlier patterns left out; the last match decides.
        {{"*.log", "!keep.log"}, "keep.log", false, ""},
        {{"!keep.log", "*.log"}, "keep.log", false, "*.log"},
        // Blanks: inside a name they count; trailing ones are dropped unless escaped.
        {{"my file.txt"}, "dir/my file.txt", false, "my file.txt"},
        {{"x.txt  "}, "x.txt", false, "x.txt  "},
        {{"x.txt\\ "}, "x.txt ", false, "x.txt\\ "},
        {{"x.txt\\ "}, "x.txt", false, ""},
        // Escapes and ordinary characters.
        {{"\\!important"}, "!important", false, "\\!important"},
        {{"\\*"}, "*", false, "\\*"},
        {{"\\*"}, "a", false, ""},
        {{"[ab].txt"}, "[ab].txt", false, "[ab].txt"},
        {{"[ab].txt"}, "a.txt", false, ""},
        // Japanese names and bytes that are not UTF-8 match byte for byte.
        {{"*.一時"}, "メモ.一時", false, "*.一時"},
        {{bad}, "d/" + bad, false, bad},
        {{"caf?("}, "caf\xC3(", false, "caf?("},
        // Patterns that cannot be used match nothing.
        {{"a//b"}, "a/b", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.patterns.back() + " / " + c.path);
        const ExclusionPatterns compiled(c.patterns);
        const std::string* by = compiled.excludedBy(c.path, c.folder);
        EXPECT_EQ(by ? *by : "", c.by);
    }

    const std::pair<std::string, std::string> refused[] = {
        {"   ", "パターンに名前がありません"},
        {"!", "パターンに名前がありません"},
        {"/", "パターンに名前がありません"},
        {"a//b", "パターンに空の部分 (//) があります"},
        {"../x", "パターンの「.」や「..」の部分はどの名前にも当たりません"},
        {"end\\", "パターンの最後の \\ の後に文字がありません"},
        {std::string("a\0b", 3), "パターンに NUL 文字があります"},
    };
    for (const auto& [pattern, why] : refused) EXPECT_EQ(PatternProblem(pattern).value_or("usable"), why) << pattern;
    for (const char* fine : {"a\\\\", "\\ ", "!x/", "/a/b/", "**", bad.c_str()}) EXPECT_FALSE(PatternProblem(fine)) << fine;
}

// Every report entry of a run, by kind.
struct RecordingReport : RunReport {
    std::vector<std::string> skipped;
    void entry(RunEntry kind, const std::string& text, bool) override {
        if (kind == RunEntry::kSkipped) skipped.push_back(text);
    }
};

const std::string kTag = "Signature: 8a477f597d28d172789f06886806bc55";

// The data folder's patterns and registration 1's patterns and choices, in one transaction.
void WriteScan(BackupFixture& f, const std::vector<std::string>& common, const std::vector<std::string>& own,
               bool hiddenFolders, bool cacheFolders) {
    Transaction t(f.state.db());
    WriteScanPatterns(f.state.db(), kWholeDataFolder, common);
    WriteScanPatterns(f.state.db(), 1, own);
    WriteScanOptions(f.state.db(), 1, hiddenFolders, cacheFolders);
    t.commit();
}

// A home folder: dot-folders, caches (a valid tag, a short one, a tag that is
// a link), node_modules, a link, a FIFO and a socket. The registration's
// choices and the data folder's patterns decide; each entry left out is
// named once with its reason, and the counts are in the summary.
TEST(ScanLeavesOut, EveryKindOfEntryIsCountedByReasonAndNamedOnce) {
    for (bool hidden : {false, true}) {
        SCOPED_TRACE(hidden);
        BackupFixture f;
        RecordingReport report;
        f.options.report = &report;
        for (const char* d : {".config/app", ".cache/thumbs", "web/node_modules/pkg", "build/out", "tagged", "short", "tag-link",
                              "notes"})
            MakeDirs(f.src(d));
        for (const char* n : {".config/app/settings", ".cache/thumbs/t.png", "web/node_modules/pkg/i.js", "web/app.js",
                              "build/out/a.o", "tagged/blob", "short/blob", "tag-link/blob", "notes/a.tmp", "notes/keep.tmp",
                              "notes/日本語 メモ.txt", ".profile"})
            WriteFile(f.src(n), "x");
        WriteFile(f.src(".cache/CACHEDIR.TAG"), kTag + "\n# a cache\n");
        WriteFile(f.src("tagged/CACHEDIR.TAG"), kTag);
        WriteFile(f.src("short/CACHEDIR.TAG"), kTag.substr(0, 42));
        ASSERT_EQ(symlink(f.src("tagged/CACHEDIR.TAG").c_str(), f.src("tag-link/CACHEDIR.TAG").c_str()), 0);
        ASSERT_EQ(symlink("notes", f.src("link").c_str()), 0);
        ASSERT_EQ(mkfifo(f.src("notes/pipe").c_str(), 0644), 0);
        ASSERT_EQ(mknod(f.src("sock").c_str(), S_IFSOCK | 0644, 0), 0);
        WriteScan(f, {"*.tmp", "node_modules/"}, {"!keep.tmp", "/build/"}, hidden, false);
        const BackupResult r = f.run("9", "1", 1, "01");

        std::vector<std::string> expected{".profile",   "notes/keep.tmp", "notes/日本語 メモ.txt",
                                          "short/blob", "short/CACHEDIR.TAG", "tag-link/blob", "web/app.js"};
        if (hidden) expected.push_back(".config/app/settings");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(RowFiles(f, true), expected);

        std::vector<std::string> named{
            "除外パターン「/build/」に当たるため、バックアップしません (" + f.src("build") + ")",
            "シンボリックリンクはバックアップしません (" + f.src("link") + ")",
            "通常のファイルでもディレクトリーでもないため、バックアップしません (" + f.src("sock") + ")",
            "キャッシュディレクトリー (CACHEDIR.TAG) のため、その中はバックアップしません (" + f.src("tagged") + ")",
            "除外パターン「*.tmp」に当たるため、バックアップしません (" + f.src("notes/a.tmp") + ")",
            "通常のファイルでもディレクトリーでもないため、バックアップしません (" + f.src("notes/pipe") + ")",
            "シンボリックリンクはバックアップしません (" + f.src("tag-link/CACHEDIR.TAG") + ")",
            "除外パターン「node_modules/」に当たるため、バックアップしません (" + f.src("web/node_modules") + ")",
        };
        if (hidden)
            named.insert(named.begin(), "キャッシュディレクトリー (CACHEDIR.TAG) のため、その中はバックアップしません (" +
                                            f.src(".cache") + ")");
        else
            named.insert(named.begin(), {"隠しディレクトリーのため、その中はバックアップしません (" + f.src(".cache") + ")",
                                         "隠しディレクトリーのため、その中はバックアップしません (" + f.src(".config") + ")"});
        EXPECT_EQ(report.skipped, named);
        EXPECT_EQ(r.skipped, static_cast<std::int64_t>(named.size()));
        EXPECT_EQ(r.leftOut, (LeftOutCounts{3, hidden ? 2 : 1, hidden ? 0 : 2, 2, 2, 0}));
        EXPECT_EQ(SummaryText(r), "ディレクトリー 1、調べたファイル " + std::to_string(r.filesExamined) + "、記録した版 " +
                                      std::to_string(expected.size()) + "、保存した版 " + std::to_string(expected.size()) + "、警告 0、失敗 0、対象外 " +
                                      std::to_string(named.size()) + "（除外パターン 3、キャッシュ " + (hidden ? "2" : "1") +
                                      (hidden ? "" : "、隠しディレクトリー 2") + "、リンク 2、特殊ファイル 2）");
        EXPECT_TRUE(f.ui.messages.empty());
    }

    // Caches are taken when the registration says so.
    BackupFixture h;
    MakeDirs(h.src("tagged"));
    WriteFile(h.src("tagged/CACHEDIR.TAG"), kTag);
    WriteFile(h.src("tagged/blob"), "x");
    WriteScan(h, {}, {}, false, true);
    EXPECT_EQ(h.run("9", "1", 1, "01").skipped, 0);
    EXPECT_EQ(RowFiles(h, true), (std::vector<std::string>{"tagged/CACHEDIR.TAG", "tagged/blob"}));
}

}  // namespace
}  // namespace tessel
