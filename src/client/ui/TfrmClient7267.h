#pragma once

#include "client/StationCore.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QWidget>

namespace tarvina::client::ui {

// The station's main window: tool bar, time row, PIN panel, status bar, the
// pop-up and message menus and the tray icon. It shows the logic's display
// and turns clicks into the logic's calls.
class TfrmClient7267 : public QWidget {
    Q_OBJECT
public:
    TfrmClient7267(StationCore& core, bool testMode, QWidget* parent = nullptr);
    void follow(const ClientDisplay& d, const LanguageTexts& t);
    void setLanguageMenu(const QList<LanguageMenuEntry>& entries);
    // The close request goes through the logic's password gate.
    void setCloseAllowed(bool allowed) { closeAllowed_ = allowed; }
    // A key typed elsewhere among the station's windows, for the code box
    // when it is showing and enabled (through the same key filter).
    void typeIntoPinBox(int key, Qt::KeyboardModifiers modifiers, const QString& text);

    QLineEdit* EdPin;
    QPushButton* BtnTryPin;

Q_SIGNALS:
    void closeAccepted();
    void moreTimeRequested();
    void freeMessageRequested();
    void priceListRequested();
    void accountRequested();
    void configRequested();          // "Configuración"
    void tasksRequested();           // "Tareas"
    void backgroundTasksRequested(); // "Tareas en fondo" (test mode)

protected:
    void closeEvent(QCloseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    // The window's parts, made in the order they take focus.
    QHBoxLayout* buildToolBar(); // with the language and message menus
    QGridLayout* buildTimeRow();
    void buildPinPanel();
    void buildPopup(bool testMode); // the test grants only in test mode
    void buildTray();               // where the desktop has a tray

    StationCore& core_;
    bool closeAllowed_ = false;
    bool pinReady_ = false;
    QToolButton* btRegresivo_;
    QToolButton* btAlarma_;
    QToolButton* btIdioma_;
    QToolButton* btMensajes_;
    QToolButton* btOculta_;
    QMenu* langMenu_;
    QMenu* msgMenu_;
    QMenu* popup_;
    QAction* mnuFreeMessage_;
    QAction* mnuPriceList_;
    QAction* mnuAccount_;
    QAction* mnuMasTiempo_;
    QAction* mnuTermina_;
    QAction* mnuTerminar_;
    QAction* mnuVisible_;
    QAction* mnuConfig_;
    QAction* mnuTareas_;
    QLabel* lblHora_;
    QLabel* LblClock_;
    QLabel* lblDisp_;
    QLabel* LblDisp_;
    QProgressBar* ProgBar_;
    QLabel* lblAlarma_;
    QSpinBox* SEAlarm_;
    QLabel* lblMin_;
    QWidget* pinPanel_;
    QLabel* lblPINMsg_;
    QLabel* LblStsPin_;
    QLabel* LblStsCheckPIN_;
    QStatusBar* status_;
    QSystemTrayIcon* tray_ = nullptr;
};

} // namespace tarvina::client::ui
