#pragma once

#include "xbase/Dbf.h"
#include "xbase/FieldText.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvina::xbase {

// The record a handle is on, as reading and writing its fields needs it. The
// engine provides it.
class CurrentRecord {
public:
    // The open table; throws XBaseError(Invalid) when none is open.
    virtual const DbfFile& OpenTable() const = 0;
    // The current record's bytes, read from the file first when the handle
    // moved by the index and has not looked at the record yet.
    virtual const char* RecordBytes() = 0;
    // The same bytes to be changed: the record is in edit (or append) mode
    // afterwards and marked modified; throws when there is no current record.
    virtual char* ChangeRecord() = 0;

protected:
    ~CurrentRecord() = default;
};

// Fields of the current record by name, as typed values: the conversions
// between xBase field text and numbers, dates and strings. Every operation
// completes or throws XBaseError.
class RecordFields {
public:
    // A C field reads without trailing blanks; a null date reads as nullopt;
    // a blank N field reads as 0.
    std::string GetString(const std::string& field);
    std::int64_t GetInteger(const std::string& field);
    std::optional<Date> GetDate(const std::string& field);
    // An N field with decimals as a whole number of its smallest unit (cents
    // of an N(12,2)); written back exactly, never through a binary fraction.
    std::int64_t GetScaled(const std::string& field);
    void SetScaled(const std::string& field, std::int64_t value);
    // An L field: "T", "t", "Y" or "y" read as true; anything else false.
    bool GetLogical(const std::string& field);
    void SetLogical(const std::string& field, bool value);
    bool IsNull(const std::string& field);
    void SetString(const std::string& field, const std::string& value);
    void SetInteger(const std::string& field, std::int64_t value);
    void SetDate(const std::string& field, const std::optional<Date>& value);
    void SetNull(const std::string& field);

    bool FieldExists(const std::string& name) const;
    std::vector<FieldDef> Fields() const;

protected:
    explicit RecordFields(CurrentRecord& record) : record_(record) {}
    ~RecordFields() = default;

private:
    const FieldDef& FieldNamed(const std::string& name) const;

    CurrentRecord& record_;
};

} // namespace tarvina::xbase
