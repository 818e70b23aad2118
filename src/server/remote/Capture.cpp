#include "server/remote/Capture.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace tarvina::server {

namespace {

constexpr quint32 kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6;

quint32 U32(QByteArrayView b, qsizetype at) {
    const auto u = [&](qsizetype i) {
        return static_cast<quint32>(static_cast<quint8>(b[at + i]));
    };
    return u(0) | (u(1) << 8) | (u(2) << 16) | (u(3) << 24);
}
quint16 U16(QByteArrayView b, qsizetype at) {
    return static_cast<quint16>(static_cast<quint8>(b[at]) | (static_cast<quint8>(b[at + 1]) << 8));
}

BmpCheck Refuse(const QString& why) {
    return BmpCheck{std::nullopt, why};
}

} // namespace

BmpCheck CheckBmp(QByteArrayView bmp) {
    constexpr qsizetype kFileHeader = 14;
    if (bmp.size() < kFileHeader + 12 || bmp[0] != 'B' || bmp[1] != 'M')
        return Refuse(QStringLiteral("no es una imagen BMP"));
    const quint32 offBits = U32(bmp, 10);
    const quint32 headerSize = U32(bmp, kFileHeader);
    if (headerSize < 12 || headerSize > 1024 || kFileHeader + qint64(headerSize) > bmp.size())
        return Refuse(QStringLiteral("encabezado de imagen BMP dañado"));
    BmpInfo info;
    qint64 width = 0, height = 0;
    if (headerSize == 12) {
        width = U16(bmp, kFileHeader + 4);
        height = static_cast<qint16>(U16(bmp, kFileHeader + 6));
        info.bitCount = U16(bmp, kFileHeader + 10);
    } else {
        if (headerSize < 40)
            return Refuse(QStringLiteral("encabezado de imagen BMP dañado"));
        width = static_cast<qint32>(U32(bmp, kFileHeader + 4));
        height = static_cast<qint32>(U32(bmp, kFileHeader + 8));
        info.bitCount = U16(bmp, kFileHeader + 14);
        info.compression = U32(bmp, kFileHeader + 16);
        if (info.compression == kBitFields || info.compression == kAlphaBitFields) {
            // The masks follow a 40-byte header, or sit inside a longer one.
            const qsizetype at = kFileHeader + 40;
            if (at + 12 > bmp.size())
                return Refuse(QStringLiteral("encabezado de imagen BMP dañado"));
            info.redMask = U32(bmp, at);
            info.greenMask = U32(bmp, at + 4);
            info.blueMask = U32(bmp, at + 8);
        }
    }
    height = std::abs(height);
    if (width <= 0 || height <= 0 || width > kMaxCaptureSide || height > kMaxCaptureSide ||
        width * height > kMaxCapturePixels)
        return Refuse(
            QStringLiteral("imagen BMP de tamaño imposible (%1x%2)").arg(width).arg(height));
    info.width = static_cast<int>(width);
    info.height = static_cast<int>(height);
    const bool rle = info.compression == kRle8 || info.compression == kRle4;
    if (!rle && info.compression != kRgb && info.compression != kBitFields &&
        info.compression != kAlphaBitFields)
        return Refuse(QStringLiteral("imagen BMP de compresión no admitida"));
    if (!rle) {
        static const int kDepths[] = {1, 4, 8, 16, 24, 32};
        if (std::find(std::begin(kDepths), std::end(kDepths), info.bitCount) == std::end(kDepths))
            return Refuse(QStringLiteral("imagen BMP de %1 bits por punto").arg(info.bitCount));
        // Uncompressed rows must all be in the block.
        const qint64 stride = ((width * info.bitCount + 31) / 32) * 4;
        if (qint64(offBits) > bmp.size() || stride * height > bmp.size() - qint64(offBits))
            return Refuse(QStringLiteral("imagen BMP incompleta: %1x%2 a %3 bits no cabe en %4 "
                                         "bytes")
                              .arg(width)
                              .arg(height)
                              .arg(info.bitCount)
                              .arg(bmp.size()));
    }
    return BmpCheck{info, QString()};
}

std::optional<QString> DepthText(const BmpInfo& info) {
    const bool fields = info.compression == kBitFields || info.compression == kAlphaBitFields;
    switch (info.bitCount) {
    case 1:
        return QStringLiteral("1 bit");
    case 4:
        return QStringLiteral("4 bits");
    case 8:
        return QStringLiteral("8 bits (256 colores)");
    case 16:
        if (!fields ||
            (info.redMask == 0x7C00 && info.greenMask == 0x03E0 && info.blueMask == 0x1F))
            return QStringLiteral("15 bits (32K colores)");
        if (info.redMask == 0xF800 && info.greenMask == 0x07E0 && info.blueMask == 0x1F)
            return QStringLiteral("16 bits (64K colores)");
        return QStringLiteral("Colores no especifico");
    case 24:
        return QStringLiteral("24 bits");
    case 32:
        if (!fields ||
            (info.redMask == 0xFF0000 && info.greenMask == 0xFF00 && info.blueMask == 0xFF))
            return QStringLiteral("32 bits");
        return QStringLiteral("Colores no especifico");
    default:
        return std::nullopt;
    }
}

QString InfoLabel(const BmpInfo& info) {
    const auto depth = DepthText(info);
    if (!depth)
        return QStringLiteral("Colores n/a");
    return QStringLiteral("Resolución ") + QString::number(info.width) + QLatin1Char('x') +
           QString::number(info.height) + QStringLiteral(", ") + *depth;
}

QStringList CaptureForm::FitItems() {
    return {QStringLiteral("Sin extirar"), QStringLiteral("Est. Máx"), QStringLiteral("Estirado"),
            QStringLiteral("Mozaico")};
}

QString CaptureForm::WaitingLabel() {
    return QStringLiteral("Cargando archivo. ESPERE por favor ....");
}

void CaptureForm::request(const QString& computerName) {
    name_ = computerName;
    caption_ = QStringLiteral("Instantánea del escritorio de ") + computerName;
    label_ = WaitingLabel();
    waiting_ = true;
}

bool CaptureForm::received(QByteArrayView bmp, QString* error) {
    const BmpCheck check = CheckBmp(bmp);
    if (!check.info) {
        if (error != nullptr)
            *error = check.error;
        return false;
    }
    picture_ = check.info;
    label_ = InfoLabel(*check.info);
    waiting_ = false;
    return true;
}

QList<QRect> CaptureForm::Placement(Fit fit, QSize image, QSize area) {
    if (image.isEmpty() || area.isEmpty())
        return {};
    switch (fit) {
    case Fit::Natural:
        return {QRect(QPoint(0, 0), image)};
    case Fit::Fill:
        return {QRect(QPoint(0, 0), area)};
    case Fit::Scale: {
        const double f =
            std::min(double(area.height()) / image.height(), double(area.width()) / image.width());
        return {
            QRect(0, 0, std::max(1, int(image.width() * f)), std::max(1, int(image.height() * f)))};
    }
    case Fit::Tile: {
        // A tiny picture over a large area is drawn as a pattern by the
        // view; the list stops at kMaxTiles.
        QList<QRect> tiles;
        for (int y = 0; y < area.height() && tiles.size() < kMaxTiles; y += image.height())
            for (int x = 0; x < area.width() && tiles.size() < kMaxTiles; x += image.width())
                tiles.append(QRect(QPoint(x, y), image));
        return tiles;
    }
    }
    return {};
}

QString CaptureForm::presetFileName() const {
    QString name = name_;
    // A station names itself: nothing of its name may lead out of the
    // folder the cashier chose.
    name.replace(QRegularExpression(QStringLiteral("[\\\\/:*?\"<>|\\x00-\\x1F]")),
                 QStringLiteral("_"));
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    if (name.trimmed().isEmpty())
        name = QStringLiteral("captura");
    return name.left(120) + QStringLiteral(".bmp");
}

} // namespace tarvina::server
