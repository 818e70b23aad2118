#include "server/pin/TableOps.h"

#include "common/Paths.h"
#include "server/pin/PinTableText.h"
#include "xbase/Dbf.h"
#include "xbase/Error.h"
#include "xbase/File.h"
#include "xbase/TableEngine.h"

#include <QFile>
#include <algorithm>
#include <exception>
#include <stdexcept>
#include <vector>

namespace tarvina::server {

using pintext::PathOf;
using xbase::IFileSystem;
using xbase::TableEngine;
using xbase::XBaseError;

const QString TableOps::kSplashCodes = QStringLiteral("Procesando registro PIN");
const QString TableOps::kSplashHistory = QStringLiteral("Procesando registro histo. PIN");
const QString TableOps::kSplashUncleanClose =
    QStringLiteral("Falla en último cierre - Reorganizando.");

namespace {

constexpr const char* kNotDeleted = ".not. deleted()";
constexpr const char* kNotDeletedNorBlankMac = ".not. deleted() .and. .not. EMPTY(MAC)";

const QString kCodesDbf = QStringLiteral("CajaPIN.dbf");
const QString kCodesCdx = QStringLiteral("CajaPIN.cdx");
const QString kHistoryDbf = QStringLiteral("CajaHPIN.dbf");
const QString kHistoryCdx = QStringLiteral("CajaHPIN.cdx");
const QString kTillDbf = QStringLiteral("Caja.dbf");
const QString kTillCdx = QStringLiteral("Caja.cdx");

struct FieldSpec {
    const char* name;
    const char* type;
    int width;
    int decimals = 0;
};

const std::vector<FieldSpec>& FieldsOf(TableOps::Layout layout) {
    static const std::vector<FieldSpec> codes = {
        {"PIN", "C", 6},   {"SALDO", "N", 9}, {"CFECHA", "D", 8}, {"CHORA", "C", 8},
        {"FECHA", "D", 8}, {"HORA", "C", 8},  {"MAC", "C", 17},   {"EQUIPO", "C", 64}};
    static const std::vector<FieldSpec> history = {
        {"PIN", "C", 6},   {"ASIG", "N", 9},  {"CONSUMO", "N", 9}, {"CFECHA", "D", 8},
        {"CHORA", "C", 8}, {"FECHA", "D", 8}, {"HORA", "C", 8}};
    static const std::vector<FieldSpec> journal = {
        {"EQUIPO", "C", 64}, {"MAC", "C", 17},   {"PIN", "C", 6},    {"FDESDE", "D", 8},
        {"HDESDE", "C", 8},  {"FHASTA", "D", 8}, {"HHASTA", "C", 8}, {"MINSOL", "N", 8}};
    static const std::vector<FieldSpec> till = {
        {"FECHA", "D", 8, 0},    {"HORA", "C", 8, 0},      {"EQUIPO", "C", 20, 0},
        {"USUARIO", "C", 20, 0}, {"CONCEPTO", "C", 10, 0}, {"MINUTOS", "N", 6, 0},
        {"MONTO", "N", 12, 2},   {"COBRADO", "L", 1, 0},   {"FCOBRO", "C", 19, 0},
        {"PIN", "C", 12, 0},     {"CIERRE", "N", 6, 0}};
    switch (layout) {
    case TableOps::Layout::Codes:
        return codes;
    case TableOps::Layout::History:
        return history;
    case TableOps::Layout::Till:
        return till;
    case TableOps::Layout::Journal:
        break;
    }
    return journal;
}

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// The entry `name` of `folder` as it exists, in any case; folder/name when
// there is none.
QString Find(IFileSystem& fs, const QString& folder, const QString& name) {
    return FromPath(xbase::ResolvePath(fs, xbase::JoinPath(PathOf(folder), PathOf(name))));
}

QString FolderOf(const QString& path) {
    return FromPath(xbase::FolderOf(PathOf(path)));
}

QString FileNameOf(const QString& path) {
    return FromPath(xbase::FileNameOf(PathOf(path)));
}

// The file name without its last extension.
QString BaseNameOf(const QString& path) {
    const QString name = FileNameOf(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

void CreateEmpty(IFileSystem& fs, const QString& path, TableOps::Layout layout) {
    const auto& fields = FieldsOf(layout);
    TableEngine t(fs);
    t.CreateNew(PathOf(path), xbase::kTableTypeFoxPro, int(fields.size()));
    for (const FieldSpec& f : fields) {
        t.CreateField(f.name, f.type, f.width, f.decimals);
    }
    t.CreateExec();
}

void IndexCodes(TableEngine& t, const char* macCondition) {
    t.IndexTag("", "PIN", "PIN", 0, false, kNotDeleted);
    t.IndexTag("", "MAC", "MAC", 0, false, macCondition);
    t.IndexTag("", "FECHOR", "DTOS(FECHA)+ HORA", 0, false, kNotDeleted);
}

void IndexHistory(TableEngine& t) {
    t.IndexTag("", "PIN", "PIN", 0, false, kNotDeleted);
    t.IndexTag("", "FECHOR", "DTOS(FECHA)+ HORA", 0, false, kNotDeleted);
    t.IndexTag("", "PINFECHOR", "PIN + DTOS(FECHA)+ HORA", 0, false, kNotDeleted);
}

void IndexJournal(TableEngine& t) {
    t.IndexTag("", "EQUIPO", "EQUIPO", 0, false, kNotDeleted);
    t.IndexTag("", "MAC", "MAC", 0, false, kNotDeletedNorBlankMac);
}

void IndexTill(TableEngine& t) {
    t.IndexTag("", "FECHOR", "DTOS(FECHA)+ HORA", 0, false, kNotDeleted);
    t.IndexTag("", "EQUIPO", "EQUIPO", 0, false, kNotDeleted);
}

void CreateIndexed(IFileSystem& fs, const QString& path, TableOps::Layout layout) {
    CreateEmpty(fs, path, layout);
    TableEngine t(fs);
    t.Open(PathOf(path), true);
    switch (layout) {
    case TableOps::Layout::Codes:
        IndexCodes(t, kNotDeletedNorBlankMac);
        break;
    case TableOps::Layout::History:
        IndexHistory(t);
        break;
    case TableOps::Layout::Journal:
        IndexJournal(t);
        break;
    case TableOps::Layout::Till:
        IndexTill(t);
        break;
    }
    t.Close();
}

void OpenHandle(TableEngine& t, const QString& path, const std::string& tag) {
    t.Open(PathOf(path), false);
    t.SetOptimisticBuffer(false);
    t.SetOrder(tag);
}

QString ErrorText(const std::exception& e) {
    return QString::fromLocal8Bit(e.what());
}

// Sets the flag for its lifetime, whichever way the scope is left.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
};

} // namespace

TableOps::TableOps(IFileSystem& fs, QString programFolder, common::LastCommand& lastCommand,
                   Hooks hooks)
    : fs_(fs), programFolder_(std::move(programFolder)), lastCommand_(lastCommand),
      hooks_(std::move(hooks)) {}

QString TableOps::DataFolder(IFileSystem& fs, const QString& programFolder) {
    return Find(fs, programFolder, QStringLiteral("data"));
}

void TableOps::CreateTablesAtLoad(IFileSystem& fs, const QString& programFolder) {
    const QString data = DataFolder(fs, programFolder);
    try {
        fs.MakeFolders(PathOf(data));
    } catch (const XBaseError&) {
        throw std::runtime_error(
            QStringLiteral("No se pudo crear la carpeta %1").arg(data).toStdString());
    }
    CreateHistoryTable(fs, data);
    CreateCodeTable(fs, data);
}

void TableOps::CreateHistoryTable(IFileSystem& fs, const QString& dataFolder) {
    const QString path = Find(fs, dataFolder, kHistoryDbf);
    if (!fs.Exists(PathOf(path))) {
        CreateIndexed(fs, path, Layout::History);
    }
}

void TableOps::CreateCodeTable(IFileSystem& fs, const QString& dataFolder) {
    const QString path = Find(fs, dataFolder, kCodesDbf);
    if (!fs.Exists(PathOf(path))) {
        CreateIndexed(fs, path, Layout::Codes);
    }
}

// ---- files of the data folder ----

QString TableOps::dataFile(const QString& name) const {
    return Find(fs_, DataFolder(fs_, programFolder_), name);
}

bool TableOps::isFile(const QString& path) const {
    const std::string p = PathOf(path);
    return fs_.Exists(p) && !fs_.IsFolder(p);
}

bool TableOps::exists(const QString& name) const {
    return isFile(dataFile(name));
}

// The index file beside a table, found without regard to case.
QString TableOps::indexPathOf(const QString& dbfPath) const {
    return Find(fs_, FolderOf(dbfPath), BaseNameOf(dbfPath) + QStringLiteral(".cdx"));
}

// Whether the table file itself reads (its header and field descriptors
// agree with each other and with the file's length), apart from its index.
bool TableOps::tableFileSound(const QString& path) const {
    const std::string p = PathOf(path);
    try {
        xbase::DbfFile probe(fs_.Open(p, false), p);
        return true;
    } catch (const XBaseError& e) {
        if (e.code() == XBaseError::Code::Damaged) {
            return false;
        }
        throw;
    }
}

void TableOps::remove(const QString& name) const {
    const QString path = dataFile(name);
    if (!isFile(path)) {
        return;
    }
    try {
        fs_.Remove(PathOf(path));
    } catch (const XBaseError&) {
        throw std::runtime_error(QStringLiteral("No se pudo borrar %1").arg(path).toStdString());
    }
}

void TableOps::rename(const QString& from, const QString& to) const {
    const QString source = dataFile(from);
    const QString target = dataFile(to);
    try {
        fs_.Rename(PathOf(source), PathOf(target));
    } catch (const XBaseError&) {
        throw std::runtime_error(QStringLiteral("No se pudo renombrar %1 a %2")
                                     .arg(source, FileNameOf(target))
                                     .toStdString());
    }
}

void TableOps::tell(const QString& text) const {
    if (hooks_.notice) {
        hooks_.notice(text);
    }
}

void TableOps::setAside(const QString& path) {
    const common::DateTime now =
        hooks_.now ? hooks_.now() : common::DateTime::FromQDateTime(QDateTime::currentDateTime());
    const QString folder = FolderOf(path);
    const QString stem = BaseNameOf(path) + QStringLiteral(".dañado-") +
                         common::FormatDateTime(QStringLiteral("ddmmyyyyhhnnss"), now);
    auto inFolder = [&](const QString& name) {
        return FromPath(xbase::JoinPath(PathOf(folder), PathOf(name)));
    };
    QString target = inFolder(stem + QStringLiteral(".dbf"));
    for (int n = 2; fs_.Exists(PathOf(target)); ++n) {
        target = inFolder(stem + QStringLiteral("-%1.dbf").arg(n));
    }
    try {
        fs_.Rename(PathOf(path), PathOf(target));
    } catch (const XBaseError&) {
        throw std::runtime_error(QStringLiteral("El archivo %1 está dañado y no se pudo apartar")
                                     .arg(path)
                                     .toStdString());
    }
    // The index described the damaged file's records, not the new table's.
    const QString cdx = indexPathOf(path);
    if (isFile(cdx)) {
        fs_.Remove(PathOf(cdx));
    }
    tell(QStringLiteral("El archivo %1 está dañado: se conserva como %2 y se crea uno nuevo.")
             .arg(FileNameOf(path), FileNameOf(target)));
}

bool TableOps::openChecked(TableEngine& t, const QString& path) {
    try {
        t.Open(PathOf(path), true);
        return true;
    } catch (const XBaseError& e) {
        if (e.code() != XBaseError::Code::Damaged) {
            throw;
        }
        if (!tableFileSound(path)) {
            setAside(path);
            return false;
        }
    }
    const QString cdx = indexPathOf(path);
    try {
        fs_.Remove(PathOf(cdx));
    } catch (const XBaseError&) {
        throw std::runtime_error(
            QStringLiteral("El índice %1 está dañado y no se pudo borrar").arg(cdx).toStdString());
    }
    tell(QStringLiteral("El índice %1 está dañado: se reconstruye.").arg(FileNameOf(cdx)));
    t.Open(PathOf(path), true);
    return true;
}

void TableOps::recreate(const QString& name, Layout layout, const QString& source) {
    const QString path = dataFile(name);
    if (source.isEmpty()) {
        CreateEmpty(fs_, path, layout);
        return;
    }
    const QString sourcePath = dataFile(source);
    const QString building = dataFile(BaseNameOf(name) + QStringLiteral(".new.dbf"));
    try {
        CreateEmpty(fs_, building, layout);
        TableEngine t(fs_);
        t.Open(PathOf(building), true);
        t.AppendFrom(PathOf(sourcePath), xbase::kTableTypeFoxPro, "");
        // On the disk before the source goes: a power cut after the rename
        // must not leave an empty table and no source.
        t.Commit();
        t.Close();
    } catch (const XBaseError& e) {
        if (e.code() == XBaseError::Code::Io) {
            throw;
        }
        fs_.Remove(PathOf(building));
        // The rows stay in their file for whoever can rescue them; the
        // program goes on with an empty table.
        CreateEmpty(fs_, path, layout);
        tell(QStringLiteral("No se pudieron recuperar los registros de %1 (%2): el archivo se "
                            "conserva y la tabla %3 empieza vacía.")
                 .arg(FileNameOf(sourcePath), ErrorText(e), name));
        return;
    }
    try {
        fs_.Rename(PathOf(building), PathOf(path));
    } catch (const XBaseError&) {
        fs_.Remove(PathOf(building));
        throw std::runtime_error(QStringLiteral("No se pudo crear %1").arg(path).toStdString());
    }
    remove(source);
}

void TableOps::upgradeIndex(const QString& dbfPath) {
    if (!isFile(dbfPath) || !isFile(indexPathOf(dbfPath))) {
        return;
    }
    const QString index = FileNameOf(indexPathOf(dbfPath));
    try {
        TableEngine t(fs_);
        t.Open(PathOf(dbfPath), true);
        if (t.UpgradeIndexLayout()) {
            tell(QStringLiteral("El índice %1 se actualizó al formato de FoxPro (etiquetas "
                                "reconstruidas, ningún registro cambió).")
                     .arg(index));
        }
        t.Close();
    } catch (const XBaseError& e) {
        // The index still serves this program as it is; the rest of the
        // start-up goes on.
        tell(QStringLiteral("No se pudo actualizar el índice %1 (%2).").arg(index, ErrorText(e)));
    }
}

// ---- start-up ----

void TableOps::TableHousekeeping() {
    remove(QStringLiteral("CajaPIN.obf"));
    // A dBASE index beside a table marks the layout of an old version: the
    // table is handed to ChkTables as a backup, which it re-creates from.
    if (exists(QStringLiteral("CajaPIN.mdx"))) {
        remove(QStringLiteral("CajaPIN.mdx"));
        remove(QStringLiteral("CajaPIN.bak"));
        if (exists(kCodesDbf)) {
            rename(kCodesDbf, QStringLiteral("CajaPIN.bak"));
        }
    }
    if (exists(QStringLiteral("CajaHPIN.mdx"))) {
        remove(QStringLiteral("CajaHPIN.mdx"));
        remove(QStringLiteral("CajaHPIN.bak"));
        if (exists(kHistoryDbf)) {
            rename(kHistoryDbf, QStringLiteral("CajaHPIN.bak"));
        }
    }
    remove(QStringLiteral("CajaHPIN.obf"));
}

void TableOps::DropIndexesAfterUncleanClose() {
    if (hooks_.splash) {
        hooks_.splash(kSplashUncleanClose);
    }
    remove(kCodesCdx);
    remove(kHistoryCdx);
    remove(kTillCdx);
}

void TableOps::DropJournalIndex(const QString& journalPath) {
    const QString path = FromPath(xbase::ResolvePath(fs_, PathOf(journalPath)));
    const QString cdx = indexPathOf(path);
    if (!isFile(path) || !isFile(cdx)) {
        return;
    }
    try {
        fs_.Remove(PathOf(cdx));
    } catch (const XBaseError&) {
        throw std::runtime_error(QStringLiteral("No se pudo borrar %1").arg(cdx).toStdString());
    }
}

void TableOps::ChkTables() {
    lastCommand_.set(QStringLiteral("ChkTables"));
    if (hooks_.splash) {
        hooks_.splash(kSplashCodes);
    }
    if (exists(kCodesDbf)) {
        TableEngine t(fs_);
        if (openChecked(t, dataFile(kCodesDbf))) {
            const bool current = t.FieldExists("EQUIPO");
            t.Close();
            if (!current) {
                remove(kCodesCdx);
                rename(kCodesDbf, QStringLiteral("CajaPIN.137.dbf"));
            }
        }
    }
    if (!exists(kCodesDbf)) {
        remove(kCodesCdx);
        fs_.MakeFolders(PathOf(DataFolder(fs_, programFolder_)));
        QString source;
        if (exists(QStringLiteral("CajaPIN.137.dbf"))) {
            source = QStringLiteral("CajaPIN.137.dbf");
        } else if (exists(QStringLiteral("CajaPIN.bak"))) {
            source = QStringLiteral("CajaPIN.bak");
        }
        recreate(kCodesDbf, Layout::Codes, source);
    }
    if (!exists(kCodesCdx)) {
        TableEngine t(fs_);
        t.Open(PathOf(dataFile(kCodesDbf)), true);
        t.Pack();
        IndexCodes(t, kNotDeleted);
        t.Close();
    }
    upgradeIndex(dataFile(kCodesDbf));

    if (hooks_.splash) {
        hooks_.splash(kSplashHistory);
    }
    if (exists(kHistoryDbf)) {
        TableEngine t(fs_);
        if (openChecked(t, dataFile(kHistoryDbf))) {
            t.Close();
        }
    }
    if (!exists(kHistoryDbf)) {
        remove(kHistoryCdx);
        fs_.MakeFolders(PathOf(DataFolder(fs_, programFolder_)));
        recreate(kHistoryDbf, Layout::History,
                 exists(QStringLiteral("CajaHPIN.bak")) ? QStringLiteral("CajaHPIN.bak")
                                                        : QString());
    }
    if (!exists(kHistoryCdx)) {
        TableEngine t(fs_);
        t.Open(PathOf(dataFile(kHistoryDbf)), true);
        t.Pack();
        IndexHistory(t);
        t.Close();
    }
    upgradeIndex(dataFile(kHistoryDbf));
}

void TableOps::OpenTableHandles(TableEngine& tbPin, TableEngine& tbPinCheck) {
    const QString path = dataFile(QStringLiteral("CAJAPIN.DBF"));
    OpenHandle(tbPin, path, "PIN");
    OpenHandle(tbPinCheck, path, "MAC");
}

void TableOps::CreaDiario(const QString& journalPath) {
    lastCommand_.set(QStringLiteral("CreaDiario"));
    const QString path = FromPath(xbase::ResolvePath(fs_, PathOf(journalPath)));
    if (isFile(path)) {
        TableEngine t(fs_);
        if (openChecked(t, path)) {
            t.Close();
        }
    }
    if (!isFile(path)) {
        CreateEmpty(fs_, path, Layout::Journal);
    }
    if (!isFile(indexPathOf(path))) {
        TableEngine t(fs_);
        t.Open(PathOf(path), true);
        IndexJournal(t);
        t.Close();
    }
    upgradeIndex(path);
}

QString TableOps::TillPath() const {
    return dataFile(kTillDbf);
}

void TableOps::CreaCaja() {
    lastCommand_.set(QStringLiteral("CreaCaja"));
    const QString path = TillPath();
    if (isFile(path)) {
        TableEngine t(fs_);
        if (openChecked(t, path)) {
            t.Close();
        }
    }
    if (!isFile(path)) {
        fs_.MakeFolders(PathOf(DataFolder(fs_, programFolder_)));
        CreateEmpty(fs_, path, Layout::Till);
    }
    if (!isFile(indexPathOf(path))) {
        TableEngine t(fs_);
        t.Open(PathOf(path), true);
        IndexTill(t);
        t.Close();
    }
}

// ---- the operator's repair ----

void TableOps::RepairTables(const RepairProgress& progress) {
    lastCommand_.set(QStringLiteral("dodbreapir"));
    auto report = [&](RepairBar bar, int percent) {
        if (progress) {
            progress(bar, percent);
        }
    };
    auto repair = [&](const QString& name, RepairBar bar,
                      const std::function<void(TableEngine&)>& tags) {
        report(bar, 0);
        const QString path = dataFile(name);
        TableEngine t(fs_);
        try {
            t.Open(PathOf(path), true);
        } catch (const XBaseError& e) {
            if (e.code() != XBaseError::Code::Damaged || !tableFileSound(path)) {
                throw;
            }
            // Only the index is damaged: it is rebuilt below, every tag.
            const QString cdx = indexPathOf(path);
            fs_.Remove(PathOf(cdx));
            tell(QStringLiteral("El índice %1 está dañado: se reconstruye.").arg(FileNameOf(cdx)));
            t.Open(PathOf(path), true);
        }
        t.SetGaugeHook([&](int percent) { report(bar, percent); });
        try {
            tags(t);
        } catch (...) {
            t.SetGaugeHook({});
            throw;
        }
        t.SetGaugeHook({});
        t.Close();
    };
    repair(kCodesDbf, RepairBar::Pin, [](TableEngine& t) {
        const auto existing = t.Tags();
        const bool hasMac = std::any_of(existing.begin(), existing.end(),
                                        [](const xbase::TagInfo& i) { return i.name == "MAC"; });
        t.IndexTag("", "PIN", "PIN", 0, false, kNotDeleted);
        t.IndexTag("", "FECHOR", "DTOS(FECHA)+ HORA", 0, false, kNotDeleted);
        // The MAC tag is left alone unless it was lost with a damaged index.
        if (!hasMac) {
            t.IndexTag("", "MAC", "MAC", 0, false, kNotDeleted);
        }
    });
    repair(kHistoryDbf, RepairBar::Histo, IndexHistory);
}

void TableOps::ActRepair(const Handles& handles, const RepairProgress& progress,
                         bool& repairInProgress) {
    lastCommand_.set(QStringLiteral("ActrepairExecute"));
    FlagScope flag(repairInProgress);

    struct Frame {
        TableEngine* t = nullptr;
        bool wasOpen = false;
        std::string path, order;
    };
    Frame frames[2];
    frames[0].t = handles.tbRegPin;
    frames[1].t = handles.frameTbPin;
    for (Frame& f : frames) {
        if (f.t != nullptr && f.t->IsOpen()) {
            f.wasOpen = true;
            f.path = f.t->Path();
            f.order = f.t->Order();
        }
    }
    std::exception_ptr failure;
    auto attempt = [&](const std::function<void()>& step) {
        try {
            step();
        } catch (...) {
            if (!failure) {
                failure = std::current_exception();
            }
        }
    };
    // A handle still holding an unposted change loses it; the table closes
    // in any case.
    for (TableEngine* t :
         {handles.tbPin, handles.tbPinCheck, handles.tbRegPin, handles.frameTbPin}) {
        if (t != nullptr) {
            attempt([t] { t->Close(); });
        }
    }
    std::exception_ptr closeFailure = failure;
    failure = nullptr;
    attempt([&] { RepairTables(progress); });
    if (handles.tbPin != nullptr && handles.tbPinCheck != nullptr) {
        attempt([&] { OpenTableHandles(*handles.tbPin, *handles.tbPinCheck); });
    }
    for (const Frame& f : frames) {
        if (f.wasOpen) {
            attempt([&] {
                f.t->Open(f.path, false);
                f.t->SetOptimisticBuffer(false);
                f.t->SetOrder(f.order);
            });
        }
    }
    if (!failure) {
        failure = closeFailure;
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

} // namespace tarvina::server
