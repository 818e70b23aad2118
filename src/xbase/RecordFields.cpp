#include "xbase/RecordFields.h"

#include "xbase/TableInternals.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tarvina::xbase {

const FieldDef& RecordFields::FieldNamed(const std::string& name) const {
    const DbfFile& dbf = record_.OpenTable();
    int i = dbf.FieldIndex(name);
    if (i < 0)
        Fail(XBaseError::Code::NotFound, "field not found: " + name);
    return dbf.Fields()[std::size_t(i)];
}

std::string RecordFields::GetString(const std::string& field) {
    return Guard([&] {
        const FieldDef& f = FieldNamed(field);
        std::string v(record_.RecordBytes() + f.offset, std::size_t(f.width));
        if (f.type == 'C')
            return TrimRight(v);
        return Trim(v);
    });
}

std::int64_t RecordFields::GetInteger(const std::string& field) {
    return Guard([&] {
        const FieldDef& f = FieldNamed(field);
        return ParseInteger(std::string(record_.RecordBytes() + f.offset, std::size_t(f.width)));
    });
}

std::optional<Date> RecordFields::GetDate(const std::string& field) {
    return Guard([&]() -> std::optional<Date> {
        const FieldDef& f = FieldNamed(field);
        if (f.type != 'D')
            Fail(XBaseError::Code::Invalid, "not a date field: " + field);
        return ParseDate(record_.RecordBytes() + f.offset);
    });
}

std::int64_t RecordFields::GetScaled(const std::string& field) {
    return Guard([&] {
        const FieldDef& f = FieldNamed(field);
        if (f.type != 'N')
            Fail(XBaseError::Code::Invalid, "not a numeric field: " + field);
        return ParseScaled(std::string(record_.RecordBytes() + f.offset, std::size_t(f.width)),
                           f.decimals);
    });
}

void RecordFields::SetScaled(const std::string& field, std::int64_t value) {
    Guard([&] {
        const FieldDef& f = FieldNamed(field);
        if (f.type != 'N')
            Fail(XBaseError::Code::Invalid, "not a numeric field: " + field);
        const bool neg = value < 0;
        const auto magnitude = neg ? 0 - static_cast<std::uint64_t>(value) : std::uint64_t(value);
        std::string digits = std::to_string(magnitude);
        const auto places = std::size_t(f.decimals);
        if (digits.size() <= places)
            digits.insert(0, places + 1 - digits.size(), '0');
        std::string text = digits;
        if (places > 0)
            text = digits.substr(0, digits.size() - places) + "." +
                   digits.substr(digits.size() - places);
        if (neg)
            text.insert(0, 1, '-');
        if (text.size() > std::size_t(f.width))
            Fail(XBaseError::Code::Invalid, "value does not fit field " + f.name);
        char* p = record_.ChangeRecord() + f.offset;
        std::memset(p, ' ', std::size_t(f.width));
        std::memcpy(p + (std::size_t(f.width) - text.size()), text.data(), text.size());
    });
}

bool RecordFields::GetLogical(const std::string& field) {
    return Guard([&] {
        const FieldDef& f = FieldNamed(field);
        if (f.type != 'L')
            Fail(XBaseError::Code::Invalid, "not a logical field: " + field);
        const char c = record_.RecordBytes()[f.offset];
        return c == 'T' || c == 't' || c == 'Y' || c == 'y';
    });
}

void RecordFields::SetLogical(const std::string& field, bool value) {
    Guard([&] {
        const FieldDef& f = FieldNamed(field);
        if (f.type != 'L')
            Fail(XBaseError::Code::Invalid, "not a logical field: " + field);
        record_.ChangeRecord()[f.offset] = value ? 'T' : 'F';
    });
}

bool RecordFields::IsNull(const std::string& field) {
    return Guard([&] {
        const FieldDef& f = FieldNamed(field);
        const char* p = record_.RecordBytes() + f.offset;
        if (f.type == 'D')
            return !ParseDate(p).has_value();
        return std::all_of(p, p + f.width, [](char c) { return c == ' '; });
    });
}

void RecordFields::SetString(const std::string& field, const std::string& value) {
    Guard([&] {
        const FieldDef& f = FieldNamed(field);
        if (f.type == 'N') {
            if (Trim(value).empty()) {
                SetNull(field);
                return;
            }
            SetInteger(field, ParseInteger(value));
            return;
        }
        if (f.type == 'D') {
            if (Trim(value).empty()) {
                SetNull(field);
                return;
            }
            auto dt = value.size() == 8 ? ParseDate(value.data()) : std::nullopt;
            if (!dt)
                Fail(XBaseError::Code::Invalid, "not a date (YYYYMMDD): " + value);
            SetDate(field, dt);
            return;
        }
        char* p = record_.ChangeRecord() + f.offset;
        std::memset(p, ' ', std::size_t(f.width));
        std::memcpy(p, value.data(), std::min(value.size(), std::size_t(f.width)));
    });
}

void RecordFields::SetInteger(const std::string& field, std::int64_t value) {
    Guard([&] {
        const FieldDef& f = FieldNamed(field);
        std::string text = std::to_string(value);
        if (f.type == 'N' && f.decimals > 0)
            text += "." + std::string(std::size_t(f.decimals), '0');
        if (f.type == 'C') {
            SetString(field, text);
            return;
        }
        if (f.type != 'N')
            Fail(XBaseError::Code::Invalid, "not a numeric field: " + field);
        if (text.size() > std::size_t(f.width))
            Fail(XBaseError::Code::Invalid, "value does not fit field " + f.name);
        char* p = record_.ChangeRecord() + f.offset;
        std::memset(p, ' ', std::size_t(f.width));
        std::memcpy(p + (std::size_t(f.width) - text.size()), text.data(), text.size());
    });
}

void RecordFields::SetDate(const std::string& field, const std::optional<Date>& value) {
    Guard([&] {
        const FieldDef& f = FieldNamed(field);
        if (f.type != 'D')
            Fail(XBaseError::Code::Invalid, "not a date field: " + field);
        if (value && !ValidDate(*value))
            Fail(XBaseError::Code::Invalid, "invalid date for field " + f.name);
        char* p = record_.ChangeRecord() + f.offset;
        if (!value) {
            std::memset(p, ' ', 8);
            return;
        }
        char text[16];
        std::snprintf(text, sizeof text, "%04d%02d%02d", value->year, value->month, value->day);
        std::memcpy(p, text, 8);
    });
}

void RecordFields::SetNull(const std::string& field) {
    Guard([&] {
        const FieldDef& f = FieldNamed(field);
        std::memset(record_.ChangeRecord() + f.offset, ' ', std::size_t(f.width));
    });
}

bool RecordFields::FieldExists(const std::string& name) const {
    return Guard([&] { return record_.OpenTable().FieldIndex(name) >= 0; });
}

std::vector<FieldDef> RecordFields::Fields() const {
    return Guard([&] { return record_.OpenTable().Fields(); });
}

} // namespace tarvina::xbase
