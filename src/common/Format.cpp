#include "common/Format.h"

#include <QStringList>

namespace tarvina::common {

QString FormatSize(qint64 bytes) {
    if (bytes < 1024)
        return QString::number(bytes) + QStringLiteral(" Bytes");
    if (bytes > 1048575)
        return QString::number(bytes / 1048576) + QStringLiteral(" MBytes");
    return QString::number(bytes / 1024) + QStringLiteral(" KBytes");
}

TaxIdFormatInfo TaxIdFormat(const QString& country) {
    struct Row {
        const char16_t* country;
        const char16_t* label;
        const char16_t* mask;
    };
    static const Row rows[] = {
        {u"Argentina", u"C.U.I.T.", u"00-00000000-0;1;_"},
        {u"Uruguay", u"R.U.C.", u"000000000000"},
        {u"España", u"C.I.F.", u"A-00000000"},
        {u"Venezuela", u"R.I.F.", u"J-00000000-0;1;_"},
    };
    for (const Row& r : rows) {
        if (QString::compare(country, QString::fromUtf16(r.country), Qt::CaseInsensitive) == 0)
            return {QString::fromUtf16(r.label), QString::fromUtf16(r.mask)};
    }
    return {QStringLiteral("Registro"), QString()};
}

EditMask ParseEditMask(const QString& mask) {
    EditMask m;
    const QStringList parts = mask.split(u';');
    m.pattern = parts.value(0);
    // Without the second field the literals are kept, as the edit masks of the
    // original do.
    m.keepsLiterals = parts.size() < 2 || parts[1] != QStringLiteral("0");
    if (parts.size() > 2 && !parts[2].isEmpty())
        m.blank = parts[2][0];
    return m;
}

bool TextFitsMask(const QString& text, const QString& mask) {
    if (mask.isEmpty())
        return true;
    const EditMask m = ParseEditMask(mask);
    auto isSlot = [](QChar c) { return c == u'0' || c == u'A'; };
    auto fits = [](QChar slot, QChar c) {
        return slot == u'0' ? (c >= u'0' && c <= u'9') : c.isLetterOrNumber();
    };
    qsizetype t = 0;
    for (const QChar pc : m.pattern) {
        if (isSlot(pc)) {
            if (t >= text.size() || !fits(pc, text[t]))
                return false;
            ++t;
        } else if (m.keepsLiterals) {
            if (t >= text.size() || text[t] != pc)
                return false;
            ++t;
        }
    }
    return t == text.size();
}

} // namespace tarvina::common
