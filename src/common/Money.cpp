#include "common/Money.h"

namespace tarvina::common {

namespace {

QString NotANumber(const QString& text) {
    return QStringLiteral("«%1» no es un precio: escriba un número como 1.20.").arg(text.left(40));
}

} // namespace

MoneyParse ParseMoney(const QString& typed) {
    const QString text = typed.trimmed();
    if (text.isEmpty())
        return {std::nullopt, QStringLiteral("Falta el precio.")};
    qsizetype i = 0;
    if (text[0] == u'-' || text[0] == u'+') {
        if (text[0] == u'-' && text.size() > 1)
            return {std::nullopt, QStringLiteral("Un precio no puede ser negativo.")};
        ++i;
    }
    qint64 units = 0;
    int wholeDigits = 0;
    bool tooLarge = false;
    for (; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i) {
        units = units * 10 + (text[i].unicode() - u'0');
        ++wholeDigits;
        // Beyond the largest price in any case; stops the number growing.
        if (units > kMaxPriceCents / 100) {
            tooLarge = true;
            units = kMaxPriceCents;
        }
    }
    qint64 cents = 0;
    int decimals = 0;
    if (i < text.size() && (text[i] == u'.' || text[i] == u',')) {
        for (++i; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i) {
            if (++decimals <= 2)
                cents = cents * 10 + (text[i].unicode() - u'0');
        }
        if (decimals == 1)
            cents *= 10;
    }
    if (i != text.size() || (wholeDigits == 0 && decimals == 0))
        return {std::nullopt, NotANumber(text)};
    if (decimals > 2)
        return {
            std::nullopt,
            QStringLiteral("Un precio lleva a lo sumo dos decimales: «%1».").arg(text.left(40))};
    if (tooLarge || units * 100 + cents > kMaxPriceCents)
        return {std::nullopt, QStringLiteral("Un precio no puede pasar de 9999999.99.")};
    return {units * 100 + cents, {}};
}

QString MoneyText(qint64 cents) {
    const bool negative = cents < 0;
    // Through unsigned so that the most negative value has a magnitude too.
    const quint64 magnitude = negative ? 0 - static_cast<quint64>(cents) : quint64(cents);
    QString text = QString::number(magnitude / 100) + u'.' +
                   QStringLiteral("%1").arg(magnitude % 100, 2, 10, QLatin1Char('0'));
    return negative ? u'-' + text : text;
}

qint64 DivideHalfUp(qint64 numerator, qint64 denominator) {
    if (numerator < 0)
        return -DivideHalfUp(-numerator, denominator);
    // floor(n / d + 1/2) without leaving whole numbers.
    return (2 * numerator + denominator) / (2 * denominator);
}

} // namespace tarvina::common
