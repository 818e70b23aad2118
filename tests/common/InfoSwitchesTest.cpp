#include "common/InfoSwitches.h"

#include <gtest/gtest.h>

using tarvina::common::InfoSwitchText;

TEST(InfoSwitches, HelpAndVersionAnswerAnythingElseStarts) {
    const QString usage = QStringLiteral("Uso: puesto [-test]\n");
    EXPECT_EQ(InfoSwitchText({"puesto", "--help"}, "puesto", usage), usage);
    EXPECT_EQ(InfoSwitchText({"puesto", "-test", "-h"}, "puesto", usage), usage);
    EXPECT_EQ(InfoSwitchText({"puesto", "--version"}, "puesto", usage),
              QStringLiteral("puesto %1.%2.%3.%4\n")
                  .arg(TARVINA_VERSION_MAJOR)
                  .arg(TARVINA_VERSION_MINOR)
                  .arg(TARVINA_VERSION_RELEASE)
                  .arg(TARVINA_VERSION_BUILD));
    EXPECT_FALSE(InfoSwitchText({"puesto", "-test"}, "puesto", usage));
    // The program's own name is never taken for a switch.
    EXPECT_FALSE(InfoSwitchText({"--help"}, "puesto", usage));
    // Straight from main()'s arguments, read alike.
    char program[] = "--help", other[] = "-test", help[] = "-h";
    char* argv[] = {program, other, help, nullptr};
    EXPECT_FALSE(InfoSwitchText(2, argv, "puesto", usage));
    EXPECT_EQ(InfoSwitchText(3, argv, "puesto", usage), usage);
}
