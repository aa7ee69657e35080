#include <cstdlib>

#include <gtest/gtest.h>

#include <QApplication>

#include <curl/curl.h>

int main(int argc, char** argv) {
    // gtest_discover_tests runs this program at build time, with no display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int result = RUN_ALL_TESTS();
    curl_global_cleanup();
    return result;
}
