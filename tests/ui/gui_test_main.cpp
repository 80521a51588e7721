// Main of the window tests: a QApplication on the offscreen platform (with a
// 1920x1200 screen, so that the main window has room for its normal size as
// on a desktop), then GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (!platform || std::string(platform) == "offscreen")
        setenv("QT_QPA_PLATFORM", "offscreen:configfile=" OSTREL_OFFSCREEN_CONFIG, 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
