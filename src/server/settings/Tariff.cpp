#include "server/settings/Tariff.h"

#include "common/Currency.h"
#include "common/Money.h"
#include "server/settings/ServerKeys.h"

#include <algorithm>

namespace tarvina::server {

using namespace keys;

namespace {

QString BandName(int index) {
    return QStringLiteral("TarifaBanda%1").arg(index + 1);
}

QString CodeName(int minutes) {
    return QStringLiteral("TarifaPIN%1").arg(minutes);
}

std::optional<qint64> StoredPrice(const std::optional<QString>& text) {
    if (!text)
        return std::nullopt;
    // The store keeps the dot; a comma or anything else is no price.
    if (text->contains(u','))
        return std::nullopt;
    return common::ParseMoney(*text).cents;
}

bool Overlaps(const TariffBand& a, const TariffBand& b) {
    return a.from < b.to && b.from < a.to;
}

} // namespace

const std::vector<int>& TariffCodeMinutes() {
    static const std::vector<int> minutes = {5, 10, 15, 30, 60, 90, 120};
    return minutes;
}

qint64 Tariff::ChargedMinutes(qint64 minutes) const {
    const qint64 m = std::clamp<qint64>(minutes, 0, kMaxMinutes);
    const qint64 s = std::max(step, 1);
    return std::max<qint64>(minimum, (m + s - 1) / s * s);
}

qint64 Tariff::HourPriceAt(int minuteOfDay) const {
    for (const TariffBand& b : bands) {
        if (minuteOfDay >= b.from && minuteOfDay < b.to)
            return b.hourCents;
    }
    return hourCents;
}

namespace {

// The sum of the prices per hour of the minutes [a, b) of one day (0 <= a <=
// b <= 1440). The day's price is constant between band edges, so the sum
// takes one product per stretch, not one step per minute: the computers view
// asks it for every computer in use at every tick.
qint64 DaySum(const Tariff& t, int a, int b) {
    std::vector<int> edges;
    edges.reserve(2 * t.bands.size() + 2);
    edges.push_back(a);
    for (const TariffBand& band : t.bands) {
        if (band.from > a && band.from < b)
            edges.push_back(band.from);
        if (band.to > a && band.to < b)
            edges.push_back(band.to);
    }
    std::sort(edges.begin() + 1, edges.end());
    edges.push_back(b);
    qint64 sum = 0;
    for (std::size_t i = 0; i + 1 < edges.size(); ++i)
        sum += qint64(edges[i + 1] - edges[i]) * t.HourPriceAt(edges[i]);
    return sum;
}

} // namespace

qint64 Tariff::UseCost(const common::DateTime& start, qint64 minutes) const {
    if (!set)
        return 0;
    const qint64 charged = ChargedMinutes(minutes);
    // Sums of prices per hour: a minute costs its hour's price over 60, and
    // only the total is rounded.
    qint64 sum = (charged / kMinutesPerDay) * DaySum(*this, 0, kMinutesPerDay);
    const int at = start.isValid() ? start.hour() * 60 + start.minute() : 0;
    const int rest = int(charged % kMinutesPerDay);
    if (at + rest <= kMinutesPerDay) {
        sum += DaySum(*this, at, at + rest);
    } else {
        sum += DaySum(*this, at, kMinutesPerDay);
        sum += DaySum(*this, 0, at + rest - kMinutesPerDay);
    }
    return common::DivideHalfUp(sum, 60);
}

std::optional<qint64> Tariff::CodePrice(qint64 minutes) const {
    if (!set)
        return std::nullopt;
    if (const auto it = codePrices.find(int(minutes)); it != codePrices.end())
        return it->second;
    return common::DivideHalfUp(std::clamp<qint64>(minutes, 0, kMaxMinutes) * hourCents, 60);
}

Tariff LoadTariff(const platform::Registry& r) {
    Tariff t;
    const auto hour = StoredPrice(kTarifaHora.read(r));
    if (!hour)
        return t;
    t.set = true;
    t.hourCents = *hour;
    t.minimum = std::clamp(kTarifaMinimo.value(r), 0, Tariff::kMaxMinutes);
    t.step = std::clamp(kTarifaFraccion.value(r), 1, Tariff::kMaxMinutes);
    for (int i = 0; i < Tariff::kMaxBands; ++i) {
        const auto from = kTarifaBandaDesde.of(BandName(i)).read(r);
        const auto to = kTarifaBandaHasta.of(BandName(i)).read(r);
        const auto price = StoredPrice(kTarifaBandaPrecio.of(BandName(i)).read(r));
        if (!from || !to || !price || *from < 0 || *to > Tariff::kMinutesPerDay || *from >= *to)
            continue;
        const TariffBand band{*from, *to, *price};
        if (std::none_of(t.bands.begin(), t.bands.end(),
                         [&](const TariffBand& b) { return Overlaps(b, band); }))
            t.bands.push_back(band);
    }
    for (int minutes : TariffCodeMinutes()) {
        if (const auto price = StoredPrice(kTarifaPinPrecio.of(CodeName(minutes)).read(r)))
            t.codePrices[minutes] = *price;
    }
    return t;
}

bool SaveTariff(platform::Registry& r, const Tariff& t) {
    platform::SaveBatch batch(r);
    kTarifaHora.write(r, t.set ? common::MoneyText(t.hourCents) : QString());
    kTarifaMinimo.write(r, t.minimum);
    kTarifaFraccion.write(r, t.step);
    for (int i = 0; i < Tariff::kMaxBands; ++i) {
        const bool used = i < int(t.bands.size());
        const TariffBand b = used ? t.bands[std::size_t(i)] : TariffBand{};
        kTarifaBandaDesde.of(BandName(i)).write(r, b.from);
        kTarifaBandaHasta.of(BandName(i)).write(r, b.to);
        kTarifaBandaPrecio.of(BandName(i))
            .write(r, used ? common::MoneyText(b.hourCents) : QString());
    }
    for (int minutes : TariffCodeMinutes()) {
        const auto it = t.codePrices.find(minutes);
        kTarifaPinPrecio.of(CodeName(minutes))
            .write(r, it == t.codePrices.end() ? QString() : common::MoneyText(it->second));
    }
    return batch.commit();
}

QString PriceListText(const Tariff& t) {
    if (!t.set)
        return {};
    // A station too old to know the list reads its lines as commands: no
    // line may begin with two hexadecimal digits.
    QStringList lines;
    lines << QStringLiteral("Precio por hora: ") + common::FormatCurrency(t.hourCents);
    for (const TariffBand& b : t.bands)
        lines << QStringLiteral("Entre las %1 y las %2: %3 por hora")
                     .arg(DayMinuteText(b.from), DayMinuteText(b.to),
                          common::FormatCurrency(b.hourCents));
    if (t.minimum > 0)
        lines << QStringLiteral("Cobro mínimo: %1 minutos").arg(t.minimum);
    if (t.step > 1)
        lines << QStringLiteral("Se cobra por fracciones de %1 minutos").arg(t.step);
    for (const auto& [minutes, cents] : t.codePrices)
        lines << QStringLiteral("PIN de %1 minutos: %2")
                     .arg(minutes)
                     .arg(common::FormatCurrency(cents));
    return lines.join(u'\n');
}

QString DayMinuteText(int m) {
    return QStringLiteral("%1:%2")
        .arg(m / 60, 2, 10, QLatin1Char('0'))
        .arg(m % 60, 2, 10, QLatin1Char('0'));
}

std::optional<int> ParseDayMinute(const QString& typed) {
    const QString text = typed.trimmed();
    const qsizetype colon = text.indexOf(u':');
    if (colon < 1 || colon > 2 || text.size() != colon + 3)
        return std::nullopt;
    bool okH = false, okM = false;
    const int h = text.left(colon).toInt(&okH);
    const int m = text.mid(colon + 1).toInt(&okM);
    if (!okH || !okM || !text[0].isDigit() || !text[colon + 1].isDigit() || h < 0 || m < 0 ||
        m > 59 || h * 60 + m > Tariff::kMinutesPerDay)
        return std::nullopt;
    return h * 60 + m;
}

TariffPageFields ShowTariff(const Tariff& t) {
    TariffPageFields f;
    f.hourPrice = t.set ? common::MoneyText(t.hourCents) : QString();
    f.minimum = t.minimum;
    f.step = t.step;
    for (std::size_t i = 0; i < t.bands.size() && i < f.bands.size(); ++i) {
        f.bands[i] = {DayMinuteText(t.bands[i].from), DayMinuteText(t.bands[i].to),
                      common::MoneyText(t.bands[i].hourCents)};
    }
    for (int minutes : TariffCodeMinutes()) {
        const auto it = t.codePrices.find(minutes);
        f.codePrices << (it == t.codePrices.end() ? QString() : common::MoneyText(it->second));
    }
    return f;
}

TariffPageResult ApplyTariffPage(const TariffPageFields& f) {
    TariffPageResult out;
    Tariff& t = out.tariff;
    auto fail = [&](const QString& text) {
        out.tariff = {};
        out.error = text;
        return out;
    };
    if (f.minimum < 0 || f.minimum > Tariff::kMaxMinutes)
        return fail(QStringLiteral("El cobro mínimo debe estar entre 0 y %1 minutos.")
                        .arg(Tariff::kMaxMinutes));
    if (f.step < 1 || f.step > Tariff::kMaxMinutes)
        return fail(QStringLiteral("La fracción de cobro debe estar entre 1 y %1 minutos.")
                        .arg(Tariff::kMaxMinutes));
    t.minimum = f.minimum;
    t.step = f.step;
    if (f.hourPrice.trimmed().isEmpty())
        return out; // no tariff: every window as without money
    const common::MoneyParse hour = common::ParseMoney(f.hourPrice);
    if (!hour.cents)
        return fail(QStringLiteral("Precio por hora: ") + hour.error);
    t.set = true;
    t.hourCents = *hour.cents;
    for (std::size_t i = 0; i < f.bands.size(); ++i) {
        const TariffBandFields& b = f.bands[i];
        if (b.from.trimmed().isEmpty() && b.to.trimmed().isEmpty() && b.price.trimmed().isEmpty())
            continue;
        const QString which = QStringLiteral("Banda %1: ").arg(i + 1);
        const auto from = ParseDayMinute(b.from);
        const auto to = ParseDayMinute(b.to);
        if (!from || !to)
            return fail(which +
                        QStringLiteral("las horas se escriben hh:mm, entre 00:00 y 24:00."));
        if (*from >= *to)
            return fail(which + QStringLiteral("la hora final debe ser posterior a la inicial."));
        const common::MoneyParse price = common::ParseMoney(b.price);
        if (!price.cents)
            return fail(which + price.error);
        const TariffBand band{*from, *to, *price.cents};
        for (std::size_t j = 0; j < t.bands.size(); ++j) {
            if (Overlaps(t.bands[j], band))
                return fail(which +
                            QStringLiteral("se superpone con otra banda (%1 a %2).")
                                .arg(DayMinuteText(t.bands[j].from), DayMinuteText(t.bands[j].to)));
        }
        t.bands.push_back(band);
    }
    const auto& lengths = TariffCodeMinutes();
    for (std::size_t i = 0; i < lengths.size() && i < std::size_t(f.codePrices.size()); ++i) {
        const QString& text = f.codePrices[qsizetype(i)];
        if (text.trimmed().isEmpty())
            continue;
        const common::MoneyParse price = common::ParseMoney(text);
        if (!price.cents)
            return fail(QStringLiteral("PIN de %1 minutos: ").arg(lengths[i]) + price.error);
        t.codePrices[lengths[i]] = *price.cents;
    }
    return out;
}

} // namespace tarvina::server
