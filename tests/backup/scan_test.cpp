// The walk over the source tree, the start checks and the progress texts.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>

#include "support/backup_fixture.h"

namespace tessel::test {
namespace {

// Breadth first; hidden files taken; (without the flag) subfolders not.
TEST(Scan, WalkOrderAndWhatIsTaken) {
    BackupFixture f;
    for (const char* d : {"A/B", "C"}) MakeDirs(f.src(d));
    for (const char* n : {"root.txt", "A/a.txt", "A/B/b.txt", "C/c.txt", ".profile"}) WriteFile(f.src(n), n);
    f.run("9", "1", 1, "01");
    EXPECT_EQ(f.subdirRows(), (std::vector<std::string>{"9 A A", "9 C C", "9 A/B B"}));
    EXPECT_EQ(RowFiles(f),
              (std::vector<std::string>{".profile", "root.txt", "A/a.txt", "C/c.txt", "A/B/b.txt"}));
    EXPECT_TRUE(f.ui.messages.empty());

    BackupFixture g;
    MakeDirs(g.src("A"));
    WriteFile(g.src("top.txt"), "t");
    WriteFile(g.src("A/deep.txt"), "d");
    g.state.db().exec("INSERT INTO SUBDIR (CHK, FULLNAME, SUBDIR) VALUES ('0', 'stale', 'stale')");
    g.run("1", "1", 0, "1");  // "1" is not "01"
    EXPECT_EQ(RowFiles(g), std::vector<std::string>{"top.txt"});
    EXPECT_TRUE(g.subdirRows().empty());
}

// Missing source or destination; kinds that do not store record "2"; an unmakeable destination stops at step 0.
TEST(Scan, MissingSourceAndDestinationAndACatalogFailure) {
    BackupFixture f;
    f.source = f.data / "gone";
    f.state.db().exec("INSERT INTO SUBDIR (CHK, FULLNAME, SUBDIR) VALUES ('9', 'kept', 'kept')");
    EXPECT_EQ(f.run("9", "1", 1).failures, 1);
    EXPECT_EQ(f.ui.messages, (std::vector<std::string>{"指定されたディレクトリーが見つかりません！ (" + f.source + ")"}));
    EXPECT_EQ(f.subdirRows().size(), 1u);
    EXPECT_TRUE(f.rows().empty());

    for (std::string kind : {"1", "3", "2", "9"}) {
        SCOPED_TRACE(kind);
        BackupFixture g;
        g.options.compression = "1";
        g.destination = g.data / "newdest";
        WriteFile(g.src("a.txt"), "a");
        const BackupResult r = g.run(kind == "9" ? "9" : "1", kind, kind == "9" ? 1 : 0);
        const bool stores = kind == "1" || kind == "3";
        // A destination made on the way is said, but the run has not failed.
        EXPECT_EQ(std::make_tuple(r.failures, r.warnings, r.versionsRecorded, IsDirectory(g.destination), g.archiver.commands.size()),
                  std::make_tuple(0, int(stores), 1, stores, size_t(stores)));
        EXPECT_EQ(g.ui.messages, std::vector<std::string>(stores, "バックアップの指定されたディレクトリーが見つかりません！ (" + g.destination + ")"));
        EXPECT_EQ(g.rows().at(0).kbn1, kind == "1" ? "0" : "2");
    }

    BackupFixture h;
    h.destination = h.data / "no/such/parent";
    WriteFile(h.src("a.txt"), "a");
    h.run("9", "1", 1);
    ASSERT_EQ(h.ui.messages.size(), 3u);
    EXPECT_EQ(h.ui.messages[1], "予期しないエラーが発生した為、処理を中断します。!  step = 0");
    EXPECT_NE(h.ui.messages[2].find(h.destination), std::string::npos);
    EXPECT_TRUE(h.rows().empty());

    // A catalog failure stops the run at the step reached; the rows already added stay, committed.
    BackupFixture c;
    WriteFile(c.src("a.txt"), "a");
    WriteFile(c.src("b.txt"), "b");
    c.state.db().exec("CREATE TRIGGER refuse BEFORE INSERT ON FILEKANRI WHEN NEW.FILENM = 'b.txt' "
                      "BEGIN SELECT RAISE(ABORT, 'row refused'); END");
    c.run("9", "1", 1);
    ASSERT_EQ(c.ui.messages.size(), 2u);
    EXPECT_EQ(c.ui.messages[0], "予期しないエラーが発生した為、処理を中断します。!  step = 6");
    EXPECT_NE(c.ui.messages[1].find("row refused"), std::string::npos);
    EXPECT_EQ(RowFiles(c), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(c.rows()[0].kbn1, "9");
    EXPECT_FALSE(c.inTransaction());
    EXPECT_FALSE(c.ui.waitCursor);
}

TEST(Scan, FoldersAndFilesBeyondThePathLimitAreReportedEvenWhenSilent) {
    BackupFixture f;
    f.options.compression = "1";
    f.options.silent = true;
    WriteFile(f.src("a.txt"), "a");
    // A file whose own path is too long, in the last folder that can still be listed.
    const std::string deep = MakeTooLongFolder(f.source, "far.txt");
    std::string listable = deep;
    while (listable.size() >= PATH_MAX - 1) listable.resize(listable.rfind('/'));
    const std::string name(std::min<size_t>(255, PATH_MAX - listable.size()), 'f');
    int fd = open(f.source.c_str(), O_RDONLY | O_DIRECTORY);
    for (size_t at = f.source.size() + 1; at < listable.size(); at += 201) {
        int next = openat(fd, listable.substr(at, 200).c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
    }
    ASSERT_EQ(close(openat(fd, name.c_str(), O_WRONLY | O_CREAT, 0644)), 0);
    close(fd);

    const BackupResult result = f.run("9", "1", 1, "01");
    const std::string unlistable = listable + "/" + std::string(200, 'd');
    EXPECT_EQ(f.ui.messages, (std::vector<std::string>{
                                 "パスが長すぎるため、ファイルをバックアップできません！ (" + listable + "/" + name + ")\nFile name too long",
                                 "ディレクトリーを読み取れないため、その中のファイルはバックアップされません！ (" + unlistable +
                                     ")\nFile name too long"}));
    EXPECT_EQ(result.failures, 2);
    EXPECT_TRUE(f.ui.statusHistory.empty()) << "a silent run shows no progress";
    EXPECT_EQ(f.rows().back().filenm, name);
    EXPECT_FALSE(f.rows().back().fsize.has_value());
}

}  // namespace
}  // namespace tessel::test
