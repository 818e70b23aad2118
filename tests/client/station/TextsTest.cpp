#include "client/station/Texts.h"

#include "common/Cp1252.h"
#include "support/TempDir.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace tarvina::client;

namespace {
void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
} // namespace

TEST(Texts, TableCoversEveryKeyOnceInOrderWithSpanishDefaults) {
    const auto& table = TextTable();
    for (size_t i = 0; i < table.size(); ++i)
        EXPECT_EQ(static_cast<size_t>(table[i].id), i) << table[i].key;
    LanguageTexts t;
    EXPECT_EQ(t.get(Txt::StrUnkComm), QStringLiteral("Comando desconocido"));
    EXPECT_EQ(t.get(Txt::StrSuccessTrans), QStringLiteral("Trasnmisión exitosa"));
    EXPECT_EQ(t.get(Txt::AccTime), QStringLiteral("Tiempo incial"));
    EXPECT_EQ(t.get(Txt::HintMasTiempoOk),
              QStringLiteral("Solicita asignación de minutos adicionales al operador"));
    EXPECT_EQ(t.get(Txt::HintMasTiempoBox), QStringLiteral("Minutos adicionales a solicitar"));
    EXPECT_EQ(t.minutesGranted(15), QStringLiteral("Se le han otorgando 15 minutos adicionales"));
}

TEST(Texts, FileOverridesKeysCaseInsensitivelyAndKeepsDefaultsForTheRest) {
    const IniFile ini =
        IniFile::Parse("[id]\r\ntitulo=English\r\n[INTERNO]\r\nstrenuso = In use \r\n"
                       "StrMinutesGranted=You got %d more minutes, 100%\r\n"
                       "[Texto]\r\nlblMin=mins\r\n"
                       "[Acceso]\r\nCancel=Cancel\xe9\r\n");
    LanguageTexts t;
    t.apply(ini);
    EXPECT_EQ(t.get(Txt::StrEnUso), QStringLiteral("In use"));
    EXPECT_EQ(t.get(Txt::lblMin), QStringLiteral("mins"));
    EXPECT_EQ(t.get(Txt::AccCancel), QStringLiteral("Cancelé")); // bytes are Windows-1252
    EXPECT_EQ(t.get(Txt::StrBlock), QStringLiteral("Bloqueado"));
    // Only the first %d is filled; a stray % is left alone.
    EXPECT_EQ(t.minutesGranted(5), QStringLiteral("You got 5 more minutes, 100%"));
    // Applying an empty file brings every default back.
    t.apply(IniFile::Parse(""));
    EXPECT_EQ(t.get(Txt::StrEnUso), QStringLiteral("En uso"));
}

TEST(Texts, MenuListsTitlesAndFileNamesAndTitleOnlyFileKeepsDefaults) {
    tarvina::test::TempDir dir;
    EXPECT_TRUE(BuildLanguageMenu(dir.path()).isEmpty());
    Write(dir.file("eng.lng"), "[Id]\nTitulo=English\n");
    Write(dir.file("bare.LNG"), "[Texto]\nfrmMasTiempo=&More time\n");
    Write(dir.file("notes.txt"), "[Id]\nTitulo=Not a language\n");
    const auto menu = BuildLanguageMenu(dir.path());
    ASSERT_EQ(menu.size(), 2);
    EXPECT_EQ(menu[0].title, QStringLiteral("bare.LNG"));
    EXPECT_EQ(menu[1].title, QStringLiteral("English"));
    EXPECT_EQ(menu[1].path, dir.file("eng.lng"));

    LanguageTexts t;
    t.apply(IniFile::Load(menu[1].path));
    EXPECT_EQ(t.get(Txt::StrConnecting), QStringLiteral("Conectando ..."));
    t.apply(IniFile::Load(menu[0].path));
    EXPECT_EQ(StripAmpersands(t.get(Txt::frmMasTiempo)), QStringLiteral("More time"));
    // A missing file reads as empty: every default.
    t.apply(IniFile::Load(dir.file("esp.lng")));
    EXPECT_EQ(t.get(Txt::frmMasTiempo), QStringLiteral("&Más tiempo"));
}

TEST(Texts, HostileFilesAreBounded) {
    QByteArray huge = "[Texto]\nlblMin=" + QByteArray(100000, 'x') + "\n[Interno]\nStrEnUso=ok\n";
    LanguageTexts t;
    t.apply(IniFile::Parse(huge));
    EXPECT_LE(t.get(Txt::lblMin).size(), 8192);
    EXPECT_EQ(t.get(Txt::StrEnUso), QStringLiteral("ok"));
    // Lines without '=' or outside a section are ignored.
    t.apply(IniFile::Parse("StrEnUso=x\n[Interno]\ngarbage\n=novalue\n"));
    EXPECT_EQ(t.get(Txt::StrEnUso), QStringLiteral("En uso"));
}
