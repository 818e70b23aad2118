#include "server/pin/PinCodes.h"

#include "protocol/Codes.h"
#include "protocol/Line.h"
#include "server/computers/Senders.h"
#include "server/net/StationConnection.h"
#include "server/pin/CodeGenerator.h"
#include "server/pin/PinTableText.h"
#include "server/session/TimeAssignment.h"
#include "xbase/TableEngine.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace tarvina::server {

using common::DateTime;
using namespace pintext;

namespace {

constexpr qint64 kMaxMinutes = 999999999; // N(9)

QString ErrorText(const std::exception& e) {
    return QString::fromLocal8Bit(e.what());
}

QByteArray VerdictLine(bool accepted, const QString& pin) {
    return protocol::FormatToClient(protocol::tc::PinVerdict,
                                    QByteArray(accepted ? "1" : "0") + common::ToCp1252(pin));
}

} // namespace

PinCodes::PinCodes(ServerContext& ctx, PinTables tables, Hooks hooks)
    : ctx_(ctx), tables_(std::move(tables)), hooks_(std::move(hooks)) {}

void PinCodes::console(TCompItem* record, const QString& text) {
    if (hooks_.console) {
        hooks_.console(record, text);
    } else {
        ctx_.console(record, text);
    }
}

void PinCodes::generalError(const QString& text) {
    if (hooks_.generalError) {
        hooks_.generalError(text);
    } else {
        console(nullptr, text);
    }
}

void PinCodes::refreshGrid() {
    if (hooks_.refreshCodesGrid) {
        hooks_.refreshCodesGrid();
    }
}

bool PinCodes::repairing() const {
    return hooks_.repairInProgress && hooks_.repairInProgress();
}

bool PinCodes::tableOpen(xbase::TableEngine* t) const {
    return t != nullptr && t->IsOpen();
}

qint64 PinCodes::MinutesCharged(const DateTime& start, const DateTime& now) {
    const qint64 ms = start.msecsTo(now);
    if (ms <= 0) {
        return 0;
    }
    return (ms + 36000) / 60000; // + 0.6 of a minute, truncated
}

std::optional<DateTime> PinCodes::UseStart(const std::optional<xbase::Date>& date,
                                           const std::string& time) {
    if (!date || time.size() != 8 || time[2] != ':' || time[5] != ':') {
        return std::nullopt;
    }
    auto two = [&](int at) -> int {
        const char a = time[size_t(at)], b = time[size_t(at) + 1];
        if (a < '0' || a > '9' || b < '0' || b > '9') {
            return -1;
        }
        return (a - '0') * 10 + (b - '0');
    };
    const int h = two(0), n = two(3), s = two(6);
    if (h < 0 || n < 0 || s < 0) {
        return std::nullopt;
    }
    const DateTime dt = DateTime::FromParts(date->year, date->month, date->day, h, n, s);
    if (!dt.isValid()) {
        return std::nullopt;
    }
    return dt;
}

// ---- the guessing guard ----

bool PinCodes::blocked(TCompItem* record) {
    auto it = guards_.find(record);
    if (it == guards_.end() || it->blockedUntil < 0) {
        return false;
    }
    if (ctx_.clock.steadyMs() < it->blockedUntil) {
        return true;
    }
    guards_.erase(it);
    return false;
}

bool PinCodes::guessGuardActive(TCompItem* record) const {
    auto it = guards_.find(record);
    return it != guards_.end() && it->blockedUntil >= 0 && ctx_.clock.steadyMs() < it->blockedUntil;
}

void PinCodes::noteRefusal(TCompItem* record) {
    const qint64 now = ctx_.clock.steadyMs();
    Guard& g = guards_[record];
    g.refusals.push_back(now);
    while (!g.refusals.empty() && now - g.refusals.front() >= kGuessWindowMs) {
        g.refusals.pop_front();
    }
    if (int(g.refusals.size()) > kGuessLimit && g.blockedUntil < 0) {
        g.blockedUntil = now + kGuessWindowMs;
        g.refusals.clear();
        if (!g.announced) {
            g.announced = true;
            console(record,
                    QStringLiteral("Demasiados intentos de PIN inválidos: los PIN de este "
                                   "equipo se rechazan sin consultarlos durante un minuto"));
        }
    }
}

// ---- the code typed at a station ----

void PinCodes::ProcesaPIn(TCompItem* record) {
    if (record == nullptr) {
        return;
    }
    ctx_.lastCommand.set(QStringLiteral("ProcesaPIn"));
    TypedCode typed;
    if (!readTypedCode(record, typed)) {
        return;
    }
    xbase::TableEngine& t = *tables_.tbPin;
    try {
        const bool guarded = blocked(record);
        // Only a well-formed code is ever looked up: the station's text never
        // reaches the table otherwise (and a shorter text would match a
        // prefix).
        const std::optional<qint64> balance =
            guarded || !IsWellFormedCode(typed.pin) ? std::nullopt : liveBalance(t, typed.pin);
        if (balance) {
            grantCode(t, record, typed, *balance);
        } else {
            refuseCode(record, typed.pin, guarded);
        }
    } catch (const std::exception&) {
        console(record, QStringLiteral("Falla enviado comando a ejecutar en ") + typed.name);
    }
}

bool PinCodes::readTypedCode(TCompItem* record, TypedCode& typed) {
    try {
        if (!tableOpen(tables_.tbPin) && repairing() && hooks_.waitForRepair) {
            hooks_.waitForRepair(kRepairWaitMs);
        }
        bool live = false;
        {
            ComputersGuard guard(ctx_.registry.lock());
            typed.name = record->name;
            typed.pin = record->pin;
            typed.mac = record->mac;
            live = record->connection && record->connection->isUp();
        }
        if (!live) {
            return false;
        }
        if (!tableOpen(tables_.tbPin)) {
            throw std::runtime_error("code table closed");
        }
    } catch (const std::exception&) {
        console(record, QStringLiteral(
                            "Falla al solicitar autorización de PIN (problema en base de datos) ") +
                            typed.name);
        return false;
    }
    return true;
}

std::optional<qint64> PinCodes::liveBalance(xbase::TableEngine& t, const QString& pin) {
    t.Seek(Field(pin, 6));
    if (t.Eof() || Text(t.GetString("PIN")) != pin || !Blank(t.GetString("CHORA"))) {
        return std::nullopt;
    }
    const qint64 balance = t.GetInteger("SALDO");
    // A live row without balance is a used-up code.
    return balance > 0 ? std::optional<qint64>(balance) : std::nullopt;
}

void PinCodes::grantCode(xbase::TableEngine& t, TCompItem* record, const TypedCode& typed,
                         qint64 balance) {
    const DateTime now = ctx_.clock.now();
    const std::string previousEquipo = t.GetString("EQUIPO");
    t.Edit();
    t.SetString("CHORA", TimeOf(now));
    t.SetDate("CFECHA", DateOf(now));
    t.SetString("MAC", Field(typed.mac, 17));
    t.SetString("EQUIPO", Field(typed.name, 64));
    t.Post();
    t.Commit();
    const SendResult sent =
        SendToComputer(ctx_, record, VerdictLine(true, typed.pin), QString(), FailureText());
    if (sent != SendResult::Sent) {
        // The station never heard the verdict: the code must not stay bound
        // to it, or the periodic check would charge the whole balance later.
        t.Edit();
        t.SetString("CHORA", std::string());
        t.SetNull("CFECHA");
        t.SetString("MAC", std::string());
        t.SetString("EQUIPO", previousEquipo);
        t.Post();
        t.Commit();
        throw std::runtime_error("verdict not sent");
    }
    {
        ComputersGuard guard(ctx_.registry.lock());
        record->pinGrantStamp = ctx_.registry.nextStamp();
    }
    RegConsumo(HistoryKind::Assignment, typed.pin, now, balance);
    GrantAccess(ctx_, record, QString::number(balance), QString::fromUtf16(kGenericUser),
                QString());
    refreshGrid();
}

void PinCodes::refuseCode(TCompItem* record, const QString& pin, bool guarded) {
    {
        // Cleared before the verdict goes, and only when it is still the
        // code checked here: a station that answers the refusal at once with
        // its next code must have that one checked.
        ComputersGuard guard(ctx_.registry.lock());
        if (record->pin == pin)
            record->pin.clear();
    }
    const SendResult sent =
        SendToComputer(ctx_, record, VerdictLine(false, pin), QString(), FailureText());
    if (!guarded) {
        console(record, QStringLiteral("Intento de PIN inválido ") + pin);
        noteRefusal(record);
    }
    if (sent == SendResult::Failed) {
        throw std::runtime_error("verdict not sent");
    }
}

// ---- the end of a use ----

void PinCodes::ChargeRow(xbase::TableEngine& t, qint64 used) {
    const qint64 balance = t.GetInteger("SALDO");
    t.Edit();
    const bool usedUp = balance - used < 2;
    t.SetInteger("SALDO", usedUp ? 0 : std::clamp<qint64>(balance - used, 0, kMaxMinutes));
    t.SetString("CHORA", std::string());
    t.SetNull("CFECHA");
    t.SetString("MAC", std::string());
    t.Post();
    t.Commit();
    if (usedUp) {
        t.Delete();
        t.Commit();
    }
}

void PinCodes::EndCodeUse(TCompItem* record) {
    StateChange present;
    {
        ComputersGuard guard(ctx_.registry.lock());
        present = StateChange::Of(record);
    }
    EndCodeUse(present);
}

bool PinCodes::EndCodeUse(const StateChange& change) {
    TCompItem* record = change.record;
    if (record == nullptr) {
        return false;
    }
    const QString& pin = change.seen.pin;
    QString mac;
    bool regranted = false;
    {
        ComputersGuard guard(ctx_.registry.lock());
        mac = record->mac;
        // The same code granted again after this lock (typed at once, served
        // first in the same idle pass) is a new use this lock did not end.
        regranted = record->pinGrantStamp > change.seen.stamp && record->pin == pin;
    }
    if (change.seen.state != 1 || regranted || pin.trimmed().isEmpty() || !IsWellFormedCode(pin)) {
        return false;
    }
    if (!tableOpen(tables_.tbPin)) {
        throw std::runtime_error("code table closed");
    }
    xbase::TableEngine& t = *tables_.tbPin;
    t.Seek(Field(pin, 6));
    if (t.Eof() || Text(t.GetString("PIN")) != pin || Blank(t.GetString("CHORA")) ||
        t.GetString("MAC") != Field(mac, 17)) {
        return false;
    }
    bool ended = false;
    try {
        const auto start = UseStart(t.GetDate("CFECHA"), t.GetString("CHORA"));
        if (!start) {
            throw std::runtime_error("invalid start of use");
        }
        const qint64 used = MinutesCharged(*start, ctx_.clock.now());
        RegConsumo(HistoryKind::Consumption, pin, *start, used);
        {
            // Only when it is still that code: the station may have sent its
            // next one while the consumption was being written.
            ComputersGuard guard(ctx_.registry.lock());
            if (record->pin == pin) {
                record->pin.clear();
            }
        }
        xbase::TableEngine* frame = tables_.frameTbPin;
        if (tableOpen(frame) && frame != &t && !frame->Eof() && frame->RecNo() == t.RecNo()) {
            frame->Post();
            frame->First();
        }
        ChargeRow(t, used);
        ended = true;
    } catch (const std::exception& e) {
        console(nullptr, QStringLiteral("STACK 4568 ") + ErrorText(e));
    }
    refreshGrid();
    return ended;
}

// ---- a session moved to another computer ----

bool PinCodes::ApplyPinAssign(const QString& code, TCompItem* record) {
    const qint64 now = ctx_.clock.steadyMs();
    if (code != assignHeadCode_ || record != assignHeadRecord_) {
        assignHeadCode_ = code;
        assignHeadRecord_ = record;
        assignHeadSince_ = now;
    }
    auto done = [this] {
        assignHeadCode_.clear();
        assignHeadRecord_ = nullptr;
        return true;
    };
    // A session without a code was moved: there is nothing to bind.
    if (record == nullptr || code.isEmpty()) {
        return done();
    }
    if (!IsWellFormedCode(code)) {
        console(record, QStringLiteral("Confirmación de PIN descartada (código no válido)"));
        return done();
    }
    try {
        QString pin, mac, name;
        {
            ComputersGuard guard(ctx_.registry.lock());
            pin = record->pin;
            mac = record->mac;
            name = record->name;
        }
        if (tableOpen(tables_.tbPin) && IsWellFormedCode(pin)) {
            xbase::TableEngine& t = *tables_.tbPin;
            t.Seek(Field(pin, 6));
            if (!t.Eof() && Text(t.GetString("PIN")) == code && !Blank(t.GetString("CHORA"))) {
                t.Edit();
                t.SetString("MAC", Field(mac, 17));
                t.SetString("EQUIPO", Field(name, 64));
                t.Post();
                t.Commit();
                refreshGrid();
                return done();
            }
        }
    } catch (const std::exception& e) {
        console(record, QStringLiteral("MSG PIN 2838 ") + ErrorText(e));
    }
    if (now - assignHeadSince_ >= kAssignWaitMs) {
        console(record, QStringLiteral("Confirmación del PIN ") + code +
                            QStringLiteral(" descartada: no corresponde a ningún PIN en uso"));
        return done();
    }
    return false;
}

// ---- the periodic check ----

void PinCodes::VerificaPin() {
    ctx_.lastCommand.set(QStringLiteral("Verifica pin"));
    if (hooks_.setPinCheckRunning) {
        hooks_.setPinCheckRunning(true);
    }
    bool closedOut = false;
    try {
        if (!ctx_.closing.load() && !repairing() && tableOpen(tables_.tbPinCheck)) {
            xbase::TableEngine& t = *tables_.tbPinCheck;
            // The bound rows, last first. They are listed before anything
            // changes, because closing a code out moves its row within this
            // order.
            std::vector<std::uint32_t> rows;
            t.Last();
            while (!t.Eof() && !t.Bof()) {
                if (Blank(t.GetString("MAC"))) {
                    break; // the rest are unbound
                }
                rows.push_back(t.RecNo());
                t.Prior();
            }
            for (std::uint32_t recno : rows) {
                t.GoTo(recno);
                if (t.Eof() || t.Deleted()) {
                    continue;
                }
                const QString mac = Text(t.GetString("MAC"));
                if (mac.size() < 3 || mac.at(2) != u'-') {
                    continue;
                }
                const auto start = UseStart(t.GetDate("CFECHA"), t.GetString("CHORA"));
                if (!start) {
                    continue; // no start of use: nothing can be timed
                }
                const DateTime end = start->addMinutes(t.GetInteger("SALDO"));
                const bool expired = ctx_.clock.now() > end;
                const QString rowPin = Text(t.GetString("PIN"));
                TCompItem* computer = nullptr;
                bool connected = false;
                QString computerPin;
                {
                    ComputersGuard guard(ctx_.registry.lock());
                    computer = ctx_.registry.findByMac(mac);
                    if (computer != nullptr) {
                        connected = computer->connection && computer->connection->isUp();
                        computerPin = computer->pin;
                    }
                }
                if (computer != nullptr && connected) {
                    if (computerPin == rowPin) {
                        if (expired) {
                            Lock(ctx_, computer);
                        }
                    } else {
                        CloseOutCode();
                        closedOut = true;
                    }
                } else if (expired) {
                    CloseOutCode();
                    closedOut = true;
                    if (computer != nullptr) {
                        Lock(ctx_, computer);
                    }
                }
            }
        }
    } catch (const std::exception& e) {
        console(nullptr, QStringLiteral("Verificando PIN ") + ErrorText(e));
    }
    if (hooks_.setPinCheckRunning) {
        hooks_.setPinCheckRunning(false);
    }
    if (closedOut) {
        refreshGrid();
    }
}

void PinCodes::CloseOutCode() {
    xbase::TableEngine& t = *tables_.tbPinCheck;
    const auto start = UseStart(t.GetDate("CFECHA"), t.GetString("CHORA"));
    if (!start) {
        throw std::runtime_error("invalid start of use");
    }
    const qint64 used = MinutesCharged(*start, ctx_.clock.now());
    RegConsumo(HistoryKind::Consumption, Text(t.GetString("PIN")), *start, used);
    ChargeRow(t, used);
}

void PinCodes::RegConsumo(HistoryKind kind, const QString& code, const DateTime& start,
                          qint64 minutes) {
    ctx_.lastCommand.set(QStringLiteral("RegConsumo"));
    xbase::TableEngine* h = tables_.tbRegPin;
    if (h == nullptr) {
        throw std::runtime_error("no history table");
    }
    if (!h->IsOpen()) {
        h->Open(PathOf(tables_.historyTablePath), false);
        h->SetOptimisticBuffer(false);
        h->SetOrder("PINFECHOR");
    }
    const DateTime now = ctx_.clock.now();
    h->Append();
    h->SetString("PIN", Field(code, 6));
    h->SetInteger(kind == HistoryKind::Assignment ? "ASIG" : "CONSUMO",
                  std::clamp<qint64>(minutes, 0, kMaxMinutes));
    h->SetString("CHORA", TimeOf(start));
    h->SetDate("CFECHA", DateOf(start));
    h->SetString("HORA", TimeOf(now));
    h->SetDate("FECHA", DateOf(now));
    h->Post();
    h->Commit();
}

} // namespace tarvina::server
