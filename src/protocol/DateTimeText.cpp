#include "protocol/DateTimeText.h"

#include "protocol/Fields.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace tarvina::protocol {

namespace {

constexpr int kSignificant = 15;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

QByteArray FormatDateTimeNumber(double days) {
    if (!std::isfinite(days) || days == 0.0)
        return QByteArrayLiteral("0");

    // d.ddddddddddddddde±xx, rounded to 15 significant digits, with no
    // locale involved.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(days),
                                   std::chars_format::scientific, kSignificant - 1);
    if (res.ec != std::errc())
        return QByteArrayLiteral("0");
    const std::string_view sci(buf, static_cast<size_t>(res.ptr - buf));
    const size_t ePos = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, ePos)) {
        if (IsDigit(c))
            digits.push_back(c);
    }
    int exp10 = 0;
    std::from_chars(sci.data() + ePos + 1 + (sci[ePos + 1] == '+' ? 1 : 0), sci.data() + sci.size(),
                    exp10);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    QByteArray out;
    if (days < 0)
        out.append('-');
    const int k = static_cast<int>(digits.size());
    if (exp10 >= kSignificant || exp10 < -4) {
        out.append(digits[0]);
        if (k > 1) {
            out.append('.');
            out.append(digits.data() + 1, k - 1);
        }
        out.append('E');
        if (exp10 < 0)
            out.append('-');
        out.append(QByteArray::number(std::abs(exp10)));
    } else if (exp10 >= 0) {
        const int intDigits = exp10 + 1;
        if (k <= intDigits) {
            out.append(digits.data(), k);
            out.append(QByteArray(intDigits - k, '0'));
        } else {
            out.append(digits.data(), intDigits);
            out.append('.');
            out.append(digits.data() + intDigits, k - intDigits);
        }
    } else {
        out.append("0.");
        out.append(QByteArray(-exp10 - 1, '0'));
        out.append(digits.data(), k);
    }
    return out;
}

std::optional<double> ParseDateTimeNumber(QByteArrayView text) {
    const QByteArrayView trimmed = TrimmedView(text);
    const qsizetype b = trimmed.data() - text.data();
    const qsizetype e = b + trimmed.size();
    // Nothing sensible is this long; it also bounds the copy below.
    if (e - b == 0 || e - b > 64)
        return std::nullopt;

    // Check the grammar here: from_chars alone would also take "inf", "nan".
    std::string s;
    qsizetype i = b;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    int mantissaDigits = 0;
    while (i < e && IsDigit(text[i])) {
        s.push_back(text[i++]);
        ++mantissaDigits;
    }
    if (i < e && (text[i] == '.' || text[i] == ',')) {
        s.push_back('.');
        ++i;
        while (i < e && IsDigit(text[i])) {
            s.push_back(text[i++]);
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (i < e && (text[i] == 'E' || text[i] == 'e')) {
        s.push_back('e');
        ++i;
        if (i < e && (text[i] == '+' || text[i] == '-'))
            s.push_back(text[i++]);
        int expDigits = 0;
        while (i < e && IsDigit(text[i])) {
            s.push_back(text[i++]);
            ++expDigits;
        }
        if (expDigits == 0)
            return std::nullopt;
    }
    if (i != e)
        return std::nullopt;

    double v = 0;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (res.ec != std::errc() || res.ptr != s.data() + s.size() || !std::isfinite(v))
        return std::nullopt;
    return negative ? -v : v;
}

} // namespace tarvina::protocol
