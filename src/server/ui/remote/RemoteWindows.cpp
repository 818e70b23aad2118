#include "server/ui/remote/RemoteWindows.h"

#include "server/remote/RemoteSenders.h"
#include "server/shell/ServerCore.h"
#include "server/ui/computers/TfrmComputers.h"
#include "server/ui/remote/TfrmCapture.h"
#include "server/ui/remote/TfrmProcces.h"
#include "server/ui/remote/TfrmRemoteConfig.h"

#include <QMessageBox>
#include <QPushButton>

namespace tarvina::server {

namespace {

bool AskYesNo(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Pregunta"), text, QMessageBox::NoButton,
                    parent);
    QPushButton* yes = box.addButton(QStringLiteral("Sí"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("No"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

TCompItem* First(const QList<TCompItem*>& rows) {
    return rows.isEmpty() ? nullptr : rows.first();
}

} // namespace

RemoteWindows::RemoteWindows(ServerCore& core, TfrmComputers& computers, QWidget* parent)
    : QObject(parent), core_(core), parent_(parent), outbox_(core.context()) {
    confirm = [this](const QString& text) { return AskYesNo(parent_, text); };
    ServerContext& ctx = core_.context();

    computers.setHandler(TfrmComputers::Capture, [this, &ctx](const QList<TCompItem*>& rows) {
        TCompItem* r = First(rows);
        if (r == nullptr)
            return;
        ScreenQuery(ctx, r);
        captureWindow()->request(nameOf(r));
    });
    computers.setHandler(TfrmComputers::Tasks, [&ctx](const QList<TCompItem*>& rows) {
        TaskListQuery(ctx, First(rows));
    });
    computers.setHandler(TfrmComputers::CleanTasks, [this, &ctx](const QList<TCompItem*>& rows) {
        TCompItem* r = First(rows);
        if (r != nullptr && confirm && confirm(CleanTasksQuestion()))
            server::CleanTasks(ctx, r);
    });
    computers.setHandler(TfrmComputers::RemoteConfig, [&ctx](const QList<TCompItem*>& rows) {
        // The window opens when the report has come.
        ConfigQuery(ctx, First(rows));
    });

    core_.hooks().taskList = [this](TCompItem* r, const QByteArray& payload) {
        taskWindow()->showList(r, nameOf(r), payload);
    };
    core_.hooks().remoteConfig = [this](TCompItem* r) {
        RemoteConfig config;
        {
            ComputersGuard guard(core_.registry().lock());
            config = RemoteConfig::FromRecord(*r);
        }
        configWindow()->showConfig(r, nameOf(r), config);
    };
    connect(&core_, &ServerCore::screenshotReceived, this,
            [this](TCompItem* r, const QByteArray& image) {
                QString error;
                if (!captureWindow()->showPicture(image, &error))
                    core_.ShowRemoteMessage(r, QStringLiteral("Falló Screen shot R12 / ") + error);
            });
    connect(&core_, &ServerCore::transparencyReported, this, [this](TCompItem* r, int alpha) {
        if (config_)
            config_->transparencyReported(r, alpha);
    });
}

RemoteWindows::~RemoteWindows() {
    core_.hooks().taskList = nullptr;
    core_.hooks().remoteConfig = nullptr;
}

QString RemoteWindows::nameOf(TCompItem* record) const {
    ComputersGuard guard(core_.registry().lock());
    return record != nullptr ? record->name : QString();
}

TfrmCapture* RemoteWindows::captureWindow() {
    if (!capture_)
        capture_ = new TfrmCapture(parent_);
    return capture_;
}

TfrmProcces* RemoteWindows::taskWindow() {
    if (!tasks_)
        tasks_ = new TfrmProcces(
            [this](TCompItem* r, const QString& title) { CloseTask(core_.context(), r, title); },
            parent_);
    return tasks_;
}

TfrmRemoteConfig* RemoteWindows::configWindow() {
    if (!config_)
        config_ = new TfrmRemoteConfig(
            core_.clock(),
            [this](TCompItem* r, const QList<ConfigCommand>& commands) {
                outbox_.send(r, commands);
            },
            parent_);
    return config_;
}

} // namespace tarvina::server
