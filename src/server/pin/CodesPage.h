#pragma once

#include "server/pin/Ticket.h"
#include "xbase/TableEngine.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace tarvina::platform {
class Clock;
}

namespace tarvina::server {

class CodeRandom;
class ComputerRegistry;
class HtmlListFile;

// The logic of the codes page (TPinFrame) and of the code history page: the
// widgets only show the page's handle and call these.
class CodesPage {
public:
    static constexpr int kMaxBatch = 999;

    // fs: where the code table lives (the page's own handle on it is made
    // there); codeList: the start day's list of generated codes, already
    // opened; print: prints one ticket (PrintTicket with the current
    // settings).
    CodesPage(xbase::IFileSystem& fs, platform::Clock& clock, HtmlListFile& codeList,
              CodeRandom& random, std::function<void(const TicketCode&)> print);
    ~CodesPage(); // closes the handle
    CodesPage(const CodesPage&) = delete;
    CodesPage& operator=(const CodesPage&) = delete;

    // The page's own handle on the code table (the frame's grid shows it).
    xbase::TableEngine& table() { return t_; }
    // Opens the handle when it is closed, on tag "FECHOR" at its first row;
    // on failure the handle is left closed and the error is thrown in
    // Spanish.
    void openTable(const QString& codeTablePath);

    // BtnCreaPINClick: count codes worth the chosen minutes, committed to
    // disk together, then a ticket each when printTickets and a row each in
    // the code list, which is saved once at the end. An engine error ends the
    // batch at that code and is thrown on (the codes already made stay, with
    // their tickets and list rows); so is a failed save of the list. Returns
    // the codes made.
    QStringList CreateCodes(int count, const QString& minutesText, bool printTickets);

    // Called for every code made and stored, with its minutes (the till
    // takes its sale).
    void setSold(std::function<void(const QString& code, qint64 minutes)> sold) {
        sold_ = std::move(sold);
    }

    // The grid's current code, as a ticket prints it.
    TicketCode currentCode() const;
    // "Ver conexión" is enabled exactly while the current code is in use.
    bool viewConnectionEnabled() const;
    // MnuGoConnClick: the computers list's row of the computer that uses the
    // current code, -1 when none (the selection is then cleared). Takes
    // ComputersLock.
    int connectionRow(const ComputerRegistry& registry) const;

    // RxDBGrid1GetCellProps: rows of codes in use take the in-use colour.
    static quint32 RowColour(bool inUse, quint32 compColUse, quint32 windowColour) {
        return inUse ? compColUse : windowColour;
    }

    // EdPinChange of the history page: the first history row of the first
    // code that begins with the typed text.
    static void EdPinChange(xbase::TableEngine& tbRegPin, const QString& text);

private:
    platform::Clock& clock_;
    // Reading a row fills the handle's buffer: the const views read through it.
    mutable xbase::TableEngine t_;
    HtmlListFile& list_;
    CodeRandom& random_;
    std::function<void(const TicketCode&)> print_;
    std::function<void(const QString&, qint64)> sold_;
};

} // namespace tarvina::server
