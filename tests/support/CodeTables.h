#pragma once

// The café's code tables (CajaPIN, CajaHPIN) for every test and benchmark
// that needs one: their fields, their tags and the rows put in them. The
// engine's tests build the tables here; the server's tests check that the
// program creates exactly this layout, so both speak of the same table.

#include "xbase/TableEngine.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarvina::xbase::test {

struct FieldSpec {
    const char* name;
    const char* type;
    int width;
};

struct TagSpec {
    const char* name;
    const char* key;
    const char* condition;
};

inline constexpr const char* kNotDeleted = ".not. deleted()";
inline constexpr const char* kNotDeletedNorBlankMac = ".not. deleted() .and. .not. EMPTY(MAC)";

enum class CodeLayout {
    Current,      // PIN SALDO CFECHA CHORA FECHA HORA MAC EQUIPO
    BeforeEquipo, // the previous version's table, which the start-up check upgrades
};

enum class CodeTags {
    All,     // PIN, MAC (rows that have one), FECHOR
    PinOnly, // what the previous version's table carried
};

const std::vector<FieldSpec>& CodeFields(CodeLayout layout = CodeLayout::Current);
const std::vector<FieldSpec>& HistoryFields();
const std::vector<TagSpec>& CodeTagSpecs(CodeTags tags = CodeTags::All);
// PIN, FECHOR, PINFECHOR.
const std::vector<TagSpec>& HistoryTagSpecs();

// Creates the file of an empty table; the handle is left closed.
void CreateTable(TableEngine& t, const std::string& path, const std::vector<FieldSpec>& fields);
void CreateCodeTable(TableEngine& t, const std::string& path,
                     CodeLayout layout = CodeLayout::Current);
void CreateHistoryTable(TableEngine& t, const std::string& path);

// Builds the tags on a table the handle holds open exclusively.
void AddTags(TableEngine& t, const std::vector<TagSpec>& tags);
void IndexCodeTable(TableEngine& t, CodeTags tags = CodeTags::All);

// A new empty code table with its tags, left open exclusively on `t`.
void OpenNewCodeTable(TableEngine& t, const std::string& path,
                      CodeLayout layout = CodeLayout::Current, CodeTags tags = CodeTags::All);
// The same, closed.
void CreateIndexedCodeTable(const std::string& path, CodeLayout layout = CodeLayout::Current,
                            CodeTags tags = CodeTags::All);

struct NewCode {
    std::string pin;
    std::int64_t saldo = 0;
    Date fecha;
    std::string hora;
    std::string mac; // left blank when empty
};

// A sold code as the codes page appends it: appended and posted, not
// committed, so a caller may delete it or add more before the commit.
void AppendCode(TableEngine& t, const NewCode& code);
// Appended, posted and committed.
void AddCode(TableEngine& t, const std::string& pin, std::int64_t saldo, Date fecha,
             const std::string& hora, const std::string& mac = std::string());

struct HistoryRow {
    std::string pin;
    std::int64_t asig = 0;
    Date fecha;
    std::string hora;
};

// Appended and posted, not committed.
void AppendHistory(TableEngine& t, const HistoryRow& row);

// The i-th of 2^24 distinct six-digit codes: an odd multiplier permutes
// 0 .. 2^24 - 1, so consecutive codes scatter over the whole key range.
std::string ScatteredCode(std::uint32_t i);
// Row i of a large generated code table, appended and posted: the scattered
// code, dates over six years, a MAC on every third row.
void AppendGeneratedCode(TableEngine& t, std::uint32_t i);

} // namespace tarvina::xbase::test
