#include "server/pin/Till.h"

#include "platform/Clock.h"
#include "server/pin/PinTableText.h"
#include "xbase/TableEngine.h"

#include <stdexcept>

namespace tarvina::server {

using common::DateTime;
using namespace pintext;

namespace {

constexpr qint64 kMaxMinutesField = 999999;     // N(6)
constexpr qint64 kMaxAmountField = 99999999999; // N(12,2) in cents, signed
constexpr int kMaxClose = 999999;

QString Stamp(const DateTime& at) {
    return common::FormatDateTime(QStringLiteral("dd/mm/yyyy hh:nn:ss"), at);
}

std::optional<TillConcept> ConceptOf(const QString& text) {
    for (TillConcept c :
         {TillConcept::Use, TillConcept::Code, TillConcept::Extra, TillConcept::Void}) {
        if (ConceptText(c) == text)
            return c;
    }
    return std::nullopt;
}

} // namespace

QString ConceptText(TillConcept kind) {
    switch (kind) {
    case TillConcept::Use:
        return QStringLiteral("USO");
    case TillConcept::Code:
        return QStringLiteral("PIN");
    case TillConcept::Extra:
        return QStringLiteral("EXTRA");
    case TillConcept::Void:
        break;
    }
    return QStringLiteral("ANULA");
}

Till::Till(xbase::IFileSystem& fs, platform::Clock& clock) : fs_(fs), clock_(clock) {}

Till::~Till() {
    close();
}

bool Till::isOpen() const {
    return t_ && t_->IsOpen();
}

void Till::close() {
    if (t_) {
        try {
            t_->Close();
        } catch (...) {
        }
        t_.reset();
    }
    open_.clear();
    owed_.clear();
    voided_.clear();
}

void Till::readRow(TillMovement& m) {
    xbase::TableEngine& t = *t_;
    m.recno = t.RecNo();
    const auto date = t.GetDate("FECHA");
    const QString time = Text(t.GetString("HORA"));
    m.when = DateTime::FromParts(date ? date->year : 1899, date ? date->month : 12,
                                 date ? date->day : 30, time.left(2).toInt(),
                                 time.mid(3, 2).toInt(), time.mid(6, 2).toInt());
    m.computer = Text(t.GetString("EQUIPO"));
    m.user = Text(t.GetString("USUARIO"));
    m.kind = ConceptOf(Text(t.GetString("CONCEPTO"))).value_or(TillConcept::Extra);
    m.minutes = t.GetInteger("MINUTOS");
    m.cents = t.GetScaled("MONTO");
    m.paid = t.GetLogical("COBRADO");
    m.paidAt = Text(t.GetString("FCOBRO"));
    m.pin = Text(t.GetString("PIN"));
    m.close = int(t.GetInteger("CIERRE"));
}

void Till::note(const TillMovement& m) {
    if (!m.paid) {
        Owed& o = owed_[m.computer];
        o.cents += m.cents;
        o.minutes += m.kind == TillConcept::Void ? -m.minutes : m.minutes;
    }
    if (m.kind == TillConcept::Void && m.pin.startsWith(u'#'))
        voided_[m.pin.mid(1).toUInt()] = true;
}

void Till::open(const QString& path) {
    close();
    t_ = std::make_unique<xbase::TableEngine>(fs_);
    t_->Open(PathOf(path), false);
    t_->SetOptimisticBuffer(false);
    lastClose_ = 0;
    // A close stamps every row before it, so the open till is the rows after
    // the last stamped one: read from the end back to it.
    std::vector<TillMovement> rows;
    for (t_->Last(); !t_->Bof() && t_->RecNo() != 0; t_->Prior()) {
        if (t_->Deleted())
            continue;
        const int stamped = int(t_->GetInteger("CIERRE"));
        if (stamped != 0) {
            lastClose_ = stamped;
            break;
        }
        TillMovement m;
        readRow(m);
        rows.push_back(m);
    }
    open_.assign(rows.rbegin(), rows.rend());
    for (const TillMovement& m : open_)
        note(m);
}

TillMovement Till::append(TillMovement m) {
    if (!isOpen())
        throw std::runtime_error(
            "Falla al escribir en la caja: la tabla Caja.dbf no está abierta.");
    xbase::TableEngine& t = *t_;
    m.when = clock_.now();
    m.minutes = std::clamp<qint64>(m.minutes, 0, kMaxMinutesField);
    m.cents = std::clamp<qint64>(m.cents, -kMaxAmountField, kMaxAmountField);
    t.Append();
    t.SetDate("FECHA", DateOf(m.when));
    t.SetString("HORA", TimeOf(m.when));
    t.SetString("EQUIPO", Field(m.computer, 20));
    t.SetString("USUARIO", Field(m.user, 20));
    t.SetString("CONCEPTO", Field(ConceptText(m.kind), 10));
    t.SetInteger("MINUTOS", m.minutes);
    t.SetScaled("MONTO", m.cents);
    t.SetLogical("COBRADO", m.paid);
    t.SetString("FCOBRO", Field(m.paidAt, 19));
    t.SetString("PIN", Field(m.pin, 12));
    t.SetInteger("CIERRE", 0);
    t.Post();
    // Money taken or owed: on the disk before the step ends.
    t.Commit();
    readRow(m); // as stored: the texts cut to their fields
    open_.push_back(m);
    note(m);
    return m;
}

std::optional<TillMovement> Till::useEnded(const QString& computer, const QString& user,
                                           const DateTime& start, qint64 minutes,
                                           const QString& code) {
    if (!tariff_.set)
        return std::nullopt;
    TillMovement m;
    m.computer = computer;
    m.user = user;
    m.kind = TillConcept::Use;
    m.minutes = minutes;
    m.pin = code;
    if (code.isEmpty()) {
        m.cents = tariff_.UseCost(start, minutes);
    } else {
        m.paid = true;
        m.paidAt = Stamp(clock_.now());
    }
    return append(m);
}

std::optional<TillMovement> Till::codeSold(const QString& code, qint64 minutes) {
    const auto price = tariff_.CodePrice(minutes);
    if (!price)
        return std::nullopt;
    TillMovement m;
    m.kind = TillConcept::Code;
    m.minutes = minutes;
    m.cents = *price;
    m.pin = code;
    m.paid = true;
    m.paidAt = Stamp(clock_.now());
    return append(m);
}

TillMovement Till::voidMovement(std::uint32_t recno) {
    const auto it = std::find_if(open_.begin(), open_.end(),
                                 [&](const TillMovement& m) { return m.recno == recno; });
    if (it == open_.end())
        throw std::invalid_argument("Sólo se anulan movimientos de la caja abierta.");
    if (it->kind == TillConcept::Void)
        throw std::invalid_argument("Una anulación no se anula.");
    if (voided_.contains(recno))
        throw std::invalid_argument("Ese movimiento ya fue anulado.");
    TillMovement m;
    m.computer = it->computer;
    m.user = it->user;
    m.kind = TillConcept::Void;
    m.minutes = it->minutes;
    m.cents = -it->cents;
    // Money already in the drawer goes back out; money owed is owed no more.
    m.paid = it->paid;
    m.paidAt = m.paid ? Stamp(clock_.now()) : QString();
    m.pin = QStringLiteral("#%1").arg(recno);
    return append(m);
}

int Till::collect(const QString& computer) {
    if (!isOpen())
        throw std::runtime_error("Falla al cobrar: la tabla Caja.dbf no está abierta.");
    xbase::TableEngine& t = *t_;
    const QString at = Stamp(clock_.now());
    int n = 0;
    for (TillMovement& m : open_) {
        if (m.paid || m.computer != computer)
            continue;
        t.GoTo(m.recno);
        t.Edit();
        t.SetLogical("COBRADO", true);
        t.SetString("FCOBRO", Field(at, 19));
        t.Post();
        m.paid = true;
        m.paidAt = at;
        ++n;
    }
    t.Commit();
    owed_.remove(computer);
    return n;
}

qint64 Till::due(const QString& computer) const {
    const auto it = owed_.constFind(computer);
    return it == owed_.constEnd() ? 0 : it->cents;
}

qint64 Till::dueMinutes(const QString& computer) const {
    const auto it = owed_.constFind(computer);
    return it == owed_.constEnd() ? 0 : it->minutes;
}

qint64 Till::runningCost(const DateTime& start, const DateTime& now) const {
    if (!tariff_.set || !start.isValid() || now < start)
        return 0;
    return tariff_.UseCost(start, start.minutesTo(now));
}

Till::Account Till::accountOf(const QString& computer, bool inUse, const DateTime& start,
                              const DateTime& now) const {
    Account a{dueMinutes(computer), due(computer)};
    if (inUse && start.isValid() && start <= now) {
        a.minutes += start.minutesTo(now);
        a.cents += runningCost(start, now);
    }
    return a;
}

TillTotals Till::totals() const {
    TillTotals s;
    for (const TillMovement& m : open_) {
        s.perConcept[m.kind] += m.cents;
        if (!m.computer.isEmpty())
            s.perComputer[m.computer] += m.cents;
        (m.paid ? s.paid : s.due) += m.cents;
        s.total += m.cents;
        ++s.movements;
    }
    return s;
}

Till::Closed Till::closeTill() {
    if (!isOpen())
        throw std::runtime_error("Falla al cerrar la caja: la tabla Caja.dbf no está abierta.");
    Closed c;
    c.number = lastClose_ >= kMaxClose ? 1 : lastClose_ + 1;
    c.at = clock_.now();
    c.totals = totals();
    xbase::TableEngine& t = *t_;
    if (!open_.empty()) {
        // The open rows ascend by record number: one pass stamps exactly them.
        std::size_t next = 0;
        t.UpdateRecords(open_.front().recno, open_.back().recno,
                        [&](std::uint32_t recno, xbase::RecordImage& row) {
                            if (next < open_.size() && open_[next].recno == recno) {
                                row.SetInteger("CIERRE", c.number);
                                open_[next++].close = c.number;
                            }
                        });
    }
    // A close with no movements still takes its number: a row of its own
    // carries the stamp, so the next start knows it.
    if (open_.empty()) {
        TillMovement mark;
        mark.kind = TillConcept::Extra;
        mark.paid = true;
        mark.when = c.at;
        t.Append();
        t.SetDate("FECHA", DateOf(c.at));
        t.SetString("HORA", TimeOf(c.at));
        t.SetString("CONCEPTO", Field(ConceptText(TillConcept::Extra), 10));
        t.SetInteger("MINUTOS", 0);
        t.SetScaled("MONTO", 0);
        t.SetLogical("COBRADO", true);
        t.SetInteger("CIERRE", c.number);
        t.Post();
    }
    t.Commit();
    c.movements = std::move(open_);
    open_.clear();
    owed_.clear();
    voided_.clear();
    lastClose_ = c.number;
    return c;
}

} // namespace tarvina::server
