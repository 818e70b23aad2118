#include "server/ui/computers/ToolBarPicture.h"

#include "common/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>

namespace tarvina::server::ui {

namespace {
// A picture larger than this is not worth tiling behind a tool bar, and
// reading it could take any amount of memory.
constexpr int kMaxSide = 8192;
} // namespace

bool ConvertToolBarWallPaper(const QString& source, const QString& programFolder) {
    if (source.isEmpty() || !QFileInfo(source).isFile()) {
        return false;
    }
    const QString ext = QFileInfo(source).suffix().toUpper();
    QByteArray format;
    if (ext == QLatin1String("JPG") || ext == QLatin1String("JPEG")) {
        format = "jpeg";
    } else if (ext == QLatin1String("GIF")) {
        format = "gif";
    } else if (ext == QLatin1String("ICO")) {
        format = "ico";
    } else if (ext == QLatin1String("WMF") || ext == QLatin1String("EMF")) {
        return false;
    } else {
        format = "bmp";
    }
    QImageReader reader(source, format);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > kMaxSide || size.height() > kMaxSide)) {
        return false;
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        return false;
    }
    return image.save(QDir(programFolder).filePath(QStringLiteral("fondo.bmp")), "BMP");
}

QPixmap LoadToolBarPicture(const QString& programFolder) {
    const QString path =
        common::FindFileCaseInsensitive(programFolder, QStringLiteral("fondo.bmp"));
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        return {};
    }
    QImageReader reader(path, "bmp");
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > kMaxSide || size.height() > kMaxSide) {
        return {};
    }
    return QPixmap::fromImage(reader.read());
}

} // namespace tarvina::server::ui
