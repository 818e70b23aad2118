#include "server/ui/remote/TfrmRemoteConfig.h"

#include "protocol/Codes.h"
#include "server/ui/shell/WidgetDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tarvina::server {

namespace p = tarvina::protocol;

namespace {

enum Column { NameColumn, SecondsColumn };

} // namespace

TfrmRemoteConfig::TfrmRemoteConfig(platform::Clock& clock, Send send, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowStaysOnTopHint), form_(clock), send_(std::move(send)) {
    setObjectName(QStringLiteral("frmRemoteConfig"));
    setModal(false);
    // The design caption, until the station's first report fills the window.
    setWindowTitle(QStringLiteral("Configuración Remota"));
    choose = [this](const QString& caption, const QString& filter) {
        return QFileDialog::getOpenFileName(this, caption, QString(),
                                            WidgetDialogs::QtFilter(filter));
    };
    auto* layout = new QVBoxLayout(this);
    header_ = new QLabel(this);
    QFont bold = header_->font();
    bold.setBold(true);
    header_->setFont(bold);
    layout->addWidget(header_);
    pages_ = new QTabWidget(this);
    pages_->addTab(generalPage(), QStringLiteral("General"));
    pages_->addTab(drivesPage(), QStringLiteral("Unidades"));
    pages_->addTab(bannersPage(), QStringLiteral("Fondo "));
    layout->addWidget(pages_, 1);
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, [this] {
        if (form_.tick())
            refresh();
    });
    refresh();
    resize(520, 440);
}

QWidget* TfrmRemoteConfig::generalPage() {
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    const struct {
        int code;
        const char16_t* label;
        const char16_t* what;
    } files[] = {
        {p::tc::SendBackground, u"Fondo inicial en bloqueo:", u"fondo inicial en bloqueo"},
        {p::tc::SendAlarmSound, u"Archivo de alarma:", u"archivo de alarma"},
        {p::tc::SendWallpaper, u"Papel tápiz", u"papel tápiz"},
    };
    int row = 0;
    for (const auto& f : files) {
        const QString what = QString::fromUtf16(f.what);
        auto* label = new QLabel(QString::fromUtf16(f.label), page);
        auto* path = new QLineEdit(page);
        path->setReadOnly(true);
        path->setAccessibleName(QString::fromUtf16(f.label).remove(QLatin1Char(':')));
        label->setBuddy(path);
        auto* change = new QPushButton(QStringLiteral("Cambia"), page);
        change->setAccessibleName(QStringLiteral("Cambia ") + what);
        auto* clear = new QPushButton(QStringLiteral("Quita"), page);
        clear->setAccessibleName(QStringLiteral("Quita ") + what);
        grid->addWidget(label, row, 0, 1, 3);
        grid->addWidget(path, row + 1, 0);
        grid->addWidget(change, row + 1, 1);
        grid->addWidget(clear, row + 1, 2);
        row += 2;
        files_.append({f.code, path});
        const int code = f.code;
        connect(change, &QPushButton::clicked, this, [this, code, what] {
            const QString filter = code == p::tc::SendBackground ? RemoteConfigForm::PictureFilter()
                                   : code == p::tc::SendAlarmSound
                                       ? RemoteConfigForm::SoundFilter()
                                       : RemoteConfigForm::WallpaperFilter();
            const QString file =
                choose ? choose(QStringLiteral("Cambia ") + what, filter) : QString();
            if (!file.isEmpty())
                apply(form_.changeFile(code, file));
        });
        connect(clear, &QPushButton::clicked, this, [this, code] { apply(form_.clearFile(code)); });
    }
    auto* styleLabel = new QLabel(QStringLiteral("Estilo del papel tápiz:"), page);
    style_ = new QComboBox(page);
    style_->addItems(RemoteConfigForm::StyleItems());
    style_->setAccessibleName(QStringLiteral("Estilo del papel tápiz"));
    styleLabel->setBuddy(style_);
    grid->addWidget(styleLabel, row, 0);
    grid->addWidget(style_, row, 1, 1, 2);
    ++row;
    autoStart_ = new QCheckBox(QStringLiteral("Inicio autom. con windows"), page);
    taskBar_ = new QCheckBox(QStringLiteral("Barra de tareas visible"), page);
    logo_ = new QCheckBox(QStringLiteral("Prot. de logos de Windows"), page);
    for (QCheckBox* b : {autoStart_, taskBar_, logo_})
        grid->addWidget(b, row++, 0, 1, 3);
    grid->setRowStretch(row, 1);
    connect(style_, &QComboBox::activated, this, [this](int i) { apply(form_.setStyle(i)); });
    connect(autoStart_, &QCheckBox::clicked, this,
            [this](bool on) { apply(form_.setAutoStart(on)); });
    connect(taskBar_, &QCheckBox::clicked, this,
            [this](bool on) { apply(form_.setTaskBarVisible(on)); });
    connect(logo_, &QCheckBox::clicked, this, [this](bool on) { apply(form_.setLogoProtect(on)); });
    return page;
}

QWidget* TfrmRemoteConfig::drivesPage() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    drives_ = new QListWidget(page);
    drives_->setAccessibleName(QStringLiteral("Unidades"));
    drives_->setViewMode(QListView::IconMode);
    drives_->setFlow(QListView::LeftToRight);
    drives_->setWrapping(true);
    drives_->setGridSize(QSize(56, 48));
    const QIcon floppy = style()->standardIcon(QStyle::SP_DriveFDIcon);
    const QIcon disk = style()->standardIcon(QStyle::SP_DriveHDIcon);
    for (int i = 0; i < 26; ++i) {
        auto* item = new QListWidgetItem(i < 2 ? floppy : disk, QString(QChar('A' + i)), drives_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
    layout->addWidget(drives_, 1);
    sendDrives_ = new QPushButton(form_.drivesButton(), page);
    layout->addWidget(sendDrives_);
    connect(drives_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (!filling_)
            form_.setDriveTicked(drives_->row(item), item->checkState() == Qt::Checked);
    });
    connect(sendDrives_, &QPushButton::clicked, this, [this] { apply(form_.sendDrives()); });
    return page;
}

QWidget* TfrmRemoteConfig::bannersPage() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    grid_ = new QTableWidget(0, 2, page);
    grid_->setAccessibleName(QStringLiteral("Fondos"));
    grid_->setHorizontalHeaderLabels(
        {QStringLiteral("Nombre de archivo"), QStringLiteral("Duración (seg)")});
    grid_->horizontalHeader()->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(grid_, 1);
    auto* buttons = new QHBoxLayout;
    pick_ = new QPushButton(QStringLiteral("Imagen..."), page);
    addRow_ = new QPushButton(QStringLiteral("Agrega"), page);
    deleteRow_ = new QPushButton(QStringLiteral("Elimina"), page);
    update_ = new QPushButton(QStringLiteral("Actualiza configuaración"), page);
    for (QPushButton* b : {pick_, addRow_, deleteRow_, update_})
        buttons->addWidget(b);
    layout->addLayout(buttons);
    auto* sliderLabel = new QLabel(QStringLiteral("-         Transparencia            +"), page);
    slider_ = new QSlider(Qt::Horizontal, page);
    slider_->setRange(0, RemoteConfigForm::kSliderMax);
    slider_->setToolTip(QStringLiteral("Sólo es efectivo en Windows 2000 o XP"));
    slider_->setAccessibleName(QStringLiteral("Transparencia"));
    sliderLabel->setBuddy(slider_);
    layout->addWidget(sliderLabel);
    layout->addWidget(slider_);
    auto* note = new QLabel(QStringLiteral("Cambiar la transparencia desde cero (opaco) requiere "
                                           "reiniciar el programa cliente."),
                            page);
    note->setWordWrap(true);
    layout->addWidget(note);

    connect(grid_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (filling_)
            return;
        if (item->column() == NameColumn)
            form_.setRowName(item->row(), item->text());
        else
            form_.setRowSeconds(item->row(), item->text().trimmed().toInt());
        refillGrid();
    });
    connect(pick_, &QPushButton::clicked, this, [this] {
        int row = grid_->currentRow();
        const QString path =
            choose ? choose(QStringLiteral("Imagen"), RemoteConfigForm::PictureFilter())
                   : QString();
        if (path.isEmpty())
            return;
        if (row < 0)
            row = form_.addRow();
        form_.setRowFile(row, path);
        refillGrid();
    });
    connect(addRow_, &QPushButton::clicked, this, [this] {
        const int row = form_.addRow();
        refillGrid();
        grid_->setCurrentCell(row, NameColumn);
    });
    connect(deleteRow_, &QPushButton::clicked, this, [this] {
        const int row = grid_->currentRow();
        if (row < 0)
            return;
        const auto commands = form_.deleteRow(row);
        refillGrid();
        apply(commands);
    });
    connect(update_, &QPushButton::clicked, this, [this] {
        apply(form_.update([](const QString& path) { return QFileInfo(path).isFile(); }));
    });
    connect(slider_, &QSlider::valueChanged, this, [this](int v) {
        if (filling_)
            return;
        const auto commands = form_.setSlider(v);
        if (send_ && !commands.isEmpty())
            send_(form_.target(), commands);
    });
    return page;
}

void TfrmRemoteConfig::apply(const QList<ConfigCommand>& commands) {
    if (commands.isEmpty()) {
        refresh();
        return;
    }
    refresh();
    tick_.start();
    if (send_)
        send_(form_.target(), commands);
}

QString TfrmRemoteConfig::shownPath(const QString& path, QLineEdit* field) const {
    const QFontMetrics fm(field->font());
    const int room = std::max(40, field->width() - 12);
    return RemoteConfigForm::ElidePath(
        path, [&](const QString& s) { return fm.horizontalAdvance(s) <= room; });
}

void TfrmRemoteConfig::refresh() {
    filling_ = true;
    setWindowTitle(form_.title());
    header_->setText(form_.header());
    const RemoteConfig& c = form_.config();
    showPaths();
    style_->setCurrentIndex(c.style);
    autoStart_->setChecked(c.autoStart);
    taskBar_->setChecked(form_.taskBarVisible());
    logo_->setChecked(c.logoProtected);
    for (int i = 0; i < 26; ++i)
        drives_->item(i)->setCheckState(form_.driveTicked(i) ? Qt::Checked : Qt::Unchecked);
    sendDrives_->setText(form_.drivesButton());
    slider_->setValue(form_.slider());
    filling_ = false;
    refillGrid();
    // Waiting: every field, box, list and button is off until the report.
    pages_->setEnabled(form_.enabled());
    if (!form_.waiting())
        tick_.stop();
}

void TfrmRemoteConfig::showPaths() {
    const RemoteConfig& c = form_.config();
    const QString paths[] = {c.background, c.alarmSound, c.wallpaper};
    for (int i = 0; i < files_.size(); ++i) {
        files_[i].path->setText(shownPath(paths[i], files_[i].path));
        files_[i].path->setToolTip(paths[i]);
    }
}

void TfrmRemoteConfig::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // The fields' widths are known only once laid out.
    QTimer::singleShot(0, this, [this] { showPaths(); });
}

void TfrmRemoteConfig::refillGrid() {
    filling_ = true;
    const int current = grid_->currentRow();
    grid_->setRowCount(static_cast<int>(form_.rows().size()));
    for (int i = 0; i < form_.rows().size(); ++i) {
        const BannerRow& r = form_.rows()[i];
        auto* name = new QTableWidgetItem(r.name);
        name->setToolTip(r.fullPath);
        grid_->setItem(i, NameColumn, name);
        grid_->setItem(i, SecondsColumn, new QTableWidgetItem(QString::number(r.seconds)));
    }
    if (current >= 0 && current < grid_->rowCount())
        grid_->setCurrentCell(current, NameColumn);
    filling_ = false;
}

void TfrmRemoteConfig::place() {
    const QScreen* screen =
        this->screen() != nullptr ? this->screen() : QApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect avail = screen->geometry();
    move(avail.right() - frameGeometry().width() - 20 + 1, avail.top() + 30);
}

void TfrmRemoteConfig::showConfig(TCompItem* record, const QString& computerName,
                                  const RemoteConfig& config) {
    const bool wasVisible = isVisible();
    form_.show(record, computerName, config);
    refresh();
    show();
    if (!wasVisible)
        place();
    raise();
    activateWindow();
}

void TfrmRemoteConfig::transparencyReported(TCompItem* record, int alpha) {
    if (!form_.transparencyReported(record, alpha))
        return;
    filling_ = true;
    slider_->setValue(form_.slider());
    filling_ = false;
}

} // namespace tarvina::server
