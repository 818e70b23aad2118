#pragma once

#include "platform/Setting.h"

namespace tarvina::server {

// Where taquilla keeps its settings: a key of the current user's root.
inline constexpr char16_t kSettingsKey[] = u"\\Software\\Velt\\Tarvina";
// What the start command falls back to when its group cannot be read.
inline constexpr char16_t kDefaultClientInit[] = u"http://localhost/";

// Every value taquilla reads or writes in the store, each with its name as
// stored, its form and the default a read falls back to. Names are compared
// without regard to case but keep the spelling of their first write, so a
// name is spelled here as it has always been written.
namespace keys {

using platform::SettingKey;
using platform::SettingValue;
namespace form = platform::form;

// Built at start rather than at compile time: a view over a named array is
// not a constant expression once the undefined-behaviour checks are on.
inline const SettingKey kTaquilla{platform::Root::CurrentUser, kSettingsKey};

inline const SettingValue<form::Text> kToolBarWallPaper{kTaquilla, u"ToolBarWallPaper"};
inline const SettingValue<form::Integer> kToolBarFlat{kTaquilla, u"ToolBarFlat", 1};
inline const SettingValue<form::Integer> kToolBarAlign{kTaquilla, u"ToolBarAlign", 1};
// The version that last closed; written with this program's version.
inline const SettingValue<form::Text> kZuStdVer{kTaquilla, u"ZUSTDVer", u"1.3"};
inline const SettingValue<form::Flag> kConfirmClose{kTaquilla, u"ConfirmClose", true};
// The ticket printer's line feeds and raw mode: read as a pair.
inline const SettingValue<form::Integer> kNLines{kTaquilla, u"NLines", 2};
inline const SettingValue<form::Flag> kRawMode{kTaquilla, u"RawMode", false};
inline const SettingValue<form::Integer> kPrnTicket{kTaquilla, u"PrnTicket", 0};
inline const SettingValue<form::Integer> kPort{kTaquilla, u"Port", 0};
// The ticket's margin and width: read as a pair.
inline const SettingValue<form::Integer> kTicketLeft{kTaquilla, u"TicketLeft", 2};
inline const SettingValue<form::Integer> kTicketWidth{kTaquilla, u"TicketWidth", 30};
// The computers view's colours (0x00BBGGRR): read as a group of four.
inline const SettingValue<form::Integer> kCompColDesc{kTaquilla, u"CompColDesc", 255};
inline const SettingValue<form::Integer> kCompColBlock{kTaquilla, u"CompColBlock", 8421504};
inline const SettingValue<form::Integer> kCompColUse{kTaquilla, u"CompColUse", 65280};
inline const SettingValue<form::Integer> kCompColWait{kTaquilla, u"CompColWait", 65535};
// The ticket's closing lines: read as a pair.
inline const SettingValue<form::Text> kLineaFin1{kTaquilla, u"LineaFin1",
                                                 u"Gracias por su preferencia"};
inline const SettingValue<form::Text> kLineaFin2{kTaquilla, u"LineaFin2"};
// Empty reads as the default too.
inline const SettingValue<form::Text> kPais{kTaquilla, u"Pais", u"Venezuela"};
// Empty reads as the system's currency symbol.
inline const SettingValue<form::Text> kMoneda{kTaquilla, u"Moneda"};
// Missing only before the first orderly close.
inline const SettingValue<form::Integer> kServiceMode{kTaquilla, u"ServiceMode", 0};
// The tax registration's caption; stored empty it reads as kRegistroEmpty.
inline const SettingValue<form::Text> kRegistro{kTaquilla, u"Registro", u"Registro"};
inline constexpr char16_t kRegistroEmpty[] = u"Registro fiscal";
// The business's particulars, the passwords and the start command: read as a
// group of nine, in this order.
inline const SettingValue<form::Text> kRif{kTaquilla, u"RIF"};
inline const SettingValue<form::Text> kDenominacion{kTaquilla, u"Denominacion"};
inline const SettingValue<form::Text> kDir1{kTaquilla, u"DIR1"};
inline const SettingValue<form::Text> kDir2{kTaquilla, u"DIR2"};
inline const SettingValue<form::Text> kDir3{kTaquilla, u"DIR3"};
inline const SettingValue<form::Text> kTelefono{kTaquilla, u"Telefono"};
inline const SettingValue<form::Text> kPasswordStd{kTaquilla, u"PasswordStd"};
inline const SettingValue<form::Text> kPasswordStdPin{kTaquilla, u"PasswordStdPin"};
inline const SettingValue<form::Text> kClientInit{kTaquilla, u"ClientInit", kDefaultClientInit};
// How stations are given time and the lengths offered: read as a pair.
inline const SettingValue<form::Integer> kClienteModo{kTaquilla, u"ClienteModo", 1};
inline const SettingValue<form::Text> kClienteVal{kTaquilla, u"ClienteVal", u"15,30,60"};
inline const SettingValue<form::Integer> kLimitBitacora{kTaquilla, u"LimitBitacora", 10485760};

// The program's start and close, for telling a crash from an orderly close.
inline const SettingValue<form::Date> kEntrada{kTaquilla, u"Entrada"};
inline const SettingValue<form::Date> kSalida{kTaquilla, u"Salida"};
// The tables' own start and close stamps (the close stamp spelled as the
// close first writes it; the start has read it in capitals).
inline const SettingValue<form::Date> kLastIn{kTaquilla, u"LastInSTD"};
inline const SettingValue<form::Date> kLastOut{kTaquilla, u"LastOutStd"};

// A window's placement: each name follows the window's ("frmZUCaja.Left").
inline const SettingValue<form::Integer> kWindowState{kTaquilla, u".WindowsState"};
inline const SettingValue<form::Integer> kWindowLeft{kTaquilla, u".Left"};
inline const SettingValue<form::Integer> kWindowTop{kTaquilla, u".Top"};
inline const SettingValue<form::Integer> kWindowHeight{kTaquilla, u".Height"};
inline const SettingValue<form::Integer> kWindowWidth{kTaquilla, u".Width"};

// The system's, only read: whom the machine is registered to.
inline const SettingKey kWindowsVersion{platform::Root::LocalMachine,
                                        u"\\Software\\Microsoft\\Windows\\CurrentVersion"};
inline const SettingValue<form::Text> kRegisteredOwner{kWindowsVersion, u"RegisteredOwner"};
inline const SettingValue<form::Text> kRegisteredOrganization{kWindowsVersion,
                                                              u"RegisteredOrganization"};

// The link's protection: the network key (scrambled like the passwords) and
// the mode (0 plain only, 1 encrypted and plain, 2 encrypted only).
inline const SettingValue<form::Text> kClaveRed{kTaquilla, u"ClaveRed"};
inline const SettingValue<form::Integer> kRedSegura{kTaquilla, u"RedSegura", 0};
// The till's tariffs. Prices are texts of cents with a dot ("1.20"), minutes
// integers; an empty TarifaHora means no tariff at all.
inline const SettingValue<form::Text> kTarifaHora{kTaquilla, u"TarifaHora"};
inline const SettingValue<form::Integer> kTarifaMinimo{kTaquilla, u"TarifaMinimo", 0};
inline const SettingValue<form::Integer> kTarifaFraccion{kTaquilla, u"TarifaFraccion", 1};
// A band's values, each name following the band's ("TarifaBanda1" +
// "Desde"): its first and its end minute of the day, its price per hour.
inline const SettingValue<form::Integer> kTarifaBandaDesde{kTaquilla, u"Desde"};
inline const SettingValue<form::Integer> kTarifaBandaHasta{kTaquilla, u"Hasta"};
inline const SettingValue<form::Text> kTarifaBandaPrecio{kTaquilla, u"Precio"};
// The price of a code of some minutes, named after them ("TarifaPIN30" +
// "Precio").
inline const SettingValue<form::Text> kTarifaPinPrecio{kTaquilla, u"Precio"};

// The chain's central copy: the branch's name (empty: no copy), the libpq
// connection string without the password, and the password, scrambled like
// the others. Stored when the "Sucursal" page applies them.
inline const SettingValue<form::Text> kSucursal{kTaquilla, u"Sucursal"};
inline const SettingValue<form::Text> kCentral{kTaquilla, u"Central"};
inline const SettingValue<form::Text> kCentralClave{kTaquilla, u"CentralClave"};

} // namespace keys
} // namespace tarvina::server
