#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <optional>

namespace tarvina::server {

// What the headers of a Windows bitmap file image say, checked before the
// picture is decoded.
struct BmpInfo {
    int width = 0;
    int height = 0;   // rows, whichever way they are stored
    int bitCount = 0; // bits per pixel
    quint32 compression = 0;
    quint32 redMask = 0, greenMask = 0, blueMask = 0;
};

// A picture from a station is refused when its header does not hold up or
// it would take more than this once decoded (32 bits a pixel).
inline constexpr qint64 kMaxCapturePixels = 64LL * 1024 * 1024;
inline constexpr int kMaxCaptureSide = 32767;

// The headers of `bmp`, or the reason (in Spanish) it is refused: not a
// bitmap, a size no screen has, pixel rows the block does not hold.
struct BmpCheck {
    std::optional<BmpInfo> info;
    QString error;
};
BmpCheck CheckBmp(QByteArrayView bmp);

// The depth words of the information label; nullopt for a depth the label
// does not name ("Colores n/a").
std::optional<QString> DepthText(const BmpInfo& info);
// "Resolución " + width + "x" + height + ", " + depth, or "Colores n/a".
QString InfoLabel(const BmpInfo& info);

// TfrmCapture, the window that shows a station's screen: its caption, the
// computer it was asked of, the label, the fitting mode (which stays from
// one picture to the next) and where the picture goes in the area.
class CaptureForm {
public:
    enum class Fit { Natural, Fill, Scale, Tile };
    static QStringList FitItems();
    static QString WaitingLabel();

    // A request: the new caption and the waiting label.
    void request(const QString& computerName);
    // A picture: true (label set) when it holds up; otherwise the label and
    // the previous picture stay, and `error` says why.
    bool received(QByteArrayView bmp, QString* error = nullptr);

    QString caption() const { return caption_; }
    QString computerName() const { return name_; }
    QString label() const { return label_; }
    bool waiting() const { return waiting_; }
    Fit fit = Fit::Natural;
    std::optional<BmpInfo> picture() const { return picture_; }

    // Where the picture (of size `image`) is drawn in `area` for the mode:
    // one rectangle, or the tiles for Tile.
    static constexpr int kMaxTiles = 4096;
    static QList<QRect> Placement(Fit fit, QSize image, QSize area);
    // The save dialog's preset: the computer's name (made a plain file name)
    // plus ".bmp"; "captura.bmp" without a name.
    QString presetFileName() const;

private:
    QString caption_ = QStringLiteral("Captura");
    QString name_;
    QString label_;
    bool waiting_ = false;
    std::optional<BmpInfo> picture_;
};

} // namespace tarvina::server
