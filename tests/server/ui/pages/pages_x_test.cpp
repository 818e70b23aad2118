// The preferences, codes and history pages of the real taquilla, from
// outside and by names only: the mode change reaches a station, the codes'
// gate, a batch of codes that another xBase reader finds, the day's list,
// the history, and the business data kept across an orderly restart.
#include "server/ui/TaquillaOnDisplay.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <gtest/gtest.h>

using tarvina::test::TestDisplay;

namespace {

// The keys Perl's XBase::Index finds under one tag of a compound index.
const char* kPerlTagKeys = R"PERL(
use strict;
use XBase::Index;
my ($cdx, $tag) = @ARGV;
my $idx = XBase::Index->new($cdx, tag => $tag, type => 'C') or die XBase::Index->errstr;
$idx->prepare_select;
while (my ($key, $rec) = $idx->fetch) {
    $key =~ s/[\0 ]+$//;
    print "$key\t$rec\n";
}
)PERL";

class PagesOnX : public tarvina::test::TaquillaOnDisplay {
protected:
    // Side bar: the folder, then its item.
    void openItem(const char* folder, const char* item) {
        ASSERT_EQ(atspi({"press", folder, "push button"}), 0) << out.toStdString();
        ASSERT_EQ(atspi({"wait", item, "check box", "10"}), 0) << out.toStdString();
        ASSERT_EQ(atspi({"press", item, "check box"}), 0) << out.toStdString();
    }
    void openPreferences(const char* node) {
        openItem("Miscelaneos", "Configuración");
        ASSERT_EQ(atspi({"wait", node, "table cell", "10"}), 0) << out.toStdString();
        ASSERT_EQ(atspi({"click", node, "table cell"}), 0) << out.toStdString();
    }
    QMap<QString, int> perlKeys(const QString& cdx, const char* tag) {
        QFile script(dir.path() + QStringLiteral("/keys.pl"));
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(kPerlTagKeys);
        script.close();
        QProcess perl;
        perl.start(QStringLiteral("perl"), {script.fileName(), cdx, QString::fromLatin1(tag)});
        EXPECT_TRUE(perl.waitForFinished(30000));
        EXPECT_EQ(perl.exitCode(), 0) << perl.readAllStandardError().toStdString();
        QMap<QString, int> keys;
        for (const QByteArray& line : perl.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> f = line.split('\t');
            if (f.size() == 2)
                keys.insert(QString::fromLatin1(f[0]), f[1].toInt());
        }
        return keys;
    }
    // Rows of the day's code list (the body of its table).
    int dayListRows() {
        const QDir pin(dir.path() + QStringLiteral("/pin"));
        const QStringList lists = pin.entryList({QStringLiteral("*.html")}, QDir::Files);
        if (lists.size() != 1)
            return -1;
        QFile f(pin.filePath(lists.first()));
        if (!f.open(QIODevice::ReadOnly))
            return -1;
        const QString html = QString::fromLatin1(f.readAll());
        const int body = html.indexOf(QStringLiteral("<TBODY>"), 0, Qt::CaseInsensitive);
        return body < 0 ? -1 : html.mid(body).count(QStringLiteral("<TR"), Qt::CaseInsensitive);
    }
};

TEST_F(PagesOnX, PinModeReachesTheStationAndTenCodesAreFoundByAnotherReader) {
    configure([](auto& s) { s.passwordStdPin = Scrambled("boletos"); });
    start();
    waitMainWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return listening(); }, 10000)) << console();
    auto pc1 = connectStation("PC1", "00-11-22-33-44-01");
    ASSERT_TRUE(pc1->isConnected());
    ASSERT_EQ(atspi({"wait", "PC1", "table cell", "20"}), 0) << out.toStdString();

    // "Modo de operación" → "PIN", saved: the station is told at once.
    openPreferences("Modo de operación");
    ASSERT_EQ(atspi({"wait", "PIN", "radio button", "10"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "PIN", "radio button"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "Guardar cambios", "push button"}), 0) << out.toStdString();
    ASSERT_TRUE(pc1->waitForLine("401", 10000)) << "the station was not told the new mode";

    // The codes' item asks for its own password.
    openItem("Operaciones", "PIN");
    ASSERT_EQ(atspi({"wait", "Restricción de acceso PIN.", "label", "20"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"settext", "Escriba contraseña", "boletos", "password text"}), 0);
    ASSERT_EQ(atspi({"press", "OK", "push button"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"wait", "Genera PINs", "push button", "10"}), 0) << out.toStdString();

    // Ten codes of 30 minutes, without tickets (no printer here).
    ASSERT_EQ(atspi({"states", "Imprime ticket al crear PIN", "check box"}), 0);
    if (out.contains(QStringLiteral("checked"))) {
        ASSERT_EQ(atspi({"press", "Imprime ticket al crear PIN", "check box"}), 0);
    }
    ASSERT_EQ(atspi({"settext", "Tiempo en minutos:", "30", "combo box"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"settext", "Cant.:", "10", "spin button"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "Genera PINs", "push button"}), 0) << out.toStdString();

    const QString cdx = dir.path() + QStringLiteral("/data/CajaPIN.cdx");
    QMap<QString, int> keys;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            keys = perlKeys(cdx, "PIN");
            return keys.size() >= 10;
        },
        20000))
        << keys.size() << " keys under tag PIN";
    EXPECT_EQ(keys.size(), 10);
    static const QRegularExpression code(QStringLiteral("^[0-9A-Z]{6}$"));
    for (auto it = keys.cbegin(); it != keys.cend(); ++it)
        EXPECT_TRUE(code.match(it.key()).hasMatch()) << it.key().toStdString();

    // The history page finds a code by its first characters.
    const QString first = keys.firstKey();
    openItem("Consultas", "Uso de Pines");
    ASSERT_EQ(atspi({"wait", "Escriba el número de PIN que desea revisar:", "text", "10"}), 0);
    ASSERT_EQ(
        atspi({"settext", "Escriba el número de PIN que desea revisar:", first.left(4), "text"}),
        0);
    ASSERT_EQ(atspi({"wait", first, "table cell", "10"}), 0) << out.toStdString();

    // "Reparar base de datos" rebuilds the indexes: every code is still found
    // and both tables verify.
    const QDateTime indexedAt = QFileInfo(cdx).lastModified();
    ASSERT_EQ(atspi({"press", "Reparar base de datos", "menu item"}), 0) << out.toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(cdx).lastModified() != indexedAt; }, 20000))
        << "the index was not rebuilt";
    EXPECT_EQ(perlKeys(cdx, "PIN"), keys);
    for (const char* table : {"/data/CajaPIN.dbf", "/data/CajaHPIN.dbf"}) {
        QProcess verify;
        verify.start(QStringLiteral(TARVINA_TEST_BIN_DIR "/xbase-tool"),
                     {QStringLiteral("verify"), dir.path() + QString::fromLatin1(table)});
        ASSERT_TRUE(verify.waitForFinished(30000));
        EXPECT_EQ(verify.exitCode(), 0) << table << ": " << verify.readAll().toStdString();
    }

    // The day's list holds the ten once the program has closed in order.
    expectOrderlyEndWithin(10000, "after the codes");
    EXPECT_EQ(dayListRows(), 10);
}

TEST_F(PagesOnX, BusinessDataIsStoredAtAnOrderlyCloseAndShownAtTheNextStart) {
    start();
    waitMainWindow();
    openPreferences("Empresa");
    ASSERT_EQ(atspi({"wait", "Denominación", "text", "10"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"settext", "Denominación", "Ciber Ñandú", "text"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"settext", "Teléfono", "0212-5550000", "text"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "Guardar cambios", "push button"}), 0) << out.toStdString();
    expectOrderlyEndWithin(10000, "after saving the preferences");

    {
        tarvina::platform::FileRegistry reg({dir.path() + QStringLiteral("/user.reg"),
                                             dir.path() + QStringLiteral("/machine.reg")});
        const auto s = tarvina::server::LoadSettings(reg);
        EXPECT_EQ(s.denominacion, QStringLiteral("Ciber Ñandú"));
        EXPECT_EQ(s.telefono, QStringLiteral("0212-5550000"));
    }
    start();
    waitMainWindow();
    openPreferences("Empresa");
    ASSERT_EQ(atspi({"wait", "Denominación", "text", "10"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"gettext", "Denominación", "text"}), 0) << out.toStdString();
    EXPECT_EQ(out.trimmed(), QStringLiteral("Ciber Ñandú"));
    ASSERT_EQ(atspi({"gettext", "Teléfono", "text"}), 0) << out.toStdString();
    EXPECT_EQ(out.trimmed(), QStringLiteral("0212-5550000"));
}

} // namespace
