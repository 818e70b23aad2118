#pragma once

#include "common/DateTime.h"
#include "platform/Registry.h"

#include <QString>
#include <QStringList>
#include <array>
#include <map>
#include <optional>
#include <vector>

namespace tarvina::server {

// A time of day with its own price per hour: minutes [from, to) of the day,
// 0 to 1440.
struct TariffBand {
    int from = 0;
    int to = 0;
    qint64 hourCents = 0;
    friend bool operator==(const TariffBand&, const TariffBand&) = default;
};

// What the café charges: the price per hour, the minimum and the step of the
// charge, the bands that override the hour's price, and the price of each
// code length sold. All amounts in cents.
struct Tariff {
    static constexpr int kMaxBands = 8;
    static constexpr int kMinutesPerDay = 1440;
    // The longest use or step that counts: beyond it a stored value is taken
    // as damaged.
    static constexpr int kMaxMinutes = 100 * kMinutesPerDay;

    // False while no price per hour is set: the program then shows no money
    // anywhere.
    bool set = false;
    qint64 hourCents = 0;
    int minimum = 0;
    int step = 1;
    std::vector<TariffBand> bands;
    std::map<int, qint64> codePrices; // minutes of a code -> its price

    // max(minimum, minutes rounded up to a multiple of the step).
    qint64 ChargedMinutes(qint64 minutes) const;
    // The price per hour that holds in the given minute of the day.
    qint64 HourPriceAt(int minuteOfDay) const;
    // What a use of `minutes` that started at `start` costs: every charged
    // minute at its band's price per hour over 60, the sum rounded half up
    // to cents. 0 without a tariff.
    qint64 UseCost(const common::DateTime& start, qint64 minutes) const;
    // The price of a code of `minutes`: its own when one is set, else the
    // minutes at the price per hour; nullopt without a tariff.
    std::optional<qint64> CodePrice(qint64 minutes) const;

    friend bool operator==(const Tariff&, const Tariff&) = default;
};

// The code lengths the codes page offers, each with a price of its own.
const std::vector<int>& TariffCodeMinutes();

// Reads the tariff from the store. A value that does not read as it was
// written (a price that is no price, a band out of the day or overlapping
// another) is left out, so that a hand-edited store never charges nonsense.
Tariff LoadTariff(const platform::Registry& registry);
// Writes every tariff value; removes nothing, so an empty price clears a
// band or a code price. False when the store could not save.
bool SaveTariff(platform::Registry& registry, const Tariff& tariff);

// --- the "Tarifas" page, without its widgets ---

struct TariffBandFields {
    QString from, to, price; // "hh:mm", "hh:mm", "1.20"; all empty: no band
};
struct TariffPageFields {
    QString hourPrice;
    int minimum = 0;
    int step = 1;
    std::array<TariffBandFields, Tariff::kMaxBands> bands;
    // One per entry of TariffCodeMinutes(), in that order; empty: none.
    QStringList codePrices;
};
// The page as the store's tariff shows it.
TariffPageFields ShowTariff(const Tariff& tariff);
// What the page asks for; on error, the text for the cashier and the tariff
// left out.
struct TariffPageResult {
    Tariff tariff;
    QString error;
};
TariffPageResult ApplyTariffPage(const TariffPageFields& fields);

// The price list the stations show: the price per hour, the minimum and the
// step, each band and each code's price, one line each, in the café's
// currency. Empty without a tariff.
QString PriceListText(const Tariff& tariff);

// "hh:mm" of a minute of the day (1440 is "24:00").
QString DayMinuteText(int minuteOfDay);
// "hh:mm" between "00:00" and "24:00"; nullopt for anything else.
std::optional<int> ParseDayMinute(const QString& text);

} // namespace tarvina::server
