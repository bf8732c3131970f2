// Opening and clicking the inquiry windows on a catalog of 1,000,000 file
// versions, offscreen. Usage: inquiry_bench [catalog]  (the catalog is
// built from the template when the file does not exist yet, and kept).
//
// The catalog: 20 registered directories of 25,000 files each (in 50
// sub-folders), an initial backup (run 0) that recorded all 500,000, then
// 50 runs that recorded 10,000 changed files each (500 per directory), so
// every file has two versions; about 1% of the versions carry KBN1 "9" and
// 0.5% "8".
#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTableView>
#include <QTest>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "catalog/connection.h"
#include "inquiry/BKPFIND1.h"
#include "inquiry/BKPFIND2.h"
#include "inquiry/BKPFIND3.h"
#include "core/system_services.h"
#include "engine/shared_state.h"
#include "ui/app_context.h"
#include "ui/sql_grid_model.h"

namespace {

using namespace tessel;

struct SilentUi : UserInterface {
    void showMessage(const std::string& text) override { std::fprintf(stderr, "message: %s\n", text.c_str()); }
    bool askYesNo(const std::string&) override { return false; }
    void setStatus(const std::string&, const std::string&) override {}
    void setWaitCursor(bool) override {}
};
struct NoSystem : SystemServices {
    void powerOff() override {}
};

constexpr int kDirs = 20, kFilesPerDir = 25000, kRuns = 50, kChangedPerDirPerRun = 500;

void BuildCatalog(const std::string& path) {
    std::filesystem::copy_file(TESSEL_TEMPLATE, path);
    auto db = Connection::openFile(path);
    Transaction t(*db);
    db->exec("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES (0, '/backup', NULL, '0', 'PREFIX', '1', NULL, NULL)");
    for (int d = 1; d <= kDirs; ++d)
        db->prepare("INSERT INTO BKPDIR (DIRNO, DIR, BKPDIR, KBN, BIKOU, ABKP, CHK1, CHK2) VALUES (?1, ?2, ?3, '1', NULL, '1', '1', '01')")
            .bind(1, d).bind(2, "/home/user/data" + std::to_string(d)).bind(3, "/backup/data" + std::to_string(d)).run();
    for (int r = 1; r <= kRuns; ++r)
        db->prepare("INSERT INTO BKPNAME (BKPNO, BKPNAME, KBN, DAY1, TIME1) VALUES (?1, ?2, '1', '2024-02-01', '21:00:00')")
            .bind(1, r).bind(2, "定期バックアップ " + std::to_string(r)).run();
    Statement add = db->prepare(
        "INSERT INTO FILEKANRI (BKPNO, DIRNO, LVL, DIR, FILENM, FUPDAYD, FUPTIMED, FSIZE, FVERNO, PVERNO, KBN1, CHK1) "
        "VALUES (?1, ?2, ?3, ?4, ?5, '2024年2月1日(木)', '21時0分0秒', ?6, ' ', ' ', ?7, ?8)");
    auto put = [&](int run, int dir, int file, int lvl, const char* chk1) {
        std::string folder = "/home/user/data" + std::to_string(dir) + "/sub" + std::to_string(file % 50) + "/";
        char name[32];
        std::snprintf(name, sizeof name, "file%06d.dat", file);
        int h = (file * 7919 + run * 104729 + dir) % 1000;
        const char* kbn1 = h < 10 ? "9" : h < 15 ? "8" : "0";
        add.bind(1, run).bind(2, dir).bind(3, lvl).bind(4, folder).bind(5, std::string(name)).bind(6, 1000 + file)
            .bind(7, kbn1).bind(8, chk1);
        add.run();
        add.reset();
    };
    for (int d = 1; d <= kDirs; ++d)
        for (int f = 0; f < kFilesPerDir; ++f) put(0, d, f, 0, "0");
    for (int r = 1; r <= kRuns; ++r)
        for (int d = 1; d <= kDirs; ++d)
            for (int k = 0; k < kChangedPerDirPerRun; ++k) put(r, d, (r - 1) * kChangedPerDirPerRun + k, 1, "1");
    db->exec("UPDATE AUTODEF SET BKPNO = 50, DIRNO = 20");
    t.commit();
}

double Ms(QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }

void ClickRow(QTableView* grid, int row) {
    grid->scrollTo(grid->model()->index(row, 1));
    QRect cell = grid->visualRect(grid->model()->index(row, 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

template <class W>
void Measure(AppContext& ctx, const char* name, const std::vector<int>& rows, bool errorsOnly = false) {
    QElapsedTimer t;
    t.start();
    W& w = ctx.window<W>();
    w.open();
    QApplication::processEvents();
    w.repaint();
    auto* versions = w.template findChild<QTableView*>("DataGrid1");
    auto* upper = w.template findChild<QTableView*>("DataGrid2");
    std::printf("%-9s open (both grids filled and painted): %8.1f ms, %d version rows fetched\n", name, Ms(t),
                versions->model()->rowCount());
    if (errorsOnly) w.template findChild<QListWidget*>("KBNNM")->setCurrentRow(1);
    for (int row : rows) {
        t.restart();
        ClickRow(upper, row);
        QApplication::processEvents();
        w.repaint();
        std::printf("%-9s click on upper row %2d%s: %8.1f ms, %d version rows fetched, first: %s\n", name, row,
                    errorsOnly ? " (errors only)" : "", Ms(t), versions->model()->rowCount(),
                    versions->model()->data(versions->model()->index(0, 4)).toString().toUtf8().constData());
    }
    // Scrolling to the end fetches page after page as they are shown.
    t.restart();
    for (int i = 0; i < 20; ++i) {
        versions->scrollToBottom();
        QApplication::processEvents();
    }
    std::printf("%-9s 20 scrolls to the bottom: %8.1f ms, %d rows fetched\n", name, Ms(t), versions->model()->rowCount());
    w.close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::string path = argc > 1 ? argv[1] : (std::filesystem::temp_directory_path() / "inquiry_bench.mdb").string();
    if (!std::filesystem::exists(path)) {
        QElapsedTimer t;
        t.start();
        BuildCatalog(path);
        std::printf("catalog built in %.1f s: %s\n", t.nsecsElapsed() / 1e9, path.c_str());
    }
    SilentUi ui;
    NoSystem system;
    SharedState state(ui, system);
    state.dataFolder = std::filesystem::path(path).parent_path().string();
    state.catalog = Connection::openFile(path);
    Statement count = state.db().prepare("SELECT count(*) FROM FILEKANRI");
    count.step();
    std::printf("FILEKANRI rows: %lld\n", static_cast<long long>(count.int64(0)));
    InstanceLock lock(state.dataFolder + "/inquiry_bench.lock");
    AppContext ctx(state, lock, [](int) {});

    // Runs grid: run 1 .. 50 (run 0 has no BKPNAME row); directories 1 .. 20.
    Measure<BKPFIND1>(ctx, "BKPFIND1", {0, 25, 49});
    Measure<BKPFIND2>(ctx, "BKPFIND2", {0, 10, 19});
    Measure<BKPFIND3>(ctx, "BKPFIND3", {0, 19});
    Measure<BKPFIND3>(ctx, "BKPFIND3", {0, 19}, true);

    // The order by run is served by FILEKANRI_BYRUN (BKPNO, DIRNO); within
    // one run and directory SQLite sorts by name and level before the first
    // row comes. Worst case here: the 500,000 versions of run 0 sorted as
    // one group, as one directory of 500,000 files would be.
    QElapsedTimer t;
    t.start();
    SqlGridModel model(state.db());
    model.setRowKey(true);
    model.setQuery("select BKPNO,DIRNO,LVL,DIR,FILENM,FUPDAYD,FUPTIMED,FSIZE,FVERNO,PVERNO,KBN1,rowid from FILEKANRI "
                   "WHERE BKPNO = ?1 Order by BKPNO,FILENM,LVL",
                   {std::int64_t{0}});
    std::printf("worst case: first page of one run-and-directory group of 500,000 versions: %8.1f ms\n", Ms(t));
    return 0;
}
