// The preferences page's rules without its widgets: what it shows, what a
// save stores and in which order it stops, the password pages, the tax-id
// masks by country, the picker lists, and the mode announced to stations.

#include "common/Cp1252.h"
#include "common/Format.h"
#include "server/PinTestPrinters.h"
#include "server/PinWorld.h"
#include "server/shell/Preferences.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;

namespace {

// The scrambling written out again from its rules, byte by byte, to check
// the stored passwords against something other than the program's own code.
QString Scrambled(const QByteArray& plain) {
    QByteArray out;
    const int n = int(plain.size());
    for (int i = 1; i <= n; ++i) {
        const auto c = quint8(plain[i - 1]);
        quint8 o;
        if (c % 7 == 3) {
            o = c ^ quint8((n - i + 24) % 256);
        } else if (i % 11 == 3 || i % 11 == 7) {
            o = c ^ quint8((i + 128) % 256);
        } else {
            o = c ^ 0x84;
        }
        if (o == 0) {
            o = 0xF1;
        } else if (o == 10) {
            o = 'j';
        } else if (o == 13) {
            o = 0xFC;
        } else if (o == ',') {
            o = ':';
        }
        out += char(o);
    }
    return common::FromCp1252(out); // the stored text is the bytes in Windows-1252
}

ServerSettings Defaults() {
    ServerSettings s;
    s.moneda = QStringLiteral("Bs");
    return s;
}

} // namespace

TEST(Preferences, ShowFillsEveryPageFromTheSettings) {
    ServerSettings s = Defaults();
    s.pais = QStringLiteral("argentina");
    s.registro = QStringLiteral("C.U.I.T.");
    s.rif = QStringLiteral("20-12345678-3");
    s.passwordStd = Scrambled("mirlo");
    s.prnTicket = 3; // beyond the two printers listed
    s.port = 4;
    s.clienteModo = 0;
    s.serviceMode = 1;
    const PreferencesForm f = ShowPreferences(s, 1048575, {"a", "b"});
    EXPECT_EQ(f.serviceMode, 1);
    EXPECT_EQ(f.countryIndex, 0); // found without regard to case
    EXPECT_EQ(f.taxIdMask, "00-00000000-0;1;_");
    EXPECT_EQ(f.taxIdLabel, "C.U.I.T.");
    EXPECT_EQ(f.printerIndex, -1);
    EXPECT_EQ(f.portIndex, 4);
    EXPECT_FALSE(f.presetsEnabled);
    EXPECT_EQ(f.logNumber, 1023);
    EXPECT_EQ(f.logUnit, 1);
    // A stored password shows the placeholder in all three fields; none
    // leaves them empty with the old-password field disabled.
    EXPECT_EQ(f.access.oldText, QLatin1String(kPasswordPlaceholder));
    EXPECT_EQ(f.access.repeatText, QLatin1String(kPasswordPlaceholder));
    EXPECT_TRUE(f.access.oldEnabled);
    EXPECT_TRUE(f.pin.oldText.isEmpty());
    EXPECT_FALSE(f.pin.oldEnabled);

    s.pais = QStringLiteral("Atlantis");
    const PreferencesForm g = ShowPreferences(s, std::nullopt, {});
    EXPECT_EQ(g.countryIndex, -1);
    EXPECT_TRUE(g.taxIdMask.isEmpty());
    EXPECT_EQ(g.logNumber, 10); // unreadable limit
    EXPECT_EQ(g.logUnit, 2);
}

TEST(Preferences, SaveCopiesEveryControlAndWritesTheLogLimitAtOnce) {
    ServerSettings s = Defaults();
    PreferencesForm f = ShowPreferences(s, 10485760, {"Epson", "Star"});
    f.denominacion = QStringLiteral("Ciber Ñandú");
    f.rif = QStringLiteral("J-12345678-9");
    f.dir1 = QStringLiteral("Av. 1");
    f.dir3 = QStringLiteral("Caracas");
    f.telefono = QStringLiteral("0212-5550000");
    f.countryIndex = CountryIndex(QStringLiteral("España"));
    f.moneda = QStringLiteral("€");
    f.registro = QStringLiteral("C.I.F.");
    f.clienteModo = 2;
    f.clienteVal = QStringLiteral("10,20");
    f.logNumber = 1;
    f.logUnit = 1;
    f.colours[2] = ColourEntries()[0].value;
    f.serviceMode = 1;
    f.printerIndex = 1;
    f.portIndex = 3;
    f.rawMode = true;
    f.nLines = 5;
    f.ticketWidth = 40;
    f.ticketLeft = 0;
    f.clientInit = QStringLiteral("firefox");
    f.confirmClose = false;
    f.toolBarVisible = false;
    std::optional<qint32> written;
    int modeSet = -1;
    ApplyHooks hooks{[&](qint32 v) { written = v; }, [&](int m) { modeSet = m; }, {}, {}};
    const ApplyResult r = ApplyPreferences(f, s, hooks);
    EXPECT_TRUE(r.passwordErrors.isEmpty());
    EXPECT_TRUE(r.modeChanged);
    EXPECT_TRUE(r.toolBarChanged);
    EXPECT_EQ(written, 1024); // 1 KBytes
    EXPECT_EQ(modeSet, 1);
    EXPECT_EQ(s.denominacion, "Ciber Ñandú");
    EXPECT_EQ(s.rif, "J-12345678-9");
    EXPECT_EQ(s.dir1, "Av. 1");
    EXPECT_EQ(s.dir3, "Caracas");
    EXPECT_EQ(s.telefono, "0212-5550000");
    EXPECT_EQ(s.pais, "España");
    EXPECT_EQ(s.moneda, "€");
    EXPECT_EQ(s.registro, "C.I.F.");
    EXPECT_EQ(s.clienteModo, 2);
    EXPECT_EQ(s.clienteVal, "10,20");
    EXPECT_EQ(s.limitBitacora, 1024);
    EXPECT_EQ(s.compColUse, ColourEntries()[0].value);
    EXPECT_EQ(s.serviceMode, 1);
    EXPECT_EQ(s.prnTicket, 1);
    EXPECT_EQ(s.port, 3);
    EXPECT_TRUE(s.rawMode);
    EXPECT_EQ(s.nLines, 5);
    EXPECT_EQ(s.ticketWidth, 40);
    EXPECT_EQ(s.ticketLeft, 0);
    EXPECT_EQ(s.clientInit, "firefox");
    EXPECT_FALSE(s.confirmClose);
    EXPECT_FALSE(s.toolBarVisible);
}

TEST(Preferences, ALogLimitThatDoesNotFitStopsTheSaveThere) {
    ServerSettings s = Defaults();
    s.passwordStd.clear();
    PreferencesForm f = ShowPreferences(s, 10485760, {});
    f.denominacion = QStringLiteral("Antes del límite");
    f.logNumber = 2048;
    f.logUnit = 2; // 2048 MBytes
    f.colours[0] = 0;
    f.access.newText = f.access.repeatText = QStringLiteral("mirlo");
    f.serviceMode = 1;
    bool wrote = false, modeSet = false;
    const ApplyResult r = ApplyPreferences(
        f, s, {[&](qint32) { wrote = true; }, [&](int) { modeSet = true; }, {}, {}});
    EXPECT_TRUE(r.logLimitOverflow);
    EXPECT_EQ(s.denominacion, "Antes del límite"); // the steps before it are done
    EXPECT_FALSE(wrote);
    EXPECT_FALSE(modeSet);
    EXPECT_EQ(s.compColDesc, 255);
    EXPECT_TRUE(s.passwordStd.isEmpty());
    EXPECT_EQ(s.serviceMode, 0);
    // The largest limit that fits is stored.
    f.logNumber = 2047;
    EXPECT_FALSE(ApplyPreferences(f, s, {}).logLimitOverflow);
    EXPECT_EQ(s.limitBitacora, 2047 * 1048576);
}

TEST(Preferences, PasswordPages) {
    ServerSettings s = Defaults();
    // No password yet: the old field is empty and the new one is taken.
    PreferencesForm f = ShowPreferences(s, 0, {});
    f.access.newText = f.access.repeatText = QStringLiteral("mirlo");
    f.pin.newText = QStringLiteral("gato");
    f.pin.repeatText = QStringLiteral("gata");
    ApplyResult r = ApplyPreferences(f, s, {});
    EXPECT_EQ(s.passwordStd, Scrambled("mirlo"));
    EXPECT_EQ(r.passwordErrors,
              QStringList{"Las contraseñas no coinciden. No serán tomadas en cuenta."});
    EXPECT_TRUE(s.passwordStdPin.isEmpty());

    // The placeholder left in the old field changes nothing, whatever the
    // new fields hold.
    f = ShowPreferences(s, 0, {});
    f.access.newText = f.access.repeatText = QStringLiteral("otra");
    r = ApplyPreferences(f, s, {});
    EXPECT_TRUE(r.passwordErrors.isEmpty());
    EXPECT_EQ(s.passwordStd, Scrambled("mirlo"));

    // A wrong original is refused; the right one lets the change through.
    f.access.oldText = QStringLiteral("merlo");
    r = ApplyPreferences(f, s, {});
    EXPECT_EQ(r.passwordErrors, QStringList{"Contraseña original incorrecta."});
    EXPECT_EQ(s.passwordStd, Scrambled("mirlo"));
    f.access.oldText = QStringLiteral("mirlo");
    f.access.newText = f.access.repeatText = QStringLiteral("Ñandú,3\n");
    ApplyPreferences(f, s, {});
    EXPECT_EQ(s.passwordStd, Scrambled("\xd1"
                                       "and\xfa"
                                       ",3\n"));
    EXPECT_FALSE(s.passwordStd.contains(u',')); // the scrambling never leaves a comma

    // An empty old field with equal new fields replaces a stored password;
    // an empty new one removes it.
    f.access.oldText.clear();
    f.access.newText = f.access.repeatText = QStringLiteral("zorzal");
    ApplyPreferences(f, s, {});
    EXPECT_EQ(s.passwordStd, Scrambled("zorzal"));
    f.access.newText.clear();
    f.access.repeatText.clear();
    ApplyPreferences(f, s, {});
    EXPECT_TRUE(s.passwordStd.isEmpty());
}

TEST(Preferences, CountryChangeAppliesItsTaxIdFormatAtOnce) {
    ServerSettings s = Defaults();
    PreferencesForm f = ShowPreferences(s, 0, {});
    ChooseCountry(f, s, CountryIndex(QStringLiteral("Argentina")));
    EXPECT_EQ(f.taxIdLabel, "C.U.I.T.");
    EXPECT_EQ(f.registro, "C.U.I.T.");
    EXPECT_EQ(f.taxIdMask, "00-00000000-0;1;_");
    EXPECT_EQ(s.registro, "C.U.I.T."); // before any save
    ChooseCountry(f, s, CountryIndex(QStringLiteral("<Otro>")));
    EXPECT_EQ(s.registro, "Registro");
    EXPECT_TRUE(f.taxIdMask.isEmpty());
}

TEST(Preferences, TaxIdMasksByCountry) {
    struct Case {
        const char* country;
        const char* lineEditMask;
        const char* fits;
        const char* partial;
        const char* wrong;
    };
    const Case cases[] = {
        {"Venezuela", "J-99999999-9;_", "J-12345678-9", "J-1234____-_", "J-1234567A-9"},
        {"Argentina", "99-99999999-9;_", "20-12345678-3", "20-________-_", "2A-12345678-3"},
        {"Uruguay", "999999999999;_", "123456789012", "12345_______", "12345678901X"},
        {"España", "N-99999999;_", "B-12345678", "B-________", "--12345678"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.country);
        const QString mask = common::TaxIdFormat(QString::fromUtf8(c.country)).mask;
        EXPECT_EQ(LineEditMask(mask), c.lineEditMask);
        EXPECT_TRUE(TaxIdAcceptable(c.fits, mask));
        EXPECT_FALSE(TaxIdAcceptable(c.partial, mask));
        EXPECT_FALSE(TaxIdAcceptable(c.wrong, mask));
    }
    // Nothing typed (only the literals and blanks) is no error.
    EXPECT_TRUE(TaxIdAcceptable("J-________-_", "J-00000000-0;1;_"));
    EXPECT_FALSE(TaxIdTyped("J-________-_", "J-00000000-0;1;_"));
    // Free text for the other countries.
    EXPECT_TRUE(TaxIdAcceptable("cualquier 1", QString()));
    EXPECT_EQ(TaxIdTypingError("J-00000000-0;1;_"),
              "El texto no corresponde al formato esperado (J-00000000-0;1;_). Presione <Esc> "
              "para abandonar cambios.");
}

TEST(Preferences, PickerLists) {
    EXPECT_EQ(CountryList().size(), 27);
    EXPECT_EQ(CountryList().first(), "Argentina");
    EXPECT_EQ(CountryList().at(13), "España");
    EXPECT_EQ(CountryList().last(), "<Otro>");
    EXPECT_EQ(CountryIndex("VENEZUELA"), 25);
    const auto& colours = ColourEntries();
    ASSERT_EQ(colours.size(), 43u);
    EXPECT_EQ(colours[0].name, "Agua");
    EXPECT_EQ(colours[16].name, "Balnco");
    EXPECT_EQ(colours[18].name, "Fondo");
    EXPECT_EQ(colours.back().name, "Por defecto");
    // The stored defaults are red, grey, green (Lima) and yellow.
    EXPECT_EQ(colours[std::size_t(ColourIndex(255))].name, "Rojo");
    EXPECT_EQ(colours[std::size_t(ColourIndex(8421504))].name, "Gris oscuro");
    EXPECT_EQ(colours[std::size_t(ColourIndex(65280))].name, "Lima");
    EXPECT_EQ(colours[std::size_t(ColourIndex(65535))].name, "Amarillo");
    EXPECT_EQ(ColourIndex(0x123456), -1);
    EXPECT_EQ(LogUnitLabel(0), "Bytes");
    EXPECT_EQ(LogUnitLabel(2), "Mbytes");
}

class ModeAnnounce : public server::test::PinWorld {};

TEST_F(ModeAnnounce, ConnectedStationsHearTheNewModeAtOnce) {
    auto& a = station("PC1", "00-11-22-33-44-55", "10.0.0.1");
    auto& b = station("PC2", "00-11-22-33-44-66", "10.0.0.2");
    b.powerOff();
    a.lines();
    EXPECT_EQ(AnnounceServiceMode(ctx, 1), 1);
    EXPECT_EQ(a.lines(), QList<QByteArray>{"401"});
    EXPECT_EQ(AnnounceServiceMode(ctx, 0), 1);
    EXPECT_EQ(a.lines(), QList<QByteArray>{"400"});
}

TEST(Preferences, TheNetworkKeyIsStoredScrambledAtOnceAndAnEncryptedModeNeedsOne) {
    ServerSettings s;
    int writes = 0;
    ApplyHooks hooks;
    hooks.writeSecurity = [&] { ++writes; };
    PreferencesForm f = ShowPreferences(s, 10, {});
    EXPECT_TRUE(f.networkKey.isEmpty());
    f.redSegura = 2;
    ApplyResult r = ApplyPreferences(f, s, hooks);
    EXPECT_FALSE(r.securityError.isEmpty());
    EXPECT_EQ(s.redSegura, 0);
    EXPECT_EQ(writes, 0);

    f.networkKey = QStringLiteral("K7QF-M2XD-9HPT-4WNA-C3RJ-E8VB");
    r = ApplyPreferences(f, s, hooks);
    EXPECT_TRUE(r.securityError.isEmpty());
    EXPECT_TRUE(r.securityChanged);
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(s.redSegura, 2);
    // Stored as the passwords are, the dashes left out.
    EXPECT_EQ(s.claveRed, Scrambled("K7QFM2XD9HPT4WNAC3RJE8VB"));
    EXPECT_EQ(ShowPreferences(s, 10, {}).networkKey, f.networkKey);
    EXPECT_EQ(SecurityOf(s).psk,
              QCryptographicHash::hash("K7QFM2XD9HPT4WNAC3RJE8VB", QCryptographicHash::Sha256));
    // Saving again unchanged writes nothing.
    EXPECT_FALSE(ApplyPreferences(f, s, hooks).securityChanged);
    EXPECT_EQ(writes, 1);
}
