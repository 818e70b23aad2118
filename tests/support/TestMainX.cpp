#include "support/TempDir.h"
#include "support/XDisplay.h"

#include <QApplication>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string_view>

namespace {
std::unique_ptr<tarvina::test::XDisplay> g_display;
}

namespace tarvina::test {
XDisplay& TestDisplay() {
    return *g_display;
}
} // namespace tarvina::test

// Test main for tests of real window behaviour: a private Xvfb with openbox
// and the accessibility bus comes up before the QApplication, which then
// lives on that display.
int main(int argc, char** argv) {
    tarvina::test::PrepareTestProcess();
    // Listing the tests (CTest does it before every run) needs no display.
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--gtest_list_tests") {
            QApplication app(argc, argv);
            ::testing::InitGoogleTest(&argc, argv);
            return RUN_ALL_TESTS();
        }
    }
    tarvina::test::XDisplay::Options options;
    options.accessibility = true;
    options.tray = true;
    g_display = std::make_unique<tarvina::test::XDisplay>(options);
    if (!g_display->ok()) {
        std::fprintf(stderr, "no test display: %s\n", qPrintable(g_display->error()));
        return 1;
    }
    g_display->applyToThisProcess();
    int rc = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        rc = RUN_ALL_TESTS();
    }
    g_display.reset();
    return rc;
}
