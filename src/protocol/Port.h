#pragma once

#include <QtGlobal>

namespace tarvina::protocol {

// The TCP port stations reach the cashier's server on, when nothing else is
// configured.
inline constexpr quint16 kDefaultPort = 6046;

} // namespace tarvina::protocol
