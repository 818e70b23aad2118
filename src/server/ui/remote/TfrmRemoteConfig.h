#pragma once

#include "server/remote/RemoteConfigForm.h"

#include <QDialog>
#include <QTimer>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;
class QTableWidget;
class QTabWidget;

namespace tarvina::server {

// "Configuración remota": one window for every computer, on top of the
// others, near the top right corner of the screen. What a change sends goes
// to `send`; file choices go through `choose` (a file dialog; tests replace
// it).
class TfrmRemoteConfig : public QDialog {
    Q_OBJECT
public:
    using Send = std::function<void(TCompItem*, const QList<ConfigCommand>&)>;
    // caption, filter in the "text|patterns|..." form; the path or empty.
    using Choose = std::function<QString(const QString& caption, const QString& filter)>;

    TfrmRemoteConfig(platform::Clock& clock, Send send, QWidget* parent = nullptr);

    // A report: fills and shows the window.
    void showConfig(TCompItem* record, const QString& computerName, const RemoteConfig& config);
    void transparencyReported(TCompItem* record, int alpha);

    RemoteConfigForm& form() { return form_; }
    Choose choose;

    QCheckBox* autoStartBox() const { return autoStart_; }
    QCheckBox* taskBarBox() const { return taskBar_; }
    QCheckBox* logoBox() const { return logo_; }
    QComboBox* styleBox() const { return style_; }
    QListWidget* drivesList() const { return drives_; }
    QPushButton* drivesButton() const { return sendDrives_; }
    QTableWidget* bannerGrid() const { return grid_; }
    QSlider* transparencySlider() const { return slider_; }
    QLabel* headerLabel() const { return header_; }
    QPushButton* updateButton() const { return update_; }
    QPushButton* deleteRowButton() const { return deleteRow_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct FileRow {
        int code;
        QLineEdit* path;
    };
    void refresh();
    void showPaths();
    void refillGrid();
    void place();
    void apply(const QList<ConfigCommand>& commands);
    QWidget* generalPage();
    QWidget* drivesPage();
    QWidget* bannersPage();
    QString shownPath(const QString& path, QLineEdit* field) const;

    RemoteConfigForm form_;
    Send send_;
    QTimer tick_;
    bool filling_ = false;
    QLabel* header_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QList<FileRow> files_;
    QCheckBox* autoStart_ = nullptr;
    QCheckBox* taskBar_ = nullptr;
    QCheckBox* logo_ = nullptr;
    QComboBox* style_ = nullptr;
    QListWidget* drives_ = nullptr;
    QPushButton* sendDrives_ = nullptr;
    QTableWidget* grid_ = nullptr;
    QPushButton* pick_ = nullptr;
    QPushButton* addRow_ = nullptr;
    QPushButton* deleteRow_ = nullptr;
    QPushButton* update_ = nullptr;
    QSlider* slider_ = nullptr;
};

} // namespace tarvina::server
