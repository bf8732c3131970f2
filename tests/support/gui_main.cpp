// Test entry for window tests: a QApplication around GoogleTest, on the
// offscreen platform with the screens of a file: one desktop screen of
// 1920x1080 (support/one_screen.json), or those of TESSEL_TEST_SCREENS when
// the test is built with it. Another platform named in QT_QPA_PLATFORM
// (xcb, to watch a test) is taken as it is.
#include <gtest/gtest.h>

#include <QApplication>

#ifndef TESSEL_TEST_SCREENS
#define TESSEL_TEST_SCREENS TESSEL_TEST_SUPPORT_DIR "/one_screen.json"
#endif

int main(int argc, char** argv) {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen")
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + TESSEL_TEST_SCREENS);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
