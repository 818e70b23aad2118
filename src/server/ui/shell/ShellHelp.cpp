#include "server/ui/shell/ShellHelp.h"

#include "common/ExceptionLog.h"
#include "platform/Clock.h"
#include "platform/MachineIdentity.h"
#include "platform/Mail.h"
#include "platform/Shell.h"
#include "server/shell/DiagnosticReport.h"
#include "server/shell/HelpTopics.h"
#include "server/shell/ServerCore.h"
#include "server/shell/ShellLife.h"
#include "server/ui/MainWindow.h"
#include "server/ui/shell/InfoPage.h"
#include "server/ui/shell/ShellBoxes.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTemporaryFile>

namespace tarvina::server {

ShellHelp::ShellHelp(ShellPlatform platform, ShellFolders folders, ServerCore& core,
                     ShellBoxes& boxes, const ShellLife& life, QObject* parent)
    : QObject(parent), platform_(platform), folders_(std::move(folders)), core_(core),
      boxes_(boxes), life_(life) {}

void ShellHelp::attach(MainWindow& window) {
    window_ = &window;
    infoPage_ = new InfoPage;
    window.setPage(MainWindow::PageId::Information, infoPage_);
    connect(&window, &MainWindow::pageShown, this, [this](MainWindow::PageId id) {
        if (id == MainWindow::PageId::Information)
            refreshInfoPage();
    });
}

TechnicalInfo::Input ShellHelp::technicalInfo() const {
    TechnicalInfo::Input in;
    in.osText = platform::GetWindowsVersion(platform_.machine, platform::Program::Taquilla).text;
    TechnicalInfo::ReadOwner(platform_.registry, &in.owner, &in.organization);
    in.now = platform_.clock.now();
    in.executablePath = QCoreApplication::applicationFilePath();
    return in;
}

void ShellHelp::refreshInfoPage() {
    if (infoPage_)
        infoPage_->setLines(TechnicalInfo::Lines(technicalInfo()));
}

void ShellHelp::openHelp(int topic) {
    const QString address = HelpTopics::Address(folders_.help, topic);
    if (address.isEmpty()) {
        boxes_.notice(QStringLiteral("Ayuda"),
                      QStringLiteral("No se encontró la ayuda ") +
                          QDir(folders_.help).filePath(HelpTopics::PageOf(topic).file),
                      QMessageBox::Warning);
        return;
    }
    if (!platform_.shell.openDocument(address))
        boxes_.notice(QStringLiteral("Ayuda"),
                      QStringLiteral("No se pudo abrir la ayuda ") + address, QMessageBox::Warning);
}

bool ShellHelp::eventFilter(QObject* watched, QEvent* event) {
    // F1 anywhere in the program asks for the help of the control (or the
    // menu entry) it was pressed on, as the help key does on the desktop
    // the program came from.
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier &&
            !key->isAutoRepeat()) {
            // The key goes to the control with the focus, or to the open menu.
            const int topic = HelpTopics::ContextOf(watched);
            openHelp(topic > 0 ? topic : HelpTopics::kCashier);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool ShellHelp::writeSupportReport(const QString& path) {
    DiagnosticReport::Input in;
    in.diskSerial = platform::GetDiskSerial(platform_.machine);
    in.mac = platform::GetMacAddress(platform_.machine, platform::Program::Taquilla);
    in.registry = &platform_.registry;
    in.settingsKey = QString::fromUtf16(kSettingsKey);
    in.techInfoLines = TechnicalInfo::Lines(technicalInfo());
    in.exceptionLogPath =
        QDir(folders_.program).filePath(QString::fromLatin1(common::kServerExceptionLogName));
    in.consoleArchivePath =
        QDir(folders_.program).filePath(ShellProgramName() + QStringLiteral(".log"));
    in.workFolder = folders_.work;
    in.now = platform_.clock.now();
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return DiagnosticReport::Write(f, in) && f.flush();
}

void ShellHelp::supportReport() {
    core_.lastCommand().set(QStringLiteral("Reporte a soporte técnico"));
    QTemporaryFile temp(QDir(QDir::tempPath()).filePath(QStringLiteral("DiagXXXXXX.txt")));
    // The mail program reads the file after this returns: it stays.
    temp.setAutoRemove(false);
    if (!temp.open()) {
        boxes_.notice(QStringLiteral("Reporte a soporte técnico"),
                      QStringLiteral("Falla al crear el reporte ") + temp.errorString(),
                      QMessageBox::Warning);
        return;
    }
    const QString path = temp.fileName();
    temp.close();
    writeSupportReport(path);
    if (boxes_.ask(QStringLiteral("Enviando correo"),
                   QStringLiteral("¿Desea enviar el mensaje con su paquete de correo por "
                                  "defecto?"))) {
        platform::MailMessage m;
        m.to = QString::fromUtf16(DiagnosticReport::kSupportAddress);
        m.subject = DiagnosticReport::Subject(core_.settings().denominacion);
        m.body = QStringLiteral("Reporte Anexo");
        m.attachments << path;
        QPointer<ShellHelp> self(this);
        platform_.mail.compose(m, [self](bool ok, const QString&) {
            if (!ok && self)
                self->boxes_.notice(QStringLiteral("Enviando correo"),
                                    QStringLiteral("Error enviando correo"), QMessageBox::Critical);
        });
    }
    if (life_.terminating())
        return;
    if (boxes_.ask(QStringLiteral("Reporte a soporte técnico"),
                   QStringLiteral("¿Desea guardar copia del reporte?"))) {
        QFileDialog save(window_.data(), QStringLiteral("Guardar copia del reporte"), QString(),
                         QStringLiteral("Texto (*.txt)"));
        save.setAcceptMode(QFileDialog::AcceptSave);
        save.setDefaultSuffix(QStringLiteral("txt"));
        if (save.exec() == QDialog::Accepted && !save.selectedFiles().isEmpty()) {
            const QString copy = save.selectedFiles().first();
            if (!writeSupportReport(copy))
                boxes_.notice(QStringLiteral("Reporte a soporte técnico"),
                              QStringLiteral("Falla al escribir ") + copy, QMessageBox::Warning);
        }
    }
}

} // namespace tarvina::server
