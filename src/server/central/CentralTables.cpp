#include "server/central/CentralTables.h"

#include "common/Cp1252.h"

#include <QFileInfo>

namespace tarvina::server::central {

const std::vector<TableSpec>& AllTables() {
    static const std::vector<TableSpec> tables = {
        {CentralTable::Uses,
         "usos",
         {{"EQUIPO", "text"},
          {"MAC", "text"},
          {"PIN", "text"},
          {"FDESDE", "date"},
          {"HDESDE", "text"},
          {"FHASTA", "date"},
          {"HHASTA", "text"},
          {"MINSOL", "numeric(8)"}}},
        {CentralTable::Codes,
         "codigos",
         {{"PIN", "text"},
          {"SALDO", "numeric(9)"},
          {"CFECHA", "date"},
          {"CHORA", "text"},
          {"FECHA", "date"},
          {"HORA", "text"},
          {"MAC", "text"},
          {"EQUIPO", "text"}}},
        {CentralTable::CodeHistory,
         "historia_codigos",
         {{"PIN", "text"},
          {"ASIG", "numeric(9)"},
          {"CONSUMO", "numeric(9)"},
          {"CFECHA", "date"},
          {"CHORA", "text"},
          {"FECHA", "date"},
          {"HORA", "text"}}},
        {CentralTable::Till,
         "caja_movimientos",
         {{"FECHA", "date"},
          {"HORA", "text"},
          {"EQUIPO", "text"},
          {"USUARIO", "text"},
          {"CONCEPTO", "text"},
          {"MINUTOS", "numeric(6)"},
          {"MONTO", "numeric(12,2)"},
          {"COBRADO", "boolean"},
          {"FCOBRO", "text"},
          {"PIN", "text"},
          {"CIERRE", "numeric(6)"}}},
    };
    return tables;
}

const TableSpec* SpecOf(CentralTable table) {
    for (const TableSpec& t : AllTables())
        if (t.id == table)
            return &t;
    return nullptr;
}

QString TableName(CentralTable table) {
    const TableSpec* s = SpecOf(table);
    return s ? QString::fromLatin1(s->sqlName) : QString();
}

int JournalDay(const QString& path) {
    const QString name = QFileInfo(path).completeBaseName();
    if (name.size() != 8)
        return 0;
    bool ok = false;
    const int dd = name.left(2).toInt(&ok);
    if (!ok)
        return 0;
    const int mm = name.mid(2, 2).toInt(&ok);
    if (!ok)
        return 0;
    const int yyyy = name.mid(4, 4).toInt(&ok);
    if (!ok || dd < 1 || dd > 31 || mm < 1 || mm > 12)
        return 0;
    return yyyy * 10000 + mm * 100 + dd;
}

namespace {

std::optional<QString> FieldValue(const xbase::FieldDef& f, const char* record) {
    const std::string raw(record + f.offset, std::size_t(f.width));
    switch (f.type) {
    case 'D': {
        if (raw.find_first_not_of(' ') == std::string::npos)
            return std::nullopt;
        for (char c : raw)
            if (c < '0' || c > '9')
                return std::nullopt;
        return QString::fromLatin1(raw.substr(0, 4) + "-" + raw.substr(4, 2) + "-" +
                                   raw.substr(6, 2));
    }
    case 'N':
    case 'F': {
        const auto a = raw.find_first_not_of(' ');
        if (a == std::string::npos)
            return std::nullopt;
        const auto b = raw.find_last_not_of(' ');
        return QString::fromLatin1(raw.substr(a, b - a + 1));
    }
    case 'L':
        if (raw == "T" || raw == "t" || raw == "Y" || raw == "y")
            return QStringLiteral("true");
        if (raw == "F" || raw == "f" || raw == "N" || raw == "n")
            return QStringLiteral("false");
        return std::nullopt;
    default: {
        const auto b = raw.find_last_not_of(' ');
        if (b == std::string::npos)
            return QString();
        return common::FromCp1252(QByteArray(raw.data(), qsizetype(b + 1)));
    }
    }
}

} // namespace

CentralRow RowFromRecord(CentralTable table, const QString& path,
                         const std::vector<xbase::FieldDef>& fields, std::uint32_t recno,
                         const char* record) {
    CentralRow row;
    row.table = table;
    row.path = path;
    row.recno = recno;
    row.deleted = record[0] == xbase::kDbfDeleted;
    const TableSpec* spec = SpecOf(table);
    for (const ColumnSpec& c : spec->columns) {
        std::optional<QString> v;
        for (const xbase::FieldDef& f : fields)
            if (f.name == c.field) {
                v = FieldValue(f, record);
                break;
            }
        row.values.push_back(v);
    }
    row.localId = recno;
    if (table == CentralTable::Uses) {
        row.localId = std::int64_t(JournalDay(path)) * 10000000 + recno;
    } else if (table == CentralTable::Codes && row.values[0]) {
        bool ok = false;
        const qint64 code = row.values[0]->toLongLong(&ok, 16);
        // A row without a code of its own keeps its record number, below
        // every code.
        row.localId = ok && row.values[0]->size() == 6 ? code : -qint64(recno);
    }
    return row;
}

} // namespace tarvina::server::central
