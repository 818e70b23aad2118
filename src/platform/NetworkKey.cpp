#include "platform/NetworkKey.h"

#include "common/Cp1252.h"
#include "common/Password.h"

#include <cstring>
#include <openssl/rand.h>
#include <openssl/sha.h>

namespace tarvina::platform::netkey {

namespace {

bool InAlphabet(char c) {
    return c != '\0' && std::strchr(kAlphabet, c) != nullptr;
}

} // namespace

std::optional<QString> Generate() {
    // 15 bytes are 120 bits, five for each character.
    unsigned char random[15];
    if (RAND_bytes(random, sizeof random) != 1)
        return std::nullopt;
    QByteArray chars;
    chars.reserve(kChars);
    quint32 acc = 0;
    int bits = 0;
    for (const unsigned char b : random) {
        acc = (acc << 8) | b;
        bits += 8;
        while (bits >= 5) {
            bits -= 5;
            chars.append(kAlphabet[(acc >> bits) & 31]);
        }
    }
    std::memset(random, 0, sizeof random);
    return Shown(chars);
}

std::optional<QByteArray> Normalise(const QString& typed) {
    QByteArray out;
    for (const QChar ch : typed) {
        if (ch == u'-' || ch.isSpace())
            continue;
        const char16_t u = ch.toUpper().unicode();
        if (u > 0x7F || !InAlphabet(static_cast<char>(u)) || out.size() >= kChars)
            return std::nullopt;
        out.append(static_cast<char>(u));
    }
    if (out.size() != kChars)
        return std::nullopt;
    return out;
}

QString Shown(const QByteArray& normalised) {
    QString out;
    for (qsizetype i = 0; i < normalised.size(); ++i) {
        if (i > 0 && i % kGroup == 0)
            out.append(u'-');
        out.append(QLatin1Char(normalised[i]));
    }
    return out;
}

QByteArray Psk(const QByteArray& normalised) {
    QByteArray out(kPskBytes, '\0');
    SHA256(reinterpret_cast<const unsigned char*>(normalised.constData()),
           static_cast<size_t>(normalised.size()), reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

QString Scrambled(const QByteArray& normalised) {
    return common::FromCp1252(common::ScramblePassword(normalised));
}

std::optional<QByteArray> Unscramble(const QString& stored) {
    const QByteArray bytes = common::ToCp1252(stored);
    if (bytes.size() != kChars)
        return std::nullopt;
    // The scramble is a fixed substitution at each position, one-to-one over
    // the key's alphabet: each stored byte has one character that gives it.
    QByteArray out;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        QByteArray probe(kChars, 'A');
        bool found = false;
        for (const char* c = kAlphabet; *c != '\0' && !found; ++c) {
            probe[i] = *c;
            if (common::ScramblePassword(probe)[i] == bytes[i]) {
                out.append(*c);
                found = true;
            }
        }
        if (!found)
            return std::nullopt;
    }
    return out;
}

std::optional<QByteArray> FromStored(const QString& stored) {
    if (auto plain = Normalise(stored))
        return plain;
    return Unscramble(stored);
}

} // namespace tarvina::platform::netkey
