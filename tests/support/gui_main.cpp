// Test entry for window tests: a QApplication around GoogleTest. A test
// built with TESSEL_TEST_SCREENS runs on the offscreen platform with the
// screens that file describes.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
#ifdef TESSEL_TEST_SCREENS
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + TESSEL_TEST_SCREENS);
#else
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
#endif
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
