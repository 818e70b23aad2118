#include "xbase/FieldText.h"

namespace tarvina::xbase {

std::string TrimRight(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return std::string();
    std::size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

std::int64_t ParseInteger(const std::string& text) {
    std::string t = Trim(text);
    std::size_t i = 0;
    bool neg = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+'))
        neg = t[i++] == '-';
    std::int64_t v = 0;
    bool any = false;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
        if (v > (INT64_MAX - 9) / 10)
            return 0;
        v = v * 10 + (t[i] - '0');
        any = true;
    }
    if (!any)
        return 0;
    return neg ? -v : v;
}

std::int64_t ParseScaled(const std::string& text, int decimals) {
    const std::string t = Trim(text);
    const std::size_t dot = t.find('.');
    std::int64_t v = ParseInteger(t.substr(0, dot));
    const bool neg = !t.empty() && t[0] == '-';
    for (int i = 0; i < decimals; ++i) {
        const std::size_t at =
            dot == std::string::npos ? std::string::npos : dot + 1 + std::size_t(i);
        const int digit = at < t.size() && t[at] >= '0' && t[at] <= '9' ? t[at] - '0' : 0;
        if (v > (INT64_MAX - 9) / 10 || v < (INT64_MIN + 9) / 10)
            return 0;
        v = v * 10 + (neg ? -digit : digit);
    }
    return v;
}

bool ValidDate(const Date& d) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1)
        return false;
    int max = days[d.month - 1];
    if (d.month == 2 && ((d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0))
        max = 29;
    return d.day <= max;
}

std::optional<Date> ParseDate(const char* p) {
    Date d;
    for (int i = 0; i < 8; ++i)
        if (p[i] < '0' || p[i] > '9')
            return std::nullopt;
    d.year = (p[0] - '0') * 1000 + (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
    d.month = (p[4] - '0') * 10 + (p[5] - '0');
    d.day = (p[6] - '0') * 10 + (p[7] - '0');
    if (!ValidDate(d))
        return std::nullopt;
    return d;
}

} // namespace tarvina::xbase
