#include "support/CodeTables.h"

#include "xbase/PosixFileSystem.h"

#include <cstdio>

namespace tarvina::xbase::test {

const std::vector<FieldSpec>& CodeFields(CodeLayout layout) {
    static const std::vector<FieldSpec> current = {
        {"PIN", "C", 6},   {"SALDO", "N", 9}, {"CFECHA", "D", 8}, {"CHORA", "C", 8},
        {"FECHA", "D", 8}, {"HORA", "C", 8},  {"MAC", "C", 17},   {"EQUIPO", "C", 64}};
    static const std::vector<FieldSpec> beforeEquipo(current.begin(), current.end() - 1);
    return layout == CodeLayout::Current ? current : beforeEquipo;
}

const std::vector<FieldSpec>& HistoryFields() {
    static const std::vector<FieldSpec> fields = {
        {"PIN", "C", 6},   {"ASIG", "N", 9},  {"CONSUMO", "N", 9}, {"CFECHA", "D", 8},
        {"CHORA", "C", 8}, {"FECHA", "D", 8}, {"HORA", "C", 8}};
    return fields;
}

const std::vector<TagSpec>& CodeTagSpecs(CodeTags tags) {
    static const std::vector<TagSpec> all = {{"PIN", "PIN", kNotDeleted},
                                             {"MAC", "MAC", kNotDeletedNorBlankMac},
                                             {"FECHOR", "DTOS(FECHA)+ HORA", kNotDeleted}};
    static const std::vector<TagSpec> pinOnly(all.begin(), all.begin() + 1);
    return tags == CodeTags::All ? all : pinOnly;
}

const std::vector<TagSpec>& HistoryTagSpecs() {
    static const std::vector<TagSpec> tags = {
        {"PIN", "PIN", kNotDeleted},
        {"FECHOR", "DTOS(FECHA)+ HORA", kNotDeleted},
        {"PINFECHOR", "PIN + DTOS(FECHA)+ HORA", kNotDeleted}};
    return tags;
}

void CreateTable(TableEngine& t, const std::string& path, const std::vector<FieldSpec>& fields) {
    t.CreateNew(path, kTableTypeFoxPro, int(fields.size()));
    for (const FieldSpec& f : fields)
        t.CreateField(f.name, f.type, f.width, 0);
    t.CreateExec();
}

void CreateCodeTable(TableEngine& t, const std::string& path, CodeLayout layout) {
    CreateTable(t, path, CodeFields(layout));
}

void CreateHistoryTable(TableEngine& t, const std::string& path) {
    CreateTable(t, path, HistoryFields());
}

void AddTags(TableEngine& t, const std::vector<TagSpec>& tags) {
    for (const TagSpec& tag : tags)
        t.IndexTag("", tag.name, tag.key, 0, false, tag.condition);
}

void IndexCodeTable(TableEngine& t, CodeTags tags) {
    AddTags(t, CodeTagSpecs(tags));
}

void OpenNewCodeTable(TableEngine& t, const std::string& path, CodeLayout layout, CodeTags tags) {
    CreateCodeTable(t, path, layout);
    t.Open(path, true);
    IndexCodeTable(t, tags);
}

void CreateIndexedCodeTable(const std::string& path, CodeLayout layout, CodeTags tags) {
    TableEngine t(RealFileSystem());
    OpenNewCodeTable(t, path, layout, tags);
    t.Close();
}

void AppendCode(TableEngine& t, const NewCode& code) {
    t.Append();
    t.SetString("PIN", code.pin);
    t.SetInteger("SALDO", code.saldo);
    t.SetDate("FECHA", code.fecha);
    t.SetString("HORA", code.hora);
    if (!code.mac.empty())
        t.SetString("MAC", code.mac);
    t.Post();
}

void AddCode(TableEngine& t, const std::string& pin, std::int64_t saldo, Date fecha,
             const std::string& hora, const std::string& mac) {
    AppendCode(t, {pin, saldo, fecha, hora, mac});
    t.Commit();
}

void AppendHistory(TableEngine& t, const HistoryRow& row) {
    t.Append();
    t.SetString("PIN", row.pin);
    t.SetInteger("ASIG", row.asig);
    t.SetDate("FECHA", row.fecha);
    t.SetString("HORA", row.hora);
    t.Post();
}

std::string ScatteredCode(std::uint32_t i) {
    char pin[8];
    std::snprintf(pin, sizeof pin, "%06X", (i * 2654435761u) & 0xFFFFFFu);
    return pin;
}

void AppendGeneratedCode(TableEngine& t, std::uint32_t i) {
    char hora[16];
    std::snprintf(hora, sizeof hora, "%02u:%02u:%02u", i % 24, i % 60, (i / 60) % 60);
    AppendCode(t, {ScatteredCode(i), 30 + i % 90,
                   Date{2020 + int(i % 6), 1 + int(i % 12), 1 + int(i % 28)}, hora,
                   i % 3 == 0 ? "00-1A-2B-3C-4D-5E" : ""});
}

} // namespace tarvina::xbase::test
