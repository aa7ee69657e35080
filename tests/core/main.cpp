#include <gtest/gtest.h>

#include <curl/curl.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int result = RUN_ALL_TESTS();
    curl_global_cleanup();
    return result;
}
