#pragma once

#include <QByteArray>

namespace tarvina::platform {

// How the link between the cashier and its stations is protected.
struct LinkSecurity {
    // The cashier's choice (RedSegura). A station ignores it: with a key it
    // speaks only encrypted.
    enum class Mode {
        Plain = 0,        // every stream plain, as ever
        Both = 1,         // encrypted streams with the key, plain ones still accepted
        EncryptedOnly = 2 // plain streams refused
    };
    Mode mode = Mode::Plain;
    // The pre-shared key (SHA-256 of the network key); empty: none, and then
    // every stream is plain whatever the mode.
    QByteArray psk;

    bool encrypts() const { return !psk.isEmpty(); }
    bool operator==(const LinkSecurity&) const = default;
};

} // namespace tarvina::platform
