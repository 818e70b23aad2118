#include "server/pin/UsageJournal.h"

#include "common/Cp1252.h"
#include "server/pin/CodeGenerator.h"
#include "server/pin/HtmlListFile.h"
#include "server/pin/PinCodes.h"
#include "server/pin/PinTableText.h"
#include "server/pin/WholeFile.h"
#include "xbase/File.h"
#include "xbase/TableEngine.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace tarvina::server {

using common::DateTime;
using common::FormatDateTime;
using namespace pintext;

namespace {

constexpr qint64 kMaxMinsol = 99999999; // N(8)
constexpr qint64 kMaxHistoryLine = 4096;
constexpr std::size_t kReadChunk = 64 * 1024;

QString Hms(const DateTime& dt) {
    return FormatDateTime(QStringLiteral("hh:nn:ss"), dt);
}

QString Elapsed(const DateTime& start, const DateTime& now) {
    return common::FormatDuration(QStringLiteral("hh:nn:ss"), start.msecsTo(now));
}

// A journal row is closed when its end lies after 1 January 2004; a null end
// (which reads as 30 December 1899) and anything up to that day is open.
bool RowClosed(const std::optional<xbase::Date>& end) {
    if (!end) {
        return false;
    }
    return std::tie(end->year, end->month, end->day) > std::tuple(2004, 1, 1);
}

bool RowOpen(const std::optional<xbase::Date>& end) {
    if (!end) {
        return true;
    }
    return std::tie(end->year, end->month, end->day) < std::tuple(2004, 1, 1);
}

// Moves t to the computer's last row in the journal's order; false when it
// has none.
bool SeekLastRow(xbase::TableEngine& t, const std::string& key) {
    std::string padded = key;
    padded.resize(64, ' ');
    if (!t.Seek(padded) || t.Eof() || t.GetString("EQUIPO") != key) {
        return false;
    }
    std::uint32_t last = t.RecNo();
    for (t.Next(); !t.Eof() && t.GetString("EQUIPO") == key; t.Next()) {
        last = t.RecNo();
    }
    t.GoTo(last);
    return true;
}

// An open row of another session (its lock was never seen: the station comes
// back with a different start) ends now, as it stands, and true is returned;
// the change then gets a row of its own.
bool CloseOtherSession(xbase::TableEngine& t, const DateTime& from, const DateTime& now) {
    if (!RowOpen(t.GetDate("FHASTA")) ||
        (t.GetDate("FDESDE") == DateOf(from) && t.GetString("HDESDE") == TimeOf(from))) {
        return false;
    }
    t.Edit();
    t.SetDate("FHASTA", DateOf(now));
    t.SetString("HHASTA", TimeOf(now));
    t.Post();
    t.Commit();
    return true;
}

} // namespace

UsageJournal::UsageJournal(xbase::IFileSystem& fs, ServerContext& ctx, xbase::TableEngine* tbDiario,
                           HtmlListFile* usageReport, QString programFolder, Hooks hooks)
    : fs_(fs), ctx_(ctx), tbDiario_(tbDiario), report_(usageReport),
      folder_(std::move(programFolder)), hooks_(std::move(hooks)) {}

QString UsageJournal::Bracketed(const DateTime& now) {
    return u'[' + FormatDateTime(QStringLiteral("dd/mm/yyyy hh:nn:ss"), now) + u']';
}

QString UsageJournal::SessionLine(const DateTime& now, const QString& user, const DateTime& start) {
    return Bracketed(now) + QStringLiteral(" [") + user + QStringLiteral("] Desde: ") + Hms(start) +
           QStringLiteral(" hasta ") + Hms(now) + QStringLiteral(" Transcurrido ") +
           Elapsed(start, now);
}

QString UsageJournal::LastUseText(const DateTime& now, const DateTime& start) {
    return Elapsed(start, now) + QStringLiteral(" desde ") + Hms(start);
}

QString UsageJournal::historyPath(const QString& address) const {
    // The address comes from the station: it names a file of the folder or
    // nothing at all.
    const QString name = address + QStringLiteral(".txt");
    if (address.isEmpty() || address == u'.' || name.contains(u'/') || name.contains(u'\\') ||
        name.contains(QChar(0))) {
        return {};
    }
    return FromFsPath(xbase::ResolvePath(fs_, xbase::JoinPath(FsPath(folder_), FsPath(name))));
}

void UsageJournal::reportError(const QString& text) {
    if (hooks_.generalError) {
        hooks_.generalError(text);
    } else {
        ctx_.console(nullptr, text);
    }
}

void UsageJournal::Statuspinchange(TCompItem* record) {
    StateChange present;
    {
        ComputersGuard guard(ctx_.registry.lock());
        present = StateChange::Of(record);
    }
    Statuspinchange(present);
}

void UsageJournal::Statuspinchange(const StateChange& change) {
    if (change.record == nullptr) {
        return;
    }
    ctx_.lastCommand.set(QStringLiteral("Statuspinchange"));
    StateChange served = change;
    // Each step reports its own failure, so that a fault in the code table
    // never costs the journal or the history their entry.
    try {
        // A code whose use this change ended and charged is no longer the
        // session's: its row closes without it.
        if (hooks_.endCodeUse && hooks_.endCodeUse(change)) {
            served.seen.pin.clear();
        }
    } catch (const std::exception& e) {
        reportError(QString::fromLocal8Bit(e.what()));
    }
    bool ended = false;
    try {
        ended = WriteJournal(served);
    } catch (const std::exception& e) {
        reportError(QStringLiteral("Falla al escribir el diario de uso: ") +
                    QString::fromLocal8Bit(e.what()));
    }
    if (ended && hooks_.useEnded) {
        try {
            UseEnd use;
            {
                ComputersGuard guard(ctx_.registry.lock());
                use.computer = change.record->name;
            }
            use.user = change.seen.user;
            use.code = IsWellFormedCode(change.seen.pin) ? change.seen.pin : QString();
            use.start = DateTime::FromDays(change.seen.start);
            use.minutes = PinCodes::MinutesCharged(use.start, ctx_.clock.now());
            hooks_.useEnded(use);
        } catch (const std::exception& e) {
            reportError(QStringLiteral("Falla al anotar el uso en la caja: ") +
                        QString::fromLocal8Bit(e.what()));
        }
    }
    try {
        writeHistory(served);
    } catch (const std::exception& e) {
        reportError(QString::fromLocal8Bit(e.what()));
    }
}

void UsageJournal::writeHistory(const StateChange& change) {
    TCompItem* record = change.record;
    const DateTime now = ctx_.clock.now();
    QString address, name, lastUse;
    bool historyEmpty = false;
    {
        ComputersGuard guard(ctx_.registry.lock());
        address = record->address;
        historyEmpty = record->history.isEmpty();
    }
    if (historyEmpty) {
        loadHistory(record, address);
    }
    {
        ComputersGuard guard(ctx_.registry.lock());
        if (historyEmpty) {
            record->history.prepend(Bracketed(now) + QStringLiteral(" Inicio de operaciones"));
        }
        name = record->name;
        lastUse = record->lastUse;
    }
    if (change.seen.state == 1 && !lastUse.isEmpty()) {
        closeSession(change, address, name, now);
    } else if (lastUse.isEmpty()) {
        ComputersGuard guard(ctx_.registry.lock());
        record->lastUse = QStringLiteral("N/A");
    }
}

void UsageJournal::closeSession(const StateChange& change, const QString& address,
                                const QString& name, const DateTime& now) {
    TCompItem* record = change.record;
    const QString& user = change.seen.user;
    const double start = change.seen.start;
    const DateTime from = DateTime::FromDays(start);
    QStringList history;
    {
        ComputersGuard guard(ctx_.registry.lock());
        record->history.prepend(SessionLine(now, user, from));
        // Kept as the file is kept when it is loaded: beyond the trim
        // limit, back to its newest lines.
        if (record->history.size() > kHistoryTrimAbove) {
            record->history.resize(kHistoryKeep);
        }
        record->lastUse = LastUseText(now, from);
        history = record->history;
    }
    // A history that cannot be written must not cost the report its row.
    try {
        saveHistory(address, history);
    } catch (const std::exception& e) {
        reportError(QString::fromLocal8Bit(e.what()));
    }
    if (start != 0 && from.msecsTo(now) > kReportMinMs && report_ != nullptr) {
        // The name and the user are the station's words: as text, never as
        // markup.
        report_->append(
            HtmlListRow({Bracketed(now), HtmlEscape(name) + QStringLiteral("//") + HtmlEscape(user),
                         Hms(from), Hms(now), Elapsed(from, now)}));
        // The rows stay in memory for the next save; the cashier hears of
        // the failure now.
        if (!report_->SaveHtmlList()) {
            reportError(QStringLiteral("No se pudo escribir ") + report_->path());
        }
    }
}

void UsageJournal::loadHistory(TCompItem* record, const QString& address) {
    const QString path = historyPath(address);
    const std::string name = FsPath(path);
    std::unique_ptr<xbase::IFile> file;
    try {
        if (path.isEmpty() || !fs_.Exists(name) || fs_.IsFolder(name)) {
            return;
        }
        file = fs_.Open(name, false);
    } catch (const std::exception&) {
        return; // an unreadable history starts again
    }
    // Only the lines that can survive are read: a list beyond the trim limit
    // keeps its first lines only; an overlong line keeps its first bytes.
    QStringList lines;
    QByteArray line;
    bool overlong = false;
    auto finish = [&] {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        lines << common::FromCp1252(line);
        line.clear();
        overlong = false;
    };
    std::vector<char> chunk(kReadChunk);
    std::uint64_t at = 0;
    bool more = true;
    while (more && lines.size() <= kHistoryTrimAbove) {
        const std::size_t got = file->ReadAt(at, chunk.data(), chunk.size());
        at += got;
        more = got == chunk.size();
        for (std::size_t i = 0; i < got && lines.size() <= kHistoryTrimAbove; ++i) {
            if (chunk[i] == '\n') {
                finish();
            } else if (line.size() < kMaxHistoryLine - 1) {
                line += chunk[i];
            } else {
                overlong = true;
            }
        }
    }
    if ((!line.isEmpty() || overlong) && lines.size() <= kHistoryTrimAbove) {
        finish();
    }
    if (lines.size() > kHistoryTrimAbove) {
        lines.resize(kHistoryKeep);
    }
    ComputersGuard guard(ctx_.registry.lock());
    record->history = lines + record->history;
}

void UsageJournal::saveHistory(const QString& address, const QStringList& lines) {
    const QString path = historyPath(address);
    if (path.isEmpty()) {
        throw std::runtime_error(
            QStringLiteral("No se pudo guardar el historial: la dirección del equipo no nombra "
                           "un archivo")
                .toLocal8Bit()
                .toStdString());
    }
    QByteArray out;
    for (const QString& l : lines) {
        out += common::ToCp1252(l) + "\r\n";
    }
    ReplaceWholeFile(fs_, path, out);
}

bool UsageJournal::WriteJournal(const StateChange& change) {
    TCompItem* record = change.record;
    if (record == nullptr || tbDiario_ == nullptr || !tbDiario_->IsOpen()) {
        return false;
    }
    const int state = change.seen.state;
    const double start = change.seen.start;
    if (state != 2 && !(state == 1 && start != 0)) {
        return false;
    }
    QString address, mac;
    {
        ComputersGuard guard(ctx_.registry.lock());
        address = record->address;
        mac = record->mac;
    }
    xbase::TableEngine& t = *tbDiario_;
    const std::string key = Field(address, 64);
    const DateTime from = DateTime::FromDays(start);
    const DateTime now = ctx_.clock.now();
    const bool found = SeekLastRow(t, key) && !CloseOtherSession(t, from, now);
    // Only a well-formed code reaches the table.
    const QString& pin = change.seen.pin;
    const std::string pinField = IsWellFormedCode(pin) ? Field(pin, 6) : std::string();
    auto writeCommon = [&] {
        t.SetString("EQUIPO", key);
        t.SetString("MAC", Field(mac, 17));
        t.SetString("PIN", pinField);
        t.SetDate("FDESDE", DateOf(from));
        t.SetString("HDESDE", TimeOf(from));
    };
    if (state == 2) {
        if (found && !RowClosed(t.GetDate("FHASTA"))) {
            return false; // the last session of this computer is still open
        }
        t.Append();
        writeCommon();
        // Whole seconds first: the station's start travels as a rounded
        // decimal, and 30 minutes must not read as 29.
        const qint64 seconds =
            (DateTime::FromDays(start).msecsTo(DateTime::FromDays(change.seen.end)) + 500) / 1000;
        const qint64 minutes = seconds / 60;
        t.SetInteger("MINSOL", std::clamp<qint64>(minutes, 0, kMaxMinsol));
        t.Post();
        // The row is the record of a sale: on the disk before the step ends.
        t.Commit();
        return false;
    } else {
        if (!found) {
            t.Append();
        } else if (RowOpen(t.GetDate("FHASTA"))) {
            t.Edit();
        } else {
            return false;
        }
        writeCommon();
        t.SetDate("FHASTA", DateOf(now));
        t.SetString("HHASTA", TimeOf(now));
        t.Post();
        t.Commit();
        return true;
    }
}

} // namespace tarvina::server
