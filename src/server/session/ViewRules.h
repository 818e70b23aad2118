#pragma once

#include "server/session/ComputerActions.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <array>

namespace tarvina::server {

struct TCompItem;

// The rules of the computers view that need no widgets: which actions a
// selection allows, the tip of a row, the colours of a row, the order of
// two cells and the safe shape of a text from a station.

// What UpdateActions reads of the selected row's record (taken under
// ComputersLock by the caller).
struct SelectedComputer {
    int state = 0;
    bool hasMessages = false;
    QString versionText;
    quint32 versionNumber = 0;
};

// The selection as UpdateActions sees it: the first selected row's record,
// if any, how many rows are selected and how many the list holds.
struct ActionInput {
    bool hasRecord = false;
    SelectedComputer record;
    int selectedCount = 0;
    int rowCount = 0;
    qint64 amountDue = 0;
};

// Whether each action of the table is enabled for one selection, and the
// CD ROM submenu.
struct ActionStates {
    std::array<bool, ComputerAction::Count> enabled{};
    bool cdRom = false;

    bool operator[](ComputerAction::Id id) const { return enabled[id]; }
};

// The oldest station versions that take the newer commands.
inline constexpr char16_t kRemoteVersionText[] = u"V 2.6 (B 3.0)";
inline constexpr quint32 kClientLogVersion = (2u << 24) | (7u << 16) | (6u << 8) | 0u;

// A station version text of the form "V 2.6 (B 3.0)". A station that sends
// anything else gets none of the commands that depend on its version, even
// when its text happens to compare above the oldest one.
bool IsVersionText(const QString& text);

// Each action's rule from the table, on the facts of the selection; none
// without a selected record.
ActionStates UpdateActions(const ActionInput& input);

// Snapshot of a record for UpdateActions. Requires ComputersLock.
SelectedComputer SelectedFrom(const TCompItem& record);

// The row's tip, lines joined by CR LF. `now` in days.
QString ComputerTip(const TCompItem& record, double now);

// Colours as 0xRRGGBB. The background of a row by state from the four
// colour settings (Windows values 0x00BBGGRR); none (-1) for a state that
// uses the list's own colour, and for a system colour (high byte set).
struct RowColours {
    qint32 desc = 255;
    qint32 block = 8421504;
    qint32 use = 65280;
    qint32 wait = 65535;
};
qint64 RowBackground(const RowColours& colours, int state);
// Blue while attention is set, black otherwise.
quint32 RowForeground(bool attention);
// 0x00BBGGRR to 0xRRGGBB; -1 for a system colour.
qint64 WindowsColourToRgb(qint32 value);

// Docking the tool bar: the side of an area of width x height that a
// pointer at (x, y) chooses, from where it lies relative to the area's two
// diagonals, as a ToolBarAlign value (1 top, 2 bottom, 3 left, 4 right). A
// pointer within 4 pixels of the left or right edge in the upper half
// chooses the top, where a tool bar is usually wanted.
int DockSideFor(int x, int y, int width, int height);

// Sorting: two texts compared without regard to case; <0, 0, >0.
int CompareCellTexts(const QString& a, const QString& b);

// A text from a station as one line of the list: control characters become
// U+FFFD so that a name cannot break a row or a tip into several lines.
QString OneLine(const QString& text);

} // namespace tarvina::server
