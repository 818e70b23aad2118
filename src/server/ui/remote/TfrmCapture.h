#pragma once

#include "server/remote/Capture.h"

#include <QByteArray>
#include <QImage>
#include <QWidget>
#include <optional>

class QButtonGroup;
class QLabel;
class QPushButton;

namespace tarvina::server {

// "Captura": a station's screen as it sent it, fitted to the window in one
// of four ways, and saved as BMP (the bytes as they came) or PNG.
class TfrmCapture : public QWidget {
    Q_OBJECT
public:
    explicit TfrmCapture(QWidget* parent = nullptr);

    // "Capturar pantalla...": retitled, waiting, shown.
    void request(const QString& computerName);
    // A picture from a station; false (the previous one stays) when it does
    // not hold up, with the reason in `error`.
    bool showPicture(const QByteArray& bmp, QString* error = nullptr);

    // Writes the picture to `path`: ".png" as PNG, anything else as the BMP
    // that came. The error text when it could not.
    std::optional<QString> saveTo(const QString& path) const;
    void save();

    const CaptureForm& form() const { return form_; }
    void setFit(CaptureForm::Fit fit);
    QLabel* infoLabel() const { return info_; }
    const QImage& image() const { return image_; }

private:
    class Area;
    CaptureForm form_;
    QByteArray bytes_;
    QImage image_;
    QLabel* info_;
    QPushButton* save_;
    QButtonGroup* fits_;
    Area* area_;
};

} // namespace tarvina::server
