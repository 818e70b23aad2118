#pragma once

#include "platform/Desktop.h"

#include <QString>
#include <functional>

namespace tarvina::client {

// Puts back the system's start and shut-down pictures from the copies in
// the "Logos" folder of the working folder, at the close of a station whose
// logo protection is on: every picture whose live file is missing or
// differs from its copy (another size, other bytes) is copied back, and the
// cashier is told which; any failure is told once with "Falló restitución
// de logotipos.". Returns how many pictures were put back.
int RestoreLogos(platform::Desktop& desktop, const QString& workingFolder,
                 const std::function<void(const QString&)>& tellCashier);

// True when the two files have the same bytes (compared in blocks of
// 20480, as the copies are checked); false when either cannot be read.
bool SameFileBytes(const QString& a, const QString& b);

} // namespace tarvina::client
