#include "common/ExceptionLog.h"

#include "support/TempDir.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace tarvina::common;

namespace {
void WriteBytes(const QString& path, qint64 n) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(n, 'x'));
}
QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
const DateTime kNow = DateTime::FromParts(2024, 3, 5, 14, 7, 9);
} // namespace

TEST(ExceptionLog, SizeCheckDeletesOnlyWhenLargerThanTheLimit) {
    tarvina::test::TempDir dir;
    const QString path = dir.file(kClientExceptionLogName);
    const QByteArray entry = ClientExceptionEntry(kNow, "boom");

    WriteBytes(path, 2049);
    ASSERT_TRUE(AppendWithSizeCheck(path, kClientExceptionLogLimit, entry));
    EXPECT_EQ(ReadAll(path), entry);

    WriteBytes(path, 2048);
    ASSERT_TRUE(AppendWithSizeCheck(path, kClientExceptionLogLimit, entry));
    EXPECT_EQ(ReadAll(path), QByteArray(2048, 'x') + entry);

    const QString server = dir.file(kServerExceptionLogName);
    WriteBytes(server, 10241);
    ASSERT_TRUE(AppendWithSizeCheck(server, kServerExceptionLogLimit, entry));
    EXPECT_EQ(ReadAll(server), entry);
    WriteBytes(server, 10240);
    ASSERT_TRUE(AppendWithSizeCheck(server, kServerExceptionLogLimit, entry));
    EXPECT_EQ(ReadAll(server).size(), 10240 + entry.size());

    // A missing log is created.
    const QString fresh = dir.file("new.log");
    ASSERT_TRUE(AppendWithSizeCheck(fresh, kClientExceptionLogLimit, entry));
    ASSERT_TRUE(AppendWithSizeCheck(fresh, kClientExceptionLogLimit, entry));
    EXPECT_EQ(ReadAll(fresh), entry + entry);
}

TEST(ExceptionLog, FailureIsReportedNotHidden) {
    tarvina::test::TempDir dir;
    QString error;
    EXPECT_FALSE(AppendWithSizeCheck(dir.file("no/such/folder/CliExcept.log"), 2048, "x", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(ClientLogFailureText("disco lleno"),
              QString::fromUtf8("Excepción/Falla no manejable \"disco lleno\". Por favor refiera "
                                "a soporte técnico. Gracias."));
    EXPECT_EQ(ServerErrorBoxText("x"),
              QString::fromUtf8("Excepción/Falla \"x\". Por favor refiera a soporte técnico "
                                "(última opción del menú de ayuda). Gracias."));
}

TEST(ExceptionLog, EntryFormats) {
    EXPECT_EQ(ClientExceptionEntry(kNow, QString::fromUtf8("falló")),
              QByteArray("05/03/2024 14:07:09 fall\xF3\n\n"));
    EXPECT_EQ(ClientAppExceptionEntry(kNow, "TfrmClient7267", "Access violation", 0, "KillTask"),
              QByteArray("05/03/2024 14:07:09 S: TfrmClient7267 E: Access violation H: 0 L: "
                         "KillTask\n\n"));

    ServerExceptionInfo info;
    info.senderClass = "TfrmZUCaja";
    info.errorText = "Division by zero";
    info.helpContext = 3;
    info.knownMacs = 4;
    info.knownNames = 5;
    info.tallyLength = 6;
    info.lastCommand = "GrantAccess";
    info.computers = {{"PC01", "Libre"}, {"PC02", "En uso"}};
    EXPECT_EQ(ServerExceptionEntry(kNow, info),
              QByteArray("05/03/2024 14:07:09 S: TfrmZUCaja E: Division by zero H: 3\n"
                         " M: 4 I: 5 P: 0 U: 6\n"
                         "Ultimo comando GrantAccess\n"
                         "\n"
                         " C: 2 PC01 Libre\n"
                         " PC02 En uso\n"
                         "\n"));
    info.computers.clear();
    EXPECT_TRUE(ServerExceptionEntry(kNow, info).endsWith("\n C: 0\n\n"));
}
