#pragma once

#include "platform/Registry.h"
#include "platform/RegistryTree.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

namespace tarvina::platform {

// The text form of one root, as regedit's REGEDIT4 export, in UTF-8:
//
//   REGEDIT4
//   <blank>
//   [HKEY_CURRENT_USER\Software\Velt\Tarvina]
//   "Name"="text"            backslash, double quote, CR and LF escaped as \\ \" \r \n
//   "Count"=dword:0000000a   32 bits, two's complement, 8 hex digits
//   "Raw"=hex:00,01,ff       bytes; a line ending in "\" continues on the next
//   @="..."                  the value with the empty name
//   <blank>
//
// Sections and values come in creation order, which is what keeps the
// enumeration order of values stable across restarts.

inline constexpr qsizetype kMaxRegFileSize = 16 * 1024 * 1024;
inline constexpr qsizetype kMaxRegLineLength = 1024 * 1024;
inline constexpr int kMaxReportedProblems = 100;
// Keys plus values one file may bring in; the rest is skipped.
inline constexpr qsizetype kMaxRegEntries = 200000;

QByteArray RootName(Root root);
QByteArray SerializeRegFile(const RegistryTree& tree, Root root);

struct RegParseResult {
    RegistryTree tree;
    // Lines that were skipped, as "line N: reason" (at most kMaxReportedProblems).
    QStringList problems;
    int skippedLines = 0;
};
// Never fails: what cannot be understood is skipped and reported. Sections of
// the other root are skipped too.
RegParseResult ParseRegFile(QByteArrayView text, Root root);

} // namespace tarvina::platform
