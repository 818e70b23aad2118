#include "client/commands/CommandHandler.h"

#include "client/control/StationMachine.h"
#include "client/link/StationLink.h"
#include "client/session/LockEnforcer.h"
#include "client/session/PinEntry.h"
#include "client/session/Session.h"
#include "client/station/MachineControl.h"
#include "client/station/StationLog.h"
#include "client/station/StationView.h"
#include "common/Cp1252.h"
#include "protocol/Block.h"
#include "protocol/Line.h"
#include "protocol/StationLines.h"

#include <QFile>
#include <chrono>
#include <thread>

namespace tarvina::client {

namespace {

// The price list a customer reads; more than this is not a list.
constexpr qsizetype kMaxPriceList = 8 * 1024;

void Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
} // namespace

CommandHandler::CommandHandler(Parts parts, QObject* parent)
    : QObject(parent), p_(std::move(parts)) {}

// --- answered on the receive thread ------------------------------------------

void CommandHandler::Hello() {
    p_.ctx.view.setStatus(Txt::StrAns01);
    if (!p_.link.connected())
        return;
    Pause(100);
    if (!p_.link.SendLine(protocol::station::Identify(common::ToCp1252(p_.ctx.env.computerName)))) {
        p_.ctx.view.setStatus(Txt::StrFailConn);
        p_.link.ScheduleReconnect(true, true);
    }
    Pause(100);
}

void CommandHandler::MacQuery() {
    if (p_.link.connected() &&
        !p_.link.SendLine(protocol::station::MacReport(common::ToCp1252(p_.ctx.env.macText)))) {
        p_.ctx.view.setStatus(Txt::StrFailConn);
        p_.link.ScheduleReconnect(true, true);
    }
}

void CommandHandler::LogQuery() {
    if (!p_.link.connected())
        return;
    QList<QByteArray> lines;
    QFile f(p_.ctx.log.path());
    if (f.open(QIODevice::ReadOnly)) {
        // The log is kept near 2 KiB; a larger file is read only this far.
        QByteArray bytes = f.read(256 * 1024);
        if (bytes.endsWith('\n'))
            bytes.chop(1);
        if (!bytes.isEmpty()) {
            for (QByteArray l : bytes.split('\n')) {
                if (l.endsWith('\r'))
                    l.chop(1);
                lines << l.left(protocol::kMaxLineLength - 2);
            }
        }
    }
    p_.link.SendLineAndBody(protocol::station::LogReportHead(),
                            protocol::EncodeCountedLines(lines));
}

void CommandHandler::MachineCommand(int code, const QByteArray& payload) {
    p_.ctx.platform.control.onCommand(code, payload, {},
                                      [this](const QByteArray& l) { return p_.link.SendReply(l); });
}

void CommandHandler::MachineFile(int code, const QByteArray& payload) {
    QByteArray block;
    if (!p_.link.ReadBlock(block)) {
        p_.ctx.platform.control.onTransferFailed(code, payload);
        return;
    }
    p_.ctx.platform.control.onCommand(code, payload, block,
                                      [this](const QByteArray& l) { return p_.link.SendReply(l); });
}

void CommandHandler::PriceList() {
    QByteArray block;
    if (!p_.link.ReadBlock(block))
        return;
    // A list for the customer to read: a few lines, never a flood.
    const QString text = common::FromCp1252(block.left(kMaxPriceList));
    post([this, text] {
        p_.ctx.view.display().priceList = text;
        p_.ctx.view.changed();
    });
}

void CommandHandler::AccountState(qint64 minutes, const QString& amount) {
    post([this, minutes, amount] {
        Q_EMIT p_.ctx.view.showAccount(
            QStringLiteral("Minutos usados: %1\nImporte hasta ahora: %2").arg(minutes).arg(amount));
    });
}

void CommandHandler::Unknown() {
    p_.ctx.view.setStatus(Txt::StrUnkComm);
}

void CommandHandler::Refused(const QString& step, const QString& why) {
    if (!step.isEmpty())
        p_.ctx.log.lastCommand().set(step);
    p_.ctx.log.LogException(why);
}

// --- posted to the main thread ----------------------------------------------------

void CommandHandler::StatusQuery() {
    post([this] { p_.session.SendStatusReport(); });
}

void CommandHandler::ScheduleShutdown(int seconds, QChar letter) {
    post([this, seconds, letter] { p_.session.ScheduleShutdown(seconds, letter); });
}

void CommandHandler::GrantAccess(const Grant& grant) {
    post([this, grant] { p_.session.StartGrant(grant); });
}

void CommandHandler::AddTime(const QByteArray& minutes, bool silent) {
    post([this, minutes, silent] { p_.session.ApplyExtraTime(minutes, silent); });
}

void CommandHandler::SyncTime(double days) {
    post([this, days] { p_.machine.SyncTime(days); });
}

void CommandHandler::Lock() {
    post([this] { p_.session.EndOfUse(); });
}

void CommandHandler::TimeRequestMode(const QString& mode, const QString& list) {
    post([this, mode, list] { p_.session.TimeRequestMode(mode, list); });
}

void CommandHandler::MachinePosted(int code) {
    post([this, code] { p_.machine.Posted(code); });
}

void CommandHandler::SetAccountTag(const QString& tag) {
    post([this, tag] { p_.session.SetTag(tag); });
}

void CommandHandler::WithdrawAccess() {
    post([this] { p_.session.EndPasswordRequest(); });
}

void CommandHandler::Notice(const QString& text) {
    post([this, text] { p_.ctx.platform.notice.showNotice(text); });
}

void CommandHandler::ClockHint(const QString& hint) {
    post([this, hint] {
        p_.ctx.view.display().clockHint = hint;
        p_.ctx.view.display().clockHintVisible = true;
        p_.ctx.view.changed();
    });
}

void CommandHandler::SetServicePassword(const QByteArray& scrambled) {
    post([this, scrambled] { p_.ctx.settings.password = scrambled; });
}

void CommandHandler::CdListQuery() {
    post([this] { p_.machine.CdList(); });
}

void CommandHandler::CdTray(QChar letter, bool open) {
    post([this, letter, open] { p_.machine.CdTray(letter, open); });
}

void CommandHandler::SetVolume(quint16 left, quint16 right) {
    post([this, left, right] { p_.machine.SetVolume(left, right); });
}

void CommandHandler::VolumeQuery() {
    post([this] { p_.machine.VolumeQuery(); });
}

void CommandHandler::OpenRemote(const QString& address) {
    post([this, address] { p_.machine.OpenRemote(address); });
}

void CommandHandler::PinVerdict(const QByteArray& payload) {
    post([this, payload] { p_.pin.Verdict(payload); });
}

void CommandHandler::ServiceMode(int mode) {
    post([this, mode] { p_.pin.SetMode(mode, p_.session.state()); });
}

void CommandHandler::PinQuery() {
    post([this] { p_.pin.Query(); });
}

void CommandHandler::SetTransparency(int alpha) {
    post([this, alpha] { p_.lock.SetLockOpacity(alpha); });
}

void CommandHandler::TransparencyQuery() {
    post([this] {
        p_.link.SendReply(protocol::station::TransparencyReport(p_.lock.LockOpacity()));
    });
}

void CommandHandler::SoftReinit() {
    post([this] {
        p_.ctx.log.lastCommand().set(QStringLiteral("SoftReinit"));
        p_.softReinit();
    });
}

void CommandHandler::BlockMessageMode(bool on) {
    post([this, on] { p_.session.SetBlockMessageMode(on); });
}

void CommandHandler::AssignPin(const QByteArray& pin) {
    post([this, pin] { p_.pin.Assign(pin); });
}

void CommandHandler::MemberId(qint64 id) {
    post([this, id] { p_.machine.SetMemberId(id); });
}

void CommandHandler::ShowAdPage() {
    post([this] { p_.machine.ShowAdPage(); });
}

} // namespace tarvina::client
