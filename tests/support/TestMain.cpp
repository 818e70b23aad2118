#include "support/TempDir.h"
#include "support/TsanQtBridge.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

// Test main for code that needs a Qt event loop but no display.
int main(int argc, char** argv) {
    tarvina::test::PrepareTestProcess();
    tarvina::test::TestCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
