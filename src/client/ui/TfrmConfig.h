#pragma once

#include "client/config/ConfigGate.h"
#include "client/config/ConfigModel.h"
#include "client/config/NetworkTest.h"
#include "platform/Drives.h"
#include "platform/NetworkBrowser.h"
#include "platform/Pinger.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <array>
#include <functional>

namespace tarvina::client {
class StationCore;
}

namespace tarvina::client::ui {

// The network buttons of the configuration dialog and of the server chooser:
// "Refresca" fills a host box with the café's servers found on the network,
// "Test" runs the network test; both run on a worker thread, and the owner
// is told on its own thread. One job at a time; the destructor waits for a
// running one.
class NetworkActions : public QObject {
    Q_OBJECT
public:
    NetworkActions(platform::Pinger& pinger, platform::NetworkBrowser* browser, quint16 port,
                   QObject* parent = nullptr);
    ~NetworkActions() override;

    bool busy() const { return worker_ != nullptr; }
    bool canBrowse() const { return browser_ != nullptr; }
    void refresh();
    void test(const QString& host);

Q_SIGNALS:
    void computersFound(const QStringList& list);
    void stageStarted(const QString& caption);
    void testFinished(const QString& result);

private:
    void run(std::function<void()> job);

    platform::Pinger& pinger_;
    platform::NetworkBrowser* browser_;
    quint16 port_;
    QThread* worker_ = nullptr;
};

// Shows a network test's result as its message box ("Test de conexión a RED").
void ShowNetworkTestResult(QWidget* parent, const QString& result);

// The station's configuration dialog, behind the service password. The save
// itself is the model's; the dialog only shows and collects the values.
class TfrmConfig : public QDialog {
    Q_OBJECT
public:
    using Saver = std::function<config::SaveOutcome(const config::ConfigValues&)>;

    TfrmConfig(platform::Pinger& pinger, platform::NetworkBrowser* browser, quint16 port,
               QWidget* parent = nullptr);
    // The drives page shows each letter with the icon of what stands there.
    void setDrives(platform::Drives* drives) { drives_ = drives; }
    // Under the transparency slider: why it has no effect here (empty: it has).
    void setTransparencyNote(const QString& note);

    // Fills every control; the password boxes get their placeholders.
    void load(const config::ConfigValues& v);
    config::ConfigValues values() const;
    // OK saves through saver; a refused save keeps the dialog open.
    void setSaver(Saver saver) { saver_ = std::move(saver); }
    // The logo backup of "Prot. Windows" ("Actualizar respaldo de imágenes").
    void setLogoBackup(std::function<bool()> backup) { backupLogos_ = std::move(backup); }
    // The pages that read their contents only when first shown after a load.
    void setPageLoaders(std::function<QList<config::AppletLine>()> applets,
                        std::function<config::WindowsPageValues()> windows) {
        loadApplets_ = std::move(applets);
        loadWindows_ = std::move(windows);
    }

    // Controls by their names, for the station's tests.
    QComboBox* CmbHost;
    QLineEdit* TxtClaveRed;
    QLineEdit* TxtPass1;
    QLineEdit* TxtPass2;
    QLineEdit* TxtFileBack;
    QLineEdit* TxtAlarmSnd;
    QCheckBox* ChkInit;
    QCheckBox* ChkMsgNoBlock;
    QCheckBox* ChkProtectLogo;
    QPushButton* BtnActBackup;
    QLineEdit* EdWallPaper;
    QComboBox* CmbStyle;
    QCheckBox* ChkBarraTareas;
    QListWidget* ChkLstPanel;
    QListWidget* LstViewDrive;
    QTableWidget* RxDBGrid1;
    QSlider* RxTransparencia;
    QSpinBox* SpinDisconn;
    QSpinBox* SpinConn;
    QSpinBox* SpinNewConn;
    QSpinBox* SpinTimeOut;
    QPushButton* BtnTest;
    QPushButton* BtnOk;
    // "Windows": the policy boxes in the model's order, and the two icons.
    std::array<QCheckBox*, config::kPolicyCount> ChkPolicies{};
    QCheckBox* ChkPapelera;
    QCheckBox* ChkMisDocumentos;
    QTabWidget* Pages;
    // "Escritorio"
    QCheckBox* ChkLimpiarEscritorio;
    QPushButton* BtnGuardarModelo;
    QLabel* LblModelo;
    // "Guardar este escritorio como modelo", after the question.
    void setModelSaver(std::function<void()> save) { saveModel_ = std::move(save); }

private:
    QLabel* transparencyNote_ = nullptr;
    platform::Drives* drives_ = nullptr;
    QWidget* basicPage();
    QWidget* protectionPage();
    QWidget* controlPanelPage();
    QWidget* drivesPage();
    QWidget* windowsPage();
    void pageShown(QWidget* page);
    void fillApplets(const QList<config::AppletLine>& lines);
    void fillWindows(const config::WindowsPageValues& w);
    QWidget* rotationPage();
    QWidget* appearancePage();
    QWidget* networkPage();
    QWidget* desktopPage();
    QLineEdit* fileRow(QWidget* page, QLayout* into, const QString& label, const QString& filter);
    void okClicked();

    NetworkActions* net_;
    Saver saver_;
    std::function<bool()> backupLogos_;
    std::function<QList<config::AppletLine>()> loadApplets_;
    std::function<config::WindowsPageValues()> loadWindows_;
    QWidget* controlPanelPage_ = nullptr;
    QWidget* windowsPage_ = nullptr;
    bool appletsLoaded_ = false;
    bool windowsLoaded_ = false;
    QLabel* transparencyValue_ = nullptr;
    bool passwordChanged_ = false;
    bool drivesChanged_ = false;
    std::function<void()> saveModel_;
};

// The configuration dialog as the station's gate shows it: loaded from the
// station's settings at every opening, saved through the model onto the
// running station.
class ConfigDialogRunner final : public config::ConfigDialogView {
public:
    ConfigDialogRunner(StationCore& core, config::ConfigModel& model, platform::Pinger& pinger,
                       platform::NetworkBrowser* browser, quint16 port, QString currentDir,
                       QString exeName, QWidget* parent = nullptr);
    void exec() override;
    TfrmConfig* dialog() { return &dialog_; }

private:
    // The model folder's state on the "Escritorio" page.
    void showModelState();

    StationCore& core_;
    config::ConfigModel& model_;
    QString currentDir_;
    QString exeName_;
    TfrmConfig dialog_;
    QMetaObject::Connection modelSaved_;
};

} // namespace tarvina::client::ui
