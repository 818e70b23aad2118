#include "server/pin/CodesPage.h"

#include "platform/Clock.h"
#include "server/computers/ComputerRegistry.h"
#include "server/pin/CodeGenerator.h"
#include "server/pin/HtmlListFile.h"
#include "server/pin/PinTableText.h"
#include "xbase/TableEngine.h"

#include <exception>
#include <stdexcept>
#include <vector>

namespace tarvina::server {

using common::DateTime;
using namespace pintext;

namespace {
constexpr int kHistoryKeyLength = 22; // PIN + DTOS(FECHA) + HORA

std::runtime_error TableWriteError(const std::exception& e) {
    return std::runtime_error((QStringLiteral("No se pudo grabar en la tabla de PINs: ") +
                               QString::fromLocal8Bit(e.what()))
                                  .toLocal8Bit()
                                  .toStdString());
}
} // namespace

CodesPage::CodesPage(xbase::IFileSystem& fs, platform::Clock& clock, HtmlListFile& codeList,
                     CodeRandom& random, std::function<void(const TicketCode&)> print)
    : clock_(clock), t_(fs), list_(codeList), random_(random), print_(std::move(print)) {}

CodesPage::~CodesPage() {
    try {
        t_.Close();
    } catch (...) {
        // Nothing unposted is left: every batch ends with its commit.
    }
}

void CodesPage::openTable(const QString& codeTablePath) {
    if (t_.IsOpen()) {
        return;
    }
    try {
        t_.Open(PathOf(codeTablePath), false);
        t_.SetOptimisticBuffer(false);
        t_.SetOrder("FECHOR");
        t_.First();
    } catch (const std::exception& e) {
        try {
            t_.Close();
        } catch (...) {
        }
        throw std::runtime_error((QStringLiteral("No se pudo abrir la tabla de PINs: ") +
                                  QString::fromLocal8Bit(e.what()))
                                     .toLocal8Bit()
                                     .toStdString());
    }
}

QStringList CodesPage::CreateCodes(int count, const QString& minutesText, bool printTickets) {
    const qint64 minutes = BatchMinutes(minutesText);
    struct Made {
        QString code;
        DateTime at;
        std::string hora;
    };
    std::vector<Made> made;
    std::exception_ptr failure;
    const std::string order = t_.IsOpen() ? t_.Order() : std::string();
    try {
        for (int i = 0; i < std::min(count, kMaxBatch); ++i) {
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
            made.push_back({code, now, hora});
        }
    } catch (const std::exception& e) {
        failure = std::make_exception_ptr(TableWriteError(e));
    }
    // One flush to disk for the whole batch: the rows are on disk before any
    // of their tickets is printed, so no ticket ever carries a code a crash
    // could lose, and a batch does not wait for the disk once per code.
    try {
        if (!made.empty()) {
            t_.Commit();
        }
        if (t_.IsOpen()) {
            // The remembered order comes back; the last new row stays current.
            t_.SetOrder(order);
        }
    } catch (const std::exception& e) {
        if (!failure) {
            failure = std::make_exception_ptr(TableWriteError(e));
        }
        made.clear(); // not known to be on disk: no tickets, no list rows
    }
    QStringList codes;
    std::exception_ptr saleFailure;
    for (const Made& m : made) {
        codes << m.code;
        // The code is stored: its sale goes to the till before its ticket
        // leaves, and a till that cannot write does not cost the ticket.
        if (sold_) {
            try {
                sold_(m.code, minutes);
            } catch (...) {
                if (!saleFailure)
                    saleFailure = std::current_exception();
            }
        }
        if (printTickets && print_) {
            print_(TicketCode{m.code, minutes, m.at.date()});
        }
        list_.append(HtmlListRow({m.code, QString::number(minutes),
                                  common::FormatDateTime(QStringLiteral("dd/mm/yy"), m.at),
                                  QString::fromStdString(m.hora)}));
    }
    const bool saved = list_.SaveHtmlList();
    if (failure) {
        std::rethrow_exception(failure);
    }
    if (saleFailure) {
        std::rethrow_exception(saleFailure);
    }
    if (!saved) {
        throw std::runtime_error(
            ("No se pudo escribir " + list_.path()).toLocal8Bit().toStdString());
    }
    return codes;
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
