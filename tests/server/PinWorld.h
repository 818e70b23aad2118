#pragma once

// A server without a network listener for the code and journal tests: real
// tables in a private folder, a fake clock, and stations on socket pairs
// whose received lines the test reads back.

#include "common/LastCommand.h"
#include "platform/fake/FakeClock.h"
#include "server/StationPeer.h"
#include "server/computers/ComputerRegistry.h"
#include "server/computers/ServerContext.h"
#include "server/net/HandOff.h"
#include "server/pin/PinCodes.h"
#include "server/pin/TableOps.h"
#include "support/CodeTables.h"
#include "support/TempDir.h"
#include "xbase/PosixFileSystem.h"
#include "xbase/TableEngine.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace tarvina::server::test {

using common::DateTime;

// The tables as the program creates them at load, so the tests work on the
// very layout and tags the café gets.
inline void CreateCodeTables(const QString& folder) {
    TableOps::CreateHistoryTable(xbase::RealFileSystem(), folder);
    TableOps::CreateCodeTable(xbase::RealFileSystem(), folder);
}

inline void CreateJournal(const QString& path) {
    common::LastCommand lastCommand;
    TableOps(xbase::RealFileSystem(), QFileInfo(path).absolutePath(), lastCommand).CreaDiario(path);
}

// The far end of a station's connection.
struct Station : tarvina::test::StationPeer {
    TCompItem* record = nullptr;

    // The station goes away: its connection is seen down.
    void powerOff() { connection->shutdown(); }
};

class PinWorld : public ::testing::Test {
protected:
    PinWorld()
        : clock(DateTime::FromParts(2026, 3, 7, 10, 0, 0)),
          ctx(clock, registry, handoff, lastCommand, dir.path()) {
        CreateCodeTables(dir.path());
        open(tbPin, "CajaPIN.dbf", "PIN");
        open(tbPinCheck, "CajaPIN.dbf", "MAC");
        open(frame, "CajaPIN.dbf", "FECHOR");
        tables.tbPin = &tbPin;
        tables.tbPinCheck = &tbPinCheck;
        tables.tbRegPin = &tbRegPin;
        tables.frameTbPin = &frame;
        tables.historyTablePath = dir.file("CajaHPIN.dbf");
        PinCodes::Hooks hooks;
        hooks.console = [this](TCompItem* r, const QString& text) {
            consoleLines << ((r ? r->name + ": " : QString()) + text);
        };
        hooks.refreshCodesGrid = [this] { ++gridRefreshes; };
        hooks.setPinCheckRunning = [this](bool on) { checkRunning = on; };
        codes = std::make_unique<PinCodes>(ctx, tables, hooks);
    }

    void open(xbase::TableEngine& t, const char* file, const char* tag) {
        t.Open(QFile::encodeName(dir.file(file)).toStdString(), false);
        t.SetOptimisticBuffer(false);
        t.SetOrder(tag);
    }

    Station& station(const QString& name, const QString& mac, const QString& address) {
        Station& s = *stations.emplace_back(std::make_unique<Station>());
        s.record = tarvina::test::AddStationRecord(registry, s, name, mac, address);
        return s;
    }

    // As a station's report changes it: the change is stamped after
    // whatever was granted before it.
    void setState(Station& s, int state) {
        ComputersGuard guard(registry.lock());
        if (s.record->state != quint8(state)) {
            s.record->state = quint8(state);
            s.record->stateStamp = registry.nextStamp();
        }
    }
    void setPin(Station& s, const QString& pin) {
        ComputersGuard guard(registry.lock());
        s.record->pin = pin;
    }
    QString pinOf(Station& s) {
        ComputersGuard guard(registry.lock());
        return s.record->pin;
    }

    // A code row as the codes page creates it.
    void addCode(const QString& pin, int saldo) {
        xbase::test::AddCode(frame, pin.toStdString(), saldo, xbase::Date{2026, 3, 1}, "09:00:00");
    }

    // The live row of a code on a fresh handle, or false when none.
    struct CodeRow {
        qint64 saldo = 0;
        std::string chora, mac, equipo;
        std::optional<xbase::Date> cfecha;
    };
    std::optional<CodeRow> codeRow(const QString& pin) {
        xbase::TableEngine t(xbase::RealFileSystem());
        t.Open(QFile::encodeName(dir.file("CajaPIN.dbf")).toStdString(), false);
        t.SetOrder("PIN");
        if (!t.Seek(pin.toStdString()) || t.Eof() || t.GetString("PIN") != pin.toStdString()) {
            return std::nullopt;
        }
        return CodeRow{t.GetInteger("SALDO"), t.GetString("CHORA"), t.GetString("MAC"),
                       t.GetString("EQUIPO"), t.GetDate("CFECHA")};
    }

    struct HistoryRow {
        std::string pin;
        qint64 asig = 0, consumo = 0;
        std::string chora, hora;
        std::optional<xbase::Date> cfecha, fecha;
    };
    // Every history row in record order.
    QList<HistoryRow> historyRows() {
        QList<HistoryRow> rows;
        xbase::TableEngine t(xbase::RealFileSystem());
        t.Open(QFile::encodeName(dir.file("CajaHPIN.dbf")).toStdString(), false);
        t.SetOrder("");
        for (t.First(); !t.Eof(); t.Next()) {
            rows << HistoryRow{t.GetString("PIN"),   t.GetInteger("ASIG"), t.GetInteger("CONSUMO"),
                               t.GetString("CHORA"), t.GetString("HORA"),  t.GetDate("CFECHA"),
                               t.GetDate("FECHA")};
        }
        return rows;
    }

    tarvina::test::TempDir dir;
    platform::FakeClock clock;
    ComputerRegistry registry;
    HandOff handoff;
    common::LastCommand lastCommand;
    ServerContext ctx;
    xbase::TableEngine tbPin{xbase::RealFileSystem()}, tbPinCheck{xbase::RealFileSystem()},
        tbRegPin{xbase::RealFileSystem()}, frame{xbase::RealFileSystem()};
    PinTables tables;
    std::unique_ptr<PinCodes> codes;
    QStringList consoleLines;
    int gridRefreshes = 0;
    bool checkRunning = false;
    std::vector<std::unique_ptr<Station>> stations;
};

} // namespace tarvina::server::test
