#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The café's network key: what the operator reads off the cashier's screen
// and types on each station. Only ever made by the system's random source, so
// that nobody can pick a key weak enough to be guessed offline from a
// recorded handshake.
namespace tarvina::platform::netkey {

// Unambiguous when read aloud or typed: no I, O, 0 or 1.
inline constexpr char kAlphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
// 24 characters of 5 bits each: 120 random bits.
inline constexpr int kChars = 24;
inline constexpr int kGroup = 4;
// What both ends present; the key itself never crosses the wire.
inline constexpr char kIdentity[] = "tarvina";
inline constexpr int kPskBytes = 32;

// A new key in its shown form ("K7QF-M2XD-9HPT-4WNA-C3RJ-E8VB"); nullopt
// when the system's random source fails (never a weaker key).
std::optional<QString> Generate();

// The 24 characters of a typed key, upper case, without dashes or spaces;
// nullopt when anything else is there or the count is wrong.
std::optional<QByteArray> Normalise(const QString& typed);

// The normalised characters in six groups joined by dashes.
QString Shown(const QByteArray& normalised);

// The pre-shared key: SHA-256 of the normalised characters.
QByteArray Psk(const QByteArray& normalised);

// The settings keep a key as the passwords are kept (ScramblePassword of the
// normalised characters, as text). Unscramble gives the characters back;
// nullopt for anything that is not a stored key.
QString Scrambled(const QByteArray& normalised);
std::optional<QByteArray> Unscramble(const QString& stored);
// A stored key either way: scrambled, or written plainly by hand (by the
// package's configuration or a test); nullopt for anything else.
std::optional<QByteArray> FromStored(const QString& stored);

} // namespace tarvina::platform::netkey
