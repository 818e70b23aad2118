#include "server/pin/PinRuntime.h"

#include "common/Paths.h"
#include "server/pin/PinTableText.h"
#include "server/session/StationFront.h"

#include <QFile>

namespace tarvina::server {

using pintext::PathOf;

namespace {

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString Find(xbase::IFileSystem& fs, const QString& folder, const QString& name) {
    return FromPath(xbase::ResolvePath(fs, xbase::JoinPath(PathOf(folder), PathOf(name))));
}

QString FolderOf(const QString& path) {
    return FromPath(xbase::FolderOf(PathOf(path)));
}

} // namespace

PinRuntime::PinRuntime(xbase::IFileSystem& fs)
    : fs_(fs), tbPin_(fs), tbPinCheck_(fs), tbRegPin_(fs), tbDiario_(fs), usageReport_(fs),
      codeList_(fs) {}

PinRuntime::~PinRuntime() {
    close();
}

void PinRuntime::EnsureCodeTables(xbase::IFileSystem& fs, const QString& dataFolder) {
    fs.MakeFolders(PathOf(dataFolder));
    TableOps::CreateHistoryTable(fs, dataFolder);
    TableOps::CreateCodeTable(fs, dataFolder);
}

void PinRuntime::EnsureJournal(xbase::IFileSystem& fs, const QString& journalPath) {
    const QString folder = FolderOf(journalPath);
    fs.MakeFolders(PathOf(folder));
    common::LastCommand unused;
    TableOps(fs, folder, unused).CreaDiario(journalPath);
}

QStringList PinRuntime::start(StationFront& core, const QString& programFolder,
                              const common::DateTime& startDay, CodeDesk::Hooks hooks) {
    QStringList failures;
    auto attempt = [&](const std::function<void()>& step) {
        try {
            step();
        } catch (const std::exception& e) {
            failures << QString::fromLocal8Bit(e.what());
        }
    };
    core_ = &core;
    programFolder_ = programFolder;
    TableOps::Hooks th;
    th.splash = splash_;
    th.notice = [&failures](const QString& text) { failures << text; };
    th.now = [&core] { return core.clock().now(); };
    TableOps ops(fs_, programFolder, core.lastCommand(), th);
    attempt([&] { ops.TableHousekeeping(); });
    if (core.tablesClosedUncleanly()) {
        attempt([&] { ops.DropIndexesAfterUncleanClose(); });
    }
    attempt([&] { ops.ChkTables(); });
    dataFolder_ = TableOps::DataFolder(fs_, programFolder);
    attempt([&] { ops.OpenTableHandles(tbPin_, tbPinCheck_); });

    const QString day = common::FormatDateTime(QStringLiteral("ddmmyyyy"), startDay);
    const QString journal =
        common::ResolveInFolder(programFolder, QStringLiteral("report\\") + day + ".dbf")
            .value_or(programFolder + "/report/" + day + ".dbf");
    attempt([&] {
        fs_.MakeFolders(PathOf(FolderOf(journal)));
        if (core.tablesClosedUncleanly()) {
            ops.DropJournalIndex(journal);
        }
        ops.CreaDiario(journal);
    });
    attempt([&] {
        tbDiario_.Open(PathOf(journal), false);
        tbDiario_.SetOrder("EQUIPO");
    });
    till_ = std::make_unique<Till>(fs_, core.clock());
    attempt([&] {
        ops.CreaCaja();
        till_->open(ops.TillPath());
    });
    // The history frame's handle, which the code checks write through.
    attempt([&] {
        tbRegPin_.Open(PathOf(Find(fs_, dataFolder_, QStringLiteral("CajaHPIN.dbf"))), false);
        tbRegPin_.SetOptimisticBuffer(false);
        tbRegPin_.SetOrder("PINFECHOR");
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
    tables.historyTablePath = Find(fs_, dataFolder_, QStringLiteral("CajaHPIN.dbf"));
    auto outerRepair = std::move(hooks.repairInProgress);
    hooks.repairInProgress = [this, outerRepair] {
        return repairInProgress_ || (outerRepair && outerRepair());
    };
    desk_ = std::make_unique<CodeDesk>(core, fs_, tables, tbDiario_.IsOpen() ? &tbDiario_ : nullptr,
                                       &usageReport_, std::move(hooks), till_.get());
    desk_->attach();
    return failures;
}

void PinRuntime::actRepair(const TableOps::RepairProgress& progress,
                           xbase::TableEngine* frameTbPin) {
    if (core_ == nullptr) {
        throw std::logic_error("actRepair before start");
    }
    TableOps::Hooks th;
    th.notice = [this](const QString& text) { core_->ShowRemoteMessage(nullptr, text); };
    th.now = [this] { return core_->clock().now(); };
    TableOps ops(fs_, programFolder_, core_->lastCommand(), th);
    TableOps::Handles handles;
    handles.tbPin = &tbPin_;
    handles.tbPinCheck = &tbPinCheck_;
    handles.tbRegPin = &tbRegPin_;
    handles.frameTbPin = frameTbPin;
    ops.ActRepair(handles, progress, repairInProgress_);
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
    if (till_) {
        till_->close();
    }
    return listSaved;
}

} // namespace tarvina::server
