#include "server/pin/CodesPage.h"

#include "platform/Clock.h"
#include "server/net/ComputerRegistry.h"
#include "server/pin/CodeGenerator.h"
#include "server/pin/PinTableText.h"
#include "server/session/HtmlListFile.h"
#include "xbase/TableEngine.h"

#include <stdexcept>

namespace tarvina::server {

using common::DateTime;
using namespace pintext;

namespace {
constexpr int kHistoryKeyLength = 22; // PIN + DTOS(FECHA) + HORA
}

CodesPage::CodesPage(platform::Clock& clock, xbase::TableEngine& frameTbPin, HtmlListFile& codeList,
                     CodeRandom& random, std::function<void(const TicketCode&)> print)
    : clock_(clock), t_(frameTbPin), list_(codeList), random_(random), print_(std::move(print)) {}

QStringList CodesPage::CreateCodes(int count, const QString& minutesText, bool printTickets) {
    const qint64 minutes = BatchMinutes(minutesText);
    QStringList made;
    try {
        for (int i = 0; i < std::min(count, kMaxBatch); ++i) {
            const std::string order = t_.Order();
            t_.SetOrder("PIN");
            const QString code = DrawCode(random_, [this](const QString& c) {
                t_.Seek(c.toStdString());
                return !t_.Eof() && t_.GetString("PIN") == c.toStdString();
            });
            const DateTime now = clock_.now();
            const std::string hora = TimeOf(now);
            t_.Append();
            t_.SetString("PIN", code.toStdString());
            t_.SetInteger("SALDO", minutes);
            t_.SetDate("FECHA", DateOf(now));
            t_.SetString("HORA", hora);
            t_.Post();
            t_.Commit();
            t_.SetOrder(order);
            made << code;
            if (printTickets && print_) {
                print_(TicketCode{code, minutes, now.date()});
            }
            list_.append(HtmlListRow({code, QString::number(minutes),
                                      common::FormatDateTime(QStringLiteral("dd/mm/yy"), now),
                                      QString::fromStdString(hora)}));
        }
    } catch (...) {
        // The rows of the codes already made reach the file all the same.
        list_.SaveHtmlList();
        throw;
    }
    if (!list_.SaveHtmlList()) {
        throw std::runtime_error(
            ("No se pudo escribir " + list_.path()).toLocal8Bit().toStdString());
    }
    return made;
}

TicketCode CodesPage::currentCode() const {
    TicketCode c;
    if (!t_.IsOpen() || t_.Eof()) {
        return c;
    }
    c.pin = Text(t_.GetString("PIN"));
    c.saldo = t_.GetInteger("SALDO");
    if (const auto d = t_.GetDate("FECHA")) {
        c.fecha = QDate(d->year, d->month, d->day);
    }
    return c;
}

bool CodesPage::viewConnectionEnabled() const {
    return t_.IsOpen() && !t_.Eof() && !t_.IsNull("CFECHA");
}

int CodesPage::connectionRow(const ComputerRegistry& registry) const {
    if (!t_.IsOpen() || t_.Eof()) {
        return -1;
    }
    const QString mac = Text(t_.GetString("MAC"));
    if (mac.isEmpty()) {
        return -1;
    }
    ComputersGuard guard(registry.lock());
    const TCompItem* computer = registry.findByMac(mac);
    return computer != nullptr ? computer->row : -1;
}

void CodesPage::EdPinChange(xbase::TableEngine& tbRegPin, const QString& text) {
    if (!tbRegPin.IsOpen()) {
        return;
    }
    if (tbRegPin.Order() != "PINFECHOR") {
        tbRegPin.SetOrder("PINFECHOR");
    }
    if (!text.isEmpty()) {
        tbRegPin.Seek(Field(text.toUpper(), kHistoryKeyLength));
    }
}

} // namespace tarvina::server
