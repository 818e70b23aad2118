#include "support/TempDir.h"

#include <QApplication>
#include <gtest/gtest.h>

// Test main for widget tests; offscreen unless the test environment names a
// display platform of its own (Xvfb tests set QT_QPA_PLATFORM=xcb).
int main(int argc, char** argv) {
    tarvina::test::PrepareTestProcess();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
