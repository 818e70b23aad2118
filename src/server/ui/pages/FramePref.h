#pragma once

#include "server/shell/Preferences.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QWidget>
#include <functional>

namespace tarvina::platform {
class Registry;
class Printing;
} // namespace tarvina::platform

namespace tarvina::server::ui {

// The preferences page, "Preferencias y configuración.": a tree of topics on
// the left, the chosen topic's page on the right, "Guardar cambios" at the
// foot. The page edits the settings record in memory; only the log limit is
// stored at once.
class TFramePref : public QWidget {
    Q_OBJECT
public:
    struct Deps {
        ServerSettings* settings = nullptr;
        platform::Registry* store = nullptr;
        platform::Printing* printing = nullptr;
        // After a save: the settings record has changed.
        std::function<void(const ApplyResult&)> applied;
        // An error box (title, text).
        std::function<void(const QString&, const QString&)> errorBox;
        // "&Ayuda": topic 1004 of the help.
        std::function<void()> help;
        // The "Sucursal" page stored new values: the central copy restarts.
        std::function<void()> centralChanged;
    };

    explicit TFramePref(Deps deps, QWidget* parent = nullptr);

    // ShowPreferences: every control from the settings (and the log limit
    // from the store). Runs each time the page is brought up.
    void ShowPreferences();
    // "Guardar cambios". False when the page stays open for a correction
    // (a tax number that does not fit its mask).
    bool ApplyPreferences();
    // Selects the tree node with that text (without regard to case) and
    // shows its page; false when there is none.
    bool selectNode(const QString& text);
    QString currentPageTitle() const;

    // The controls as the page holds them (read back by the save).
    PreferencesForm collectForm() const;

    QTreeWidget* Tree;
    QStackedWidget* Pages;
    QPushButton* BtnHelp;
    QPushButton* BtnSave;
    // Passwords: [0] access, [1] code creation; fields old, new, repeat.
    QLineEdit* PassEdits[2][3];
    // Company
    QLineEdit* EdDenominacion;
    QLabel* LblTaxId;
    QLineEdit* EdRif;
    QLabel* LblTaxIdError;
    QLineEdit* EdDir[3];
    QLineEdit* EdTelefono;
    // General
    QCheckBox* ChkConfirmClose;
    QCheckBox* ChkToolBar;
    // Printer
    QRadioButton* RbWindows;
    QRadioButton* RbPort;
    QComboBox* CmbPrinters;
    QComboBox* CmbPorts;
    QSpinBox* SpLines;
    QSpinBox* SpLeft;
    QSpinBox* SpWidth;
    // Misc
    QSpinBox* SpLogLimit;
    QRadioButton* RbUnit[3];
    QLabel* LblUnit;
    // Mode
    QRadioButton* RbModeRequest;
    QRadioButton* RbModePin;
    // Time requests
    QRadioButton* RbClienteModo[3];
    QLineEdit* EdClienteVal;
    // Colours: disconnected, locked, in use, waiting
    QComboBox* CmbColour[4];
    // Start command
    QLineEdit* EdClientInit;
    // Regional
    QComboBox* CmbPais;
    QLineEdit* EdMoneda;
    QLineEdit* EdRegistro;
    // Security: the network key and the link's mode (RedSegura 0, 1, 2)
    QLineEdit* EdClaveRed;
    QPushButton* BtnGenerarClave;
    QPushButton* BtnCopiarClave;
    QRadioButton* RbRedSegura[3];
    // "Tarifas"
    QLineEdit* EdTarifaHora;
    QSpinBox* SpTarifaMinimo;
    QSpinBox* SpTarifaFraccion;
    QLineEdit* EdBanda[8][3]; // desde, hasta, precio
    QLineEdit* EdTarifaPin[7];
    // "Sucursal": the central copy
    QLineEdit* EdSucursal;
    QLineEdit* EdCentral;
    QLineEdit* EdCentralClave;
    QPushButton* BtnProbarConexion;
    QLabel* LblProbarConexion;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* addPage(const QString& title);
    void buildTree();
    void buildPasswordPage(int which, const QString& title, const QString& note);
    void buildCompanyPage();
    void buildGeneralPage();
    void buildPrinterPage();
    void buildMiscPage();
    void buildModePage();
    void buildClientPages();
    void buildRegionalPage();
    void buildSecurityPage();
    void buildTariffPage();
    void buildCentralPage();
    void showCentral();
    void applyCentral();
    void fill(const PreferencesForm& f);
    void setTaxIdMask(const QString& mask);
    bool taxIdAcceptable() const;
    void countryChanged(int index);
    void error(const QString& title, const QString& text);

    Deps deps_;
    QString taxIdMask_;
    bool filling_ = false;
};

} // namespace tarvina::server::ui
