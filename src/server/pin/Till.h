#pragma once

#include "common/DateTime.h"
#include "server/settings/Tariff.h"

#include <QHash>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace tarvina::platform {
class Clock;
}
namespace tarvina::xbase {
class IFileSystem;
class TableEngine;
} // namespace tarvina::xbase

namespace tarvina::server {

enum class TillConcept { Use, Code, Extra, Void };
// The concept as the table keeps it: "USO", "PIN", "EXTRA", "ANULA".
QString ConceptText(TillConcept kind);

// One row of the till table (data/Caja.dbf).
struct TillMovement {
    std::uint32_t recno = 0;
    common::DateTime when;
    QString computer;
    QString user;
    TillConcept kind = TillConcept::Use;
    qint64 minutes = 0;
    qint64 cents = 0;
    bool paid = false;
    QString paidAt; // "dd/mm/yyyy hh:nn:ss"
    // The code sold or used; on a voiding row "#" and the voided row's number.
    QString pin;
    int close = 0;
};

// What the till holds since its last close.
struct TillTotals {
    std::map<TillConcept, qint64> perConcept;
    std::map<QString, qint64> perComputer;
    qint64 paid = 0;
    qint64 due = 0;
    qint64 total = 0;
    qint64 movements = 0;
};

// The money of the counter: every use that ends and every code sold becomes a
// row of the till table, committed at once; a mistaken row is never changed
// but voided by a row of the opposite amount; payments mark rows paid; a
// close numbers and stamps every row since the previous one. The rows since
// the last close are kept in memory, so what a computer owes is a look-up.
// UI thread only.
class Till {
public:
    Till(xbase::IFileSystem& fs, platform::Clock& clock);
    ~Till();
    Till(const Till&) = delete;
    Till& operator=(const Till&) = delete;

    // Opens the table (made and checked by TableOps::CreaCaja) and reads the
    // rows of the open till. Throws xbase::XBaseError.
    void open(const QString& path);
    bool isOpen() const;
    void close();

    void setTariff(const Tariff& tariff) { tariff_ = tariff; }
    const Tariff& tariff() const { return tariff_; }

    // A use that ended: its row, unpaid, with the tariff's amount for the
    // minutes the journal charges; a use of a prepaid code costs nothing
    // here (the code was paid when sold) and is written paid. Nothing without
    // a tariff. Returns the row written.
    std::optional<TillMovement> useEnded(const QString& computer, const QString& user,
                                         const common::DateTime& start, qint64 minutes,
                                         const QString& code);
    // A code sold: its row, paid at once with the price of its minutes.
    std::optional<TillMovement> codeSold(const QString& code, qint64 minutes);
    // Voids a row of the open till; throws std::invalid_argument with the
    // cashier's text when it cannot be voided.
    TillMovement voidMovement(std::uint32_t recno);
    // Marks the computer's unpaid rows paid; returns how many.
    int collect(const QString& computer);

    // The unpaid amount and minutes of a computer.
    qint64 due(const QString& computer) const;
    qint64 dueMinutes(const QString& computer) const;
    // The running amount of a use not ended yet.
    qint64 runningCost(const common::DateTime& start, const common::DateTime& now) const;
    // What a station is told it owes: the unpaid minutes and amount, plus,
    // while in use, the use so far.
    struct Account {
        qint64 minutes = 0;
        qint64 cents = 0;
    };
    Account accountOf(const QString& computer, bool inUse, const common::DateTime& start,
                      const common::DateTime& now) const;

    const std::vector<TillMovement>& openMovements() const { return open_; }
    TillTotals totals() const;
    int lastClose() const { return lastClose_; }

    struct Closed {
        int number = 0;
        common::DateTime at;
        std::vector<TillMovement> movements;
        TillTotals totals;
    };
    // Numbers the close, stamps its rows and commits; the open till starts
    // empty.
    Closed closeTill();

private:
    TillMovement append(TillMovement m);
    void readRow(TillMovement& m);
    void note(const TillMovement& m);

    xbase::IFileSystem& fs_;
    platform::Clock& clock_;
    std::unique_ptr<xbase::TableEngine> t_;
    Tariff tariff_;
    std::vector<TillMovement> open_;
    struct Owed {
        qint64 cents = 0;
        qint64 minutes = 0;
    };
    QHash<QString, Owed> owed_;
    QHash<std::uint32_t, bool> voided_;
    int lastClose_ = 0;
};

} // namespace tarvina::server
