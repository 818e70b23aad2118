#pragma once

// The text of xBase fields as values: numbers, dates, blank padding.

#include <cstdint>
#include <optional>
#include <string>

namespace tarvina::xbase {

struct Date {
    int year = 0, month = 0, day = 0;
    bool operator==(const Date&) const = default;
};

std::string TrimRight(std::string s);
std::string Trim(const std::string& s);
// Whole part of an xBase numeric text; blank or malformed text reads as 0.
std::int64_t ParseInteger(const std::string& text);
// A numeric text with `decimals` places as a whole number of its smallest
// unit ("12.30" with 2 is 1230); blank or malformed text reads as 0. Digits
// beyond `decimals` are dropped.
std::int64_t ParseScaled(const std::string& text, int decimals);
bool ValidDate(const Date& d);
// The eight YYYYMMDD bytes at p; nullopt when they are no valid date.
std::optional<Date> ParseDate(const char* p);

} // namespace tarvina::xbase
