#pragma once

#include <QByteArrayView>
#include <QRandomGenerator>
#include <QString>
#include <functional>

namespace tarvina::server {

// Codes are the numbers 1000 to 16777214 written as six upper-case
// hexadecimal digits.
constexpr quint32 kCodeDrawRange = 16776215; // 0xFFFC17
constexpr quint32 kCodeOffset = 1000;

// The uniform source codes are drawn from.
class CodeRandom {
public:
    virtual ~CodeRandom() = default;
    // A uniform integer r with 0 <= r < bound.
    virtual quint32 below(quint32 bound) = 0;
};

// A generator seeded once per run.
class SeededCodeRandom final : public CodeRandom {
public:
    explicit SeededCodeRandom(quint64 seed) : gen_(seed) {}
    quint32 below(quint32 bound) override { return gen_.bounded(bound); }

private:
    QRandomGenerator gen_;
};

QString FormatCode(quint32 value);

// Exactly six characters, each 0-9 or A-F: the only text that may be looked
// up as a code.
bool IsWellFormedCode(QByteArrayView text);
bool IsWellFormedCode(const QString& text);

// Draws codes until one is not a live code (deleted codes do not count).
// Throws std::runtime_error if no free code turns up after very many draws.
QString DrawCode(CodeRandom& random, const std::function<bool(const QString&)>& liveCodeExists);

// The time chosen for a batch, as the combo box text reads: a whole number of
// minutes, 0 when the text is not one (or does not fit the balance field).
qint64 BatchMinutes(const QString& text);
// "Genera PINs" is enabled exactly when the chosen time is above 0.
inline bool CreateButtonEnabled(const QString& text) {
    return BatchMinutes(text) > 0;
}

} // namespace tarvina::server
