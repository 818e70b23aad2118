// The tariff's cost rule on hand-worked uses, and the "Tarifas" page's
// refusals, through the store and back.

#include "common/DateTime.h"
#include "platform/fake/MemoryRegistry.h"
#include "server/settings/ServerKeys.h"
#include "server/settings/Tariff.h"
#include "server/shell/Preferences.h"

#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;
using common::DateTime;

namespace {

DateTime At(int hour, int minute) {
    return DateTime::FromParts(2026, 12, 10, hour, minute, 0);
}

TariffPageFields Page(const QString& hour, int minimum = 0, int step = 1) {
    TariffPageFields f;
    f.hourPrice = hour;
    f.minimum = minimum;
    f.step = step;
    return f;
}

} // namespace

TEST(TariffTest, HandWorkedUses) {
    TariffPageFields f = Page(QStringLiteral("1.20"));
    f.bands[0] = {QStringLiteral("18:00"), QStringLiteral("20:00"), QStringLiteral("2.00")};
    const TariffPageResult page = ApplyTariffPage(f);
    ASSERT_TRUE(page.error.isEmpty()) << page.error.toStdString();
    Tariff t = page.tariff;

    // 45 minutes at 1.20 an hour: 45 × 120 / 60 = 90 cents.
    EXPECT_EQ(t.UseCost(At(10, 0), 45), 90);
    // 17:50 for 20 minutes: ten at 1.20, ten in the band at 2.00:
    // (1200 + 2000) / 60 = 53.33 → 53.
    EXPECT_EQ(t.UseCost(At(17, 50), 20), 53);
    // 19:55 for 10 minutes crosses the band's end: (5 × 200 + 5 × 120) / 60 = 26.67 → 27.
    EXPECT_EQ(t.UseCost(At(19, 55), 10), 27);
    // A use over midnight goes on with the next day's hours.
    EXPECT_EQ(t.UseCost(At(23, 30), 60), 120);
    // A whole day: 22 hours at 1.20 and 2 at 2.00.
    EXPECT_EQ(t.UseCost(At(7, 13), 1440), 22 * 120 + 2 * 200);

    // Bands at the day's edges and back to back; every start and length that
    // matters agrees with the minute-by-minute sum of the rule.
    t.bands = {{0, 90, 50}, {18 * 60, 20 * 60, 200}, {20 * 60, 1440, 333}};
    for (int start = 0; start < 1440; start += 7) {
        for (int minutes : {0, 1, 59, 61, 600, 1439, 1440, 1441, 3000}) {
            qint64 sum = 0;
            for (int i = 0; i < minutes; ++i)
                sum += t.HourPriceAt((start + i) % 1440);
            ASSERT_EQ(t.UseCost(At(start / 60, start % 60), minutes), (sum + 30) / 60)
                << start << " + " << minutes;
        }
    }
    t.bands = page.tariff.bands;

    // Step of 15 and a minimum of 30: 50 minutes are charged as 60, 10 as 30.
    t.step = 15;
    t.minimum = 30;
    EXPECT_EQ(t.ChargedMinutes(50), 60);
    EXPECT_EQ(t.ChargedMinutes(10), 30);
    EXPECT_EQ(t.ChargedMinutes(0), 30);
    EXPECT_EQ(t.UseCost(At(10, 0), 50), 120);

    // Half a cent goes up: one minute at 0.30 an hour is 0.5 cents.
    Tariff cheap = ApplyTariffPage(Page(QStringLiteral("0.30"))).tariff;
    EXPECT_EQ(cheap.UseCost(At(10, 0), 1), 1);
    EXPECT_EQ(cheap.UseCost(At(10, 0), 0), 0);
    EXPECT_EQ(Tariff{}.UseCost(At(10, 0), 60), 0); // no tariff, no money

    // Codes: their own price, else their minutes at the hour's price.
    cheap.codePrices[30] = 25;
    EXPECT_EQ(cheap.CodePrice(30), 25);
    EXPECT_EQ(cheap.CodePrice(45), 23); // 45 × 30 / 60 = 22.5 → 23
    EXPECT_FALSE(Tariff{}.CodePrice(30));
}

TEST(TariffTest, PageRefusesBadPricesAndBandsAndTheStoreKeepsWhatWasSaved) {
    auto errorOf = [](const TariffPageFields& f) { return ApplyTariffPage(f).error; };
    EXPECT_TRUE(errorOf(Page(QStringLiteral("uno"))).contains(QStringLiteral("no es un precio")));
    EXPECT_TRUE(errorOf(Page(QStringLiteral("-1"))).contains(QStringLiteral("negativo")));
    EXPECT_TRUE(errorOf(Page(QStringLiteral("10000000"))).contains(QStringLiteral("9999999.99")));
    EXPECT_FALSE(errorOf(Page(QStringLiteral("1"), 0, 0)).isEmpty());

    TariffPageFields f = Page(QStringLiteral("1.00"));
    f.bands[0] = {QStringLiteral("08:00"), QStringLiteral("12:00"), QStringLiteral("0.80")};
    f.bands[3] = {QStringLiteral("11:30"), QStringLiteral("13:00"), QStringLiteral("0.90")};
    EXPECT_EQ(errorOf(f), QStringLiteral("Banda 4: se superpone con otra banda (08:00 a 12:00)."));
    f.bands[3] = {QStringLiteral("22:00"), QStringLiteral("24:30"), QStringLiteral("0.90")};
    EXPECT_EQ(errorOf(f),
              QStringLiteral("Banda 4: las horas se escriben hh:mm, entre 00:00 y 24:00."));
    f.bands[3] = {QStringLiteral("22:00"), QStringLiteral("21:00"), QStringLiteral("0.90")};
    EXPECT_TRUE(errorOf(f).contains(QStringLiteral("posterior")));
    f.bands[3] = {QStringLiteral("22:00"), QStringLiteral("24:00"), QStringLiteral("0.9")};
    f.codePrices = QStringList{{}, {}, {}, QStringLiteral("0.70")};
    const TariffPageResult ok = ApplyTariffPage(f);
    ASSERT_TRUE(ok.error.isEmpty()) << ok.error.toStdString();
    f.codePrices[2] = QStringLiteral("x");
    EXPECT_TRUE(errorOf(f).startsWith(QStringLiteral("PIN de 15 minutos: ")));

    // Saved and read back as it was; the page shows what is stored.
    platform::MemoryRegistry reg;
    EXPECT_FALSE(LoadTariff(reg).set);
    ASSERT_TRUE(SaveTariff(reg, ok.tariff));
    EXPECT_EQ(keys::kTarifaHora.value(reg), QStringLiteral("1.00"));
    EXPECT_EQ(keys::kTarifaBandaPrecio.of(QStringLiteral("TarifaBanda2")).value(reg),
              QStringLiteral("0.90"));
    const Tariff back = LoadTariff(reg);
    EXPECT_EQ(back, ok.tariff);
    EXPECT_EQ(ShowTariff(back).bands[1].to, QStringLiteral("24:00"));
    EXPECT_EQ(back.CodePrice(30), 70);

    // A hand-edited store: a band that overlaps and a price with a comma are
    // left out; an empty price per hour is no tariff.
    keys::kTarifaBandaDesde.of(QStringLiteral("TarifaBanda3")).write(reg, 9 * 60);
    keys::kTarifaBandaHasta.of(QStringLiteral("TarifaBanda3")).write(reg, 10 * 60);
    keys::kTarifaBandaPrecio.of(QStringLiteral("TarifaBanda3")).write(reg, QStringLiteral("5.00"));
    keys::kTarifaPinPrecio.of(QStringLiteral("TarifaPIN60")).write(reg, QStringLiteral("1,50"));
    EXPECT_EQ(LoadTariff(reg).bands.size(), 2u);
    EXPECT_FALSE(LoadTariff(reg).codePrices.count(60));
    keys::kTarifaHora.write(reg, QString());
    EXPECT_FALSE(LoadTariff(reg).set);
}

TEST(TariffTest, PriceListLinesNeverReadAsCommandsAtAnOlderStation) {
    TariffPageFields f = Page(QStringLiteral("1.20"), 30, 15);
    f.bands[0] = {QStringLiteral("18:00"), QStringLiteral("20:00"), QStringLiteral("2.00")};
    f.codePrices = QStringList{QStringLiteral("0.10")};
    const QStringList lines = PriceListText(ApplyTariffPage(f).tariff).split(u'\n');
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("Entre las 18:00 y las 20:00: ")));
    for (const QString& l : lines) {
        bool hex = false;
        l.left(2).toInt(&hex, 16);
        EXPECT_FALSE(hex && l.size() >= 2) << l.toStdString();
    }
    EXPECT_TRUE(PriceListText(Tariff{}).isEmpty());
}

TEST(TariffTest, PreferencesSaveKeepsTheStoredTariffWhenThePageIsRefused) {
    ServerSettings s;
    PreferencesForm form = ShowPreferences(s, std::nullopt, {});
    form.tariff.hourPrice = QStringLiteral("1.50");
    std::optional<Tariff> written;
    ApplyHooks hooks;
    hooks.writeTariff = [&](const Tariff& t) { written = t; };
    ApplyResult r = ApplyPreferences(form, s, hooks);
    EXPECT_TRUE(r.tariffChanged);
    ASSERT_TRUE(written);
    EXPECT_EQ(written->hourCents, 150);
    EXPECT_EQ(ShowPreferences(s, std::nullopt, {}).tariff.hourPrice, QStringLiteral("1.50"));

    written.reset();
    form.tariff.bands[0] = {QStringLiteral("25:00"), QStringLiteral("26:00"), QStringLiteral("1")};
    r = ApplyPreferences(form, s, hooks);
    EXPECT_TRUE(r.tariffError.startsWith(QStringLiteral("Banda 1: ")));
    EXPECT_FALSE(written);
    EXPECT_EQ(s.tariff.hourCents, 150);
    EXPECT_TRUE(s.tariff.bands.empty());
}
