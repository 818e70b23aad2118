#include "server/ui/remote/TfrmCapture.h"

#include "server/ui/shell/WidgetDialogs.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QVBoxLayout>

namespace tarvina::server {

// The picture, drawn by the fitting mode.
class TfrmCapture::Area : public QWidget {
public:
    explicit Area(TfrmCapture* owner) : QWidget(owner), owner_(owner) {
        setAccessibleName(QStringLiteral("Pantalla capturada"));
        setMinimumSize(320, 200);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().color(QPalette::Dark));
        const QImage& img = owner_->image_;
        if (img.isNull())
            return;
        const CaptureForm::Fit fit = owner_->form_.fit;
        if (fit == CaptureForm::Fit::Tile) {
            p.drawTiledPixmap(rect(), QPixmap::fromImage(img));
            return;
        }
        p.setRenderHint(QPainter::SmoothPixmapTransform, fit != CaptureForm::Fit::Natural);
        for (const QRect& r : CaptureForm::Placement(fit, img.size(), size()))
            p.drawImage(r, img);
    }

private:
    TfrmCapture* owner_;
};

TfrmCapture::TfrmCapture(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmCapture"));
    setWindowTitle(form_.caption());
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    info_ = new QLabel(this);
    top->addWidget(info_, 1);
    save_ = new QPushButton(QStringLiteral("Guardar"), this);
    save_->setEnabled(false);
    top->addWidget(save_);
    auto* group = new QGroupBox(this);
    group->setAccessibleName(QStringLiteral("Ajuste de la imagen"));
    auto* row = new QHBoxLayout(group);
    fits_ = new QButtonGroup(this);
    const QStringList items = CaptureForm::FitItems();
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], group);
        fits_->addButton(b, i);
        row->addWidget(b);
    }
    fits_->button(0)->setChecked(true);
    top->addWidget(group);
    layout->addLayout(top);
    area_ = new Area(this);
    layout->addWidget(area_, 1);
    connect(fits_, &QButtonGroup::idClicked, this,
            [this](int id) { setFit(static_cast<CaptureForm::Fit>(id)); });
    connect(save_, &QPushButton::clicked, this, &TfrmCapture::save);
    resize(800, 600);
}

void TfrmCapture::setFit(CaptureForm::Fit fit) {
    form_.fit = fit;
    if (QAbstractButton* b = fits_->button(static_cast<int>(fit)))
        b->setChecked(true);
    area_->update();
}

void TfrmCapture::request(const QString& computerName) {
    form_.request(computerName);
    setWindowTitle(form_.caption());
    info_->setText(form_.label());
    setCursor(Qt::WaitCursor);
    show();
    raise();
    activateWindow();
}

bool TfrmCapture::showPicture(const QByteArray& bmp, QString* error) {
    QString why;
    if (!form_.received(bmp, &why)) {
        if (error != nullptr)
            *error = why;
        return false;
    }
    QImage img;
    if (!img.loadFromData(bmp, "BMP")) {
        if (error != nullptr)
            *error = QStringLiteral("la imagen BMP no se pudo leer");
        return false;
    }
    image_ = img;
    bytes_ = bmp;
    info_->setText(form_.label());
    setFit(form_.fit);
    unsetCursor();
    save_->setEnabled(true);
    area_->update();
    return true;
}

std::optional<QString> TfrmCapture::saveTo(const QString& path) const {
    if (image_.isNull())
        return QStringLiteral("No hay imagen que guardar");
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QStringLiteral("No se pudo crear ") + path + QStringLiteral(": ") + f.errorString();
    bool ok = true;
    if (QFileInfo(path).suffix().compare(QStringLiteral("png"), Qt::CaseInsensitive) == 0)
        ok = image_.save(&f, "PNG");
    else
        ok = f.write(bytes_) == bytes_.size();
    if (!ok || !f.commit())
        return QStringLiteral("No se pudo guardar ") + path + QStringLiteral(": ") +
               f.errorString();
    return std::nullopt;
}

void TfrmCapture::save() {
    const QString bmp = WidgetDialogs::QtFilter(QStringLiteral("BMP|*.bmp")),
                  png = WidgetDialogs::QtFilter(QStringLiteral("PNG|*.png"));
    QString chosen = bmp;
    QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Guardar"), form_.presetFileName(),
                                     bmp + QStringLiteral(";;") + png, &chosen);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += chosen == png ? QStringLiteral(".png") : QStringLiteral(".bmp");
    if (const auto error = saveTo(path))
        QMessageBox::critical(this, QStringLiteral("Error"), *error);
}

} // namespace tarvina::server
