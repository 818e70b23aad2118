#include "server/shell/Greeting.h"

#include "common/Cp1252.h"

#include <QFile>
#include <QStringDecoder>

namespace tarvina::server {

namespace {

// The quotes file comes from Windows (code page 1252) or from an editor on
// this system (UTF-8): valid UTF-8 is taken as such.
QString DecodeLine(const QByteArray& raw) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(raw);
    if (utf8.hasError())
        text = common::FromCp1252(raw);
    return text;
}

} // namespace

QString Greeting::Salutation(const QTime& time) {
    if (time.hour() < 12)
        return QStringLiteral("Buenos días ");
    if (time.hour() >= 18)
        return QStringLiteral("Buenas noches ");
    return QStringLiteral("Buenas tardes ");
}

std::optional<QString> Greeting::QuoteOfTheDay(const QString& path,
                                               const std::function<quint32(quint32)>& pick) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxFileBytes)
        return std::nullopt;
    const QByteArray all = f.read(kMaxFileBytes);
    QList<QByteArray> lines = all.split('\n');
    for (QByteArray& l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    if (lines.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 n = lines.first().trimmed().toLongLong(&ok);
    // A final line break leaves an empty piece that is no quote.
    qsizetype held = lines.size() - 1;
    if (held > 0 && all.endsWith('\n'))
        --held;
    if (!ok || n <= 0 || n > held)
        return std::nullopt;
    const quint32 chosen = pick(static_cast<quint32>(n));
    if (chosen >= n)
        return std::nullopt;
    QString quote = DecodeLine(lines.at(1 + chosen));
    if (quote.size() > kMaxQuoteChars)
        quote.truncate(kMaxQuoteChars);
    return quote;
}

QString Greeting::Text(const QTime& time, const std::optional<QString>& quote) {
    QString text = Salutation(time);
    if (quote)
        text += QStringLiteral("\r\nCita del día: \r\n   ") + *quote;
    return text;
}

} // namespace tarvina::server
