#include "client/session/SessionFile.h"

#include <QFile>
#include <QSaveFile>
#include <QtEndian>
#include <cmath>
#include <cstring>

namespace tarvina::client {

namespace {

// Latest date the programs can represent (31 December 9999).
constexpr double kMaxDays = 2958466.0;

void PutDouble(QByteArray& out, qsizetype at, double v) {
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    qToLittleEndian(bits, out.data() + at);
}

double GetDouble(const QByteArray& in, qsizetype at) {
    const quint64 bits = qFromLittleEndian<quint64>(in.constData() + at);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

void PutShortString(QByteArray& out, qsizetype at, qsizetype max, const QByteArray& text) {
    const qsizetype n = std::min(text.size(), max);
    out[at] = static_cast<char>(n);
    std::memcpy(out.data() + at + 1, text.constData(), static_cast<size_t>(n));
}

std::optional<QByteArray> GetShortString(const QByteArray& in, qsizetype at, qsizetype max) {
    const qsizetype n = static_cast<quint8>(in[at]);
    if (n > max)
        return std::nullopt;
    return in.mid(at + 1, n);
}

} // namespace

QByteArray EncodeSessionRecord(const SessionRecord& r) {
    QByteArray out(SessionRecord::kSize, '\0');
    out[SessionRecord::kCountModeAt] = static_cast<char>(r.countMode);
    PutDouble(out, SessionRecord::kWrittenAt, r.written);
    PutDouble(out, SessionRecord::kStartAt, r.start);
    PutShortString(out, SessionRecord::kMinutesAt, SessionRecord::kMinutesMax, r.minutes);
    PutShortString(out, SessionRecord::kUserAt, SessionRecord::kUserMax, r.user);
    out[SessionRecord::kStateAt] = static_cast<char>(r.state);
    PutShortString(out, SessionRecord::kPinAt, SessionRecord::kPinMax, r.pin);
    PutShortString(out, SessionRecord::kTagAt, SessionRecord::kTagMax, r.tag);
    return out;
}

std::optional<SessionRecord> DecodeSessionRecord(const QByteArray& in, QString* error) {
    auto fail = [&](const QString& why) -> std::optional<SessionRecord> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (in.size() != SessionRecord::kSize)
        return fail(
            QStringLiteral("tamaño %1 en lugar de %2").arg(in.size()).arg(SessionRecord::kSize));
    SessionRecord r;
    r.countMode = static_cast<quint8>(in[SessionRecord::kCountModeAt]);
    if (r.countMode > 1)
        return fail(QStringLiteral("modo de conteo %1").arg(r.countMode));
    r.written = GetDouble(in, SessionRecord::kWrittenAt);
    r.start = GetDouble(in, SessionRecord::kStartAt);
    if (!std::isfinite(r.start) || r.start < 0 || r.start > kMaxDays)
        return fail(QStringLiteral("inicio inválido"));
    r.state = static_cast<quint8>(in[SessionRecord::kStateAt]);
    if (r.state > 4)
        return fail(QStringLiteral("estado %1").arg(r.state));
    const auto minutes = GetShortString(in, SessionRecord::kMinutesAt, SessionRecord::kMinutesMax);
    const auto user = GetShortString(in, SessionRecord::kUserAt, SessionRecord::kUserMax);
    const auto pin = GetShortString(in, SessionRecord::kPinAt, SessionRecord::kPinMax);
    const auto tag = GetShortString(in, SessionRecord::kTagAt, SessionRecord::kTagMax);
    if (!minutes || !user || !pin || !tag)
        return fail(QStringLiteral("longitud de texto inválida"));
    r.minutes = *minutes;
    r.user = *user;
    r.pin = *pin;
    r.tag = *tag;
    return r;
}

bool WriteSessionFile(const QString& path, const SessionRecord& record, QString* error) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        if (error)
            *error = f.errorString();
        return false;
    }
    const QByteArray bytes = EncodeSessionRecord(record);
    if (f.write(bytes) != bytes.size() || !f.commit()) {
        if (error)
            *error = f.errorString();
        return false;
    }
    return true;
}

std::optional<SessionRecord> ReadSessionFile(const QString& path, QString* error) {
    if (error)
        error->clear();
    QFile f(path);
    if (!f.exists())
        return std::nullopt;
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = f.errorString();
        return std::nullopt;
    }
    // One byte more than a record tells a long file from a good one without
    // reading an arbitrarily large file.
    const QByteArray bytes = f.read(SessionRecord::kSize + 1);
    return DecodeSessionRecord(bytes, error);
}

} // namespace tarvina::client
