#include "server/pin/PinRuntime.h"

#include "common/Paths.h"
#include "server/pin/PinTableText.h"
#include "server/shell/ServerCore.h"

#include <QDir>
#include <QFileInfo>

namespace tarvina::server {

using pintext::PathOf;

namespace {

struct FieldSpec {
    const char* name;
    const char* type;
    int width;
};

void CreateTable(const QString& path, std::initializer_list<FieldSpec> fields,
                 std::initializer_list<std::pair<const char*, const char*>> tags,
                 const char* macCondition) {
    xbase::TableEngine t;
    t.CreateNew(PathOf(path), xbase::kTableTypeFoxPro, int(fields.size()));
    for (const FieldSpec& f : fields) {
        t.CreateField(f.name, f.type, f.width, 0);
    }
    t.CreateExec();
    t.Open(PathOf(path), true);
    for (const auto& [tag, key] : tags) {
        const bool mac = std::string(tag) == "MAC";
        t.IndexTag("", tag, key, 0, false, mac ? macCondition : ".not. deleted()");
    }
    t.Close();
}

QString Find(const QString& folder, const QString& name) {
    return common::FindFileCaseInsensitive(folder, name);
}

void OpenHandle(xbase::TableEngine& t, const QString& path, const char* tag) {
    t.Open(PathOf(path), false);
    t.SetOptimisticBuffer(false);
    t.SetOrder(tag);
}

} // namespace

PinRuntime::~PinRuntime() {
    close();
}

void PinRuntime::EnsureCodeTables(const QString& dataFolder) {
    QDir().mkpath(dataFolder);
    const QString history = Find(dataFolder, QStringLiteral("CajaHPIN.dbf"));
    if (!QFileInfo::exists(history)) {
        CreateTable(history,
                    {{"PIN", "C", 6},
                     {"ASIG", "N", 9},
                     {"CONSUMO", "N", 9},
                     {"CFECHA", "D", 8},
                     {"CHORA", "C", 8},
                     {"FECHA", "D", 8},
                     {"HORA", "C", 8}},
                    {{"PIN", "PIN"},
                     {"FECHOR", "DTOS(FECHA)+ HORA"},
                     {"PINFECHOR", "PIN + DTOS(FECHA)+ HORA"}},
                    "");
    }
    const QString codes = Find(dataFolder, QStringLiteral("CajaPIN.dbf"));
    if (!QFileInfo::exists(codes)) {
        CreateTable(codes,
                    {{"PIN", "C", 6},
                     {"SALDO", "N", 9},
                     {"CFECHA", "D", 8},
                     {"CHORA", "C", 8},
                     {"FECHA", "D", 8},
                     {"HORA", "C", 8},
                     {"MAC", "C", 17},
                     {"EQUIPO", "C", 64}},
                    {{"PIN", "PIN"}, {"MAC", "MAC"}, {"FECHOR", "DTOS(FECHA)+ HORA"}},
                    ".not. deleted() .and. .not. EMPTY(MAC)");
    }
}

void PinRuntime::EnsureJournal(const QString& journalPath) {
    QDir().mkpath(QFileInfo(journalPath).absolutePath());
    if (!QFileInfo::exists(journalPath)) {
        CreateTable(journalPath,
                    {{"EQUIPO", "C", 64},
                     {"MAC", "C", 17},
                     {"PIN", "C", 6},
                     {"FDESDE", "D", 8},
                     {"HDESDE", "C", 8},
                     {"FHASTA", "D", 8},
                     {"HHASTA", "C", 8},
                     {"MINSOL", "N", 8}},
                    {{"EQUIPO", "EQUIPO"}, {"MAC", "MAC"}},
                    ".not. deleted() .and. .not. EMPTY(MAC)");
        return;
    }
    // A journal whose index went missing gets its tags again.
    QString cdx = journalPath;
    cdx.replace(cdx.size() - 4, 4, QStringLiteral(".cdx"));
    if (journalPath.endsWith(QStringLiteral(".dbf"), Qt::CaseInsensitive) &&
        !QFileInfo::exists(cdx)) {
        xbase::TableEngine t;
        t.Open(PathOf(journalPath), true);
        t.IndexTag("", "EQUIPO", "EQUIPO", 0, false, ".not. deleted()");
        t.IndexTag("", "MAC", "MAC", 0, false, ".not. deleted() .and. .not. EMPTY(MAC)");
        t.Close();
    }
}

QStringList PinRuntime::start(ServerCore& core, const QString& programFolder,
                              const common::DateTime& startDay, CodeDesk::Hooks hooks) {
    QStringList failures;
    auto attempt = [&](const std::function<void()>& step) {
        try {
            step();
        } catch (const std::exception& e) {
            failures << QString::fromLocal8Bit(e.what());
        }
    };
    dataFolder_ = common::FindFileCaseInsensitive(programFolder, QStringLiteral("data"));
    const QString day = common::FormatDateTime(QStringLiteral("ddmmyyyy"), startDay);
    const QString journal =
        common::ResolveInFolder(programFolder, QStringLiteral("report\\") + day + ".dbf")
            .value_or(programFolder + "/report/" + day + ".dbf");
    attempt([&] { EnsureCodeTables(dataFolder_); });
    attempt([&] { EnsureJournal(journal); });
    attempt([&] { OpenHandle(tbPin_, Find(dataFolder_, QStringLiteral("CAJAPIN.DBF")), "PIN"); });
    attempt(
        [&] { OpenHandle(tbPinCheck_, Find(dataFolder_, QStringLiteral("CAJAPIN.DBF")), "MAC"); });
    attempt([&] {
        OpenHandle(tbRegPin_, Find(dataFolder_, QStringLiteral("CajaHPIN.dbf")), "PINFECHOR");
    });
    attempt([&] {
        tbDiario_.Open(PathOf(journal), false);
        tbDiario_.SetOrder("EQUIPO");
    });
    if (!usageReport_.OpenHtmlList(UsageReportPath(programFolder, startDay),
                                   UsageReportHeaderLines(startDay))) {
        failures << QStringLiteral("No se pudo leer ") + usageReport_.path();
    }
    if (!codeList_.OpenHtmlList(CodeListPath(programFolder, startDay),
                                CodeListHeaderLines(startDay))) {
        failures << QStringLiteral("No se pudo leer ") + codeList_.path();
    }
    PinTables tables;
    tables.tbPin = &tbPin_;
    tables.tbPinCheck = &tbPinCheck_;
    tables.tbRegPin = &tbRegPin_;
    tables.historyTablePath = Find(dataFolder_, QStringLiteral("CajaHPIN.dbf"));
    desk_ = std::make_unique<CodeDesk>(core, tables, tbDiario_.IsOpen() ? &tbDiario_ : nullptr,
                                       &usageReport_, std::move(hooks));
    desk_->attach();
    return failures;
}

bool PinRuntime::close() {
    if (!desk_) {
        return true;
    }
    desk_->detach();
    desk_.reset();
    // The usage report's write failure is ignored; the code list's is not.
    usageReport_.SaveHtmlList();
    const bool listSaved = !codeList_.isOpen() || codeList_.SaveHtmlList();
    for (xbase::TableEngine* t : {&tbPin_, &tbPinCheck_, &tbRegPin_, &tbDiario_}) {
        try {
            t->Close();
        } catch (...) {
        }
    }
    return listSaved;
}

} // namespace tarvina::server
