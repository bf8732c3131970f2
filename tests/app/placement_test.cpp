// Where windows appear, on two screens of 1024x768 and 1920x1080 side by
// side; and what a grid shows at the small screen's size.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <tuple>

#include "app/MAINF.h"
#include "support/gui_harness.h"
#include "ui/window_keys.h"

namespace tessel {
namespace {

QScreen* Screen(const char* name) {
    for (QScreen* s : QGuiApplication::screens())
        if (s->name() == name) return s;
    return nullptr;
}

// The window with its frame lies inside the screen's available area.
void ExpectFullyOn(QWidget& w, QScreen* screen) {
    const QRect framed = w.geometry().marginsAdded(FrameMargins(w));
    EXPECT_TRUE(screen->availableGeometry().contains(framed))
        << w.objectName().toStdString() << " at " << framed.x() << "," << framed.y() << " " << framed.width() << "x"
        << framed.height();
}

TEST(Placement, WindowsOpenCentredOnTheirScreenFullyVisibleAndTheMenuComesBackWhereItWas) {
    ASSERT_EQ(QGuiApplication::screens().size(), 2);
    QScreen* small = Screen("small");
    QScreen* large = Screen("large");
    test::GuiHarness h;
    MAINF& menu = h.context.window<MAINF>();
    menu.open();
    EXPECT_EQ(menu.screen(), QGuiApplication::primaryScreen());
    ExpectFullyOn(menu, menu.screen());

    // The menu moved to the large screen: the windows it opens appear there,
    // centred; it comes back exactly where it was, however often.
    menu.setGeometry(QRect(QPoint(2000, 40), menu.size()));
    const QRect left = menu.geometry();
    for (const char* button : {"Command3", "Command7", "Command2", "Command3"}) {
        SCOPED_TRACE(button);
        QTest::mouseClick(menu.findChild<QPushButton*>(button), Qt::LeftButton);
        QWidget* opened = QApplication::activeWindow() && QApplication::activeWindow() != &menu ? QApplication::activeWindow() : nullptr;
        for (QWidget* w : h.context.windows())
            if (w != &menu && w->isVisible()) opened = w;
        ASSERT_NE(opened, nullptr);
        ExpectFullyOn(*opened, large);
        const QPoint centre = opened->geometry().marginsAdded(FrameMargins(*opened)).center();
        EXPECT_LE((centre - large->availableGeometry().center()).manhattanLength(), 4);
        QTest::keyClick(opened, Qt::Key_Escape);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(menu.isVisible());
        EXPECT_EQ(menu.geometry(), left);
    }

    // Back on the small screen, a window left on the large one opens on the
    // small one with its opener; one larger than the room is shrunk to fit,
    // title bar included.
    menu.setGeometry(QRect(QPoint(30, 600), menu.size()));
    QTest::mouseClick(menu.findChild<QPushButton*>("Command2"), Qt::LeftButton);
    QWidget* registration = h.context.findWindow("DIRSET");
    ASSERT_NE(registration, nullptr);
    EXPECT_EQ(registration->screen(), small);
    ExpectFullyOn(*registration, small);
    const QMargins frame(4, 30, 4, 4);
    const QRect fitted = FitInto(QRect(-50, -20, 1200, 900), small->availableGeometry(), frame, QSize(300, 200));
    EXPECT_EQ(fitted, QRect(4, 30, 1016, 734));
    EXPECT_EQ(FitInto(QRect(0, 0, 100, 100), small->availableGeometry(), frame, QSize(2000, 100)).width(), 2000)
        << "never below the minimum size";
}

int ColumnsRight(QTableView& grid) {
    int right = 0;
    for (int c = 0; c < grid.model()->columnCount(); ++c)
        if (!grid.isColumnHidden(c)) right = std::max(right, grid.columnViewportPosition(c) + grid.columnWidth(c));
    return right;
}

// At 1024x768 the date, time and code columns keep their width and stay in
// sight whatever the names hold; long names are cut (the whole text is the
// tooltip); grids grow with their windows, the room going to the names.
TEST(Layout, LongNamesAreCutDatesAndCodesKeepTheirWidthAndGridsGrowWithTheirWindows) {
    test::GuiHarness h;
    const std::string longDir = "/data/" + std::string(150, 'd') + "/", longName = std::string(120, 'n') + ".txt";
    h.state.db().exec("INSERT INTO BKPNAME VALUES (1, '" + std::string(200, 't') + "', '1', '2024-01-05', '10:00:00')");
    h.state.db()
        .prepare("INSERT INTO FILEKANRI (BKPNO, DIRNO, LVL, DIR, FILENM, KBN1, CHK1, FUPDAYD, FUPTIMED, FSIZE) "
                 "VALUES (1, 1, 1, ?1, ?2, '0', '1', '2024年12月25日(水)', '23時59分59秒', 123456789)")
        .bind(1, longDir)
        .bind(2, longName)
        .run();
    MAINF& menu = h.context.window<MAINF>();
    menu.open();
    menu.setGeometry(QRect(QPoint(40, 40), menu.size()));
    ASSERT_EQ(menu.screen()->name(), "small");
    QTest::mouseClick(menu.findChild<QPushButton*>("Command1"), Qt::LeftButton);  // バックアップ別
    QWidget* byRun = h.context.findWindow("BKPFIND1");
    ASSERT_NE(byRun, nullptr);
    QTableView& versions = *byRun->findChild<QTableView*>("DataGrid1");
    EXPECT_LE(ColumnsRight(versions), versions.viewport()->width()) << "every column in sight";
    EXPECT_EQ(versions.model()->index(0, 4).data(Qt::ToolTipRole).toString().toStdString(), longName);
    const int update = versions.columnWidth(5), uptime = versions.columnWidth(6), kbn = versions.columnWidth(10),
              file = versions.columnWidth(4);
    EXPECT_GE(update, versions.fontMetrics().horizontalAdvance(QString::fromUtf8("2024年12月25日(水)")));
    EXPECT_LT(file, versions.fontMetrics().horizontalAdvance(QString::fromStdString(longName)));
    test::GuiHarness::screenshot(*byRun, "BKPFIND1-1024x768");
    // Wider: only the names take the room.
    byRun->resize(byRun->width() + 300, byRun->height());
    EXPECT_EQ(std::make_tuple(versions.columnWidth(5), versions.columnWidth(6), versions.columnWidth(10)),
              std::make_tuple(update, uptime, kbn));
    EXPECT_GT(versions.columnWidth(4), file);
    EXPECT_EQ(ColumnsRight(versions), versions.viewport()->width());
}

}  // namespace
}  // namespace tessel
