#include "client/ui/StationUi.h"

#include "common/Cp1252.h"
#include "protocol/StationLines.h"

#include <QDir>
#include <QMessageBox>
#include <QWidget>
#include <utility>

namespace tarvina::client::ui {

StationUi::StationUi(bool testMode) : testMode_(testMode) {
    password_ = std::make_unique<TPasswordDlg>();
    clock_ = std::make_unique<TfrmClock>();
    back_ = std::make_unique<TfrmBack>();
    grant_ = std::make_unique<TfrmGrantAccess>();
    notice_ = std::make_unique<TfrmNotice>();
    sendMsg_ = std::make_unique<TfrmSendMsg>();
    reqTime_ = std::make_unique<TfrmReqTime>();
    tasks_ = std::make_unique<Tfrmprocces>();
}

StationUi::~StationUi() = default;

void StationUi::attach(StationCore* core) {
    StationView* view = &core->view();
    core_ = core;
    main_ = std::make_unique<TfrmClient7267>(*core, testMode_);
    connect(view, &StationView::displayChanged, this, &StationUi::refresh);
    connect(view, &StationView::showClockWindow, clock_.get(), [this] {
        clock_->show();
        clock_->raise();
    });
    connect(view, &StationView::raiseLockScreen, back_.get(), [this] {
        if (back_->isVisible())
            back_->raise();
    });
    connect(view, &StationView::closeTimeRequestDialog, reqTime_.get(), &QDialog::reject);
    // The main window stays on top: the customer's dialogs it opens stay on
    // top too, so they open in front of it, never behind.
    for (QDialog* dlg :
         {static_cast<QDialog*>(reqTime_.get()), static_cast<QDialog*>(sendMsg_.get())})
        dlg->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    connect(view, &StationView::closeRequested, this, [this] {
        main_->setCloseAllowed(true);
        main_->close();
    });
    connect(main_.get(), &TfrmClient7267::closeAccepted, this, &StationUi::quitRequested);
    connect(main_.get(), &TfrmClient7267::moreTimeRequested, this, [this] {
        reqTime_->follow(core_->display(), core_->texts());
        if (reqTime_->exec() == QDialog::Accepted)
            core_->session().RequestMoreTime(reqTime_->minutesText());
    });
    connect(main_.get(), &TfrmClient7267::priceListRequested, this, [this] {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Lista de precios"),
                        core_->display().priceList, QMessageBox::Ok, main_.get());
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
        box.exec();
    });
    connect(main_.get(), &TfrmClient7267::accountRequested, this,
            [this] { core_->link().SendReport(protocol::station::AccountQuery()); });
    connect(view, &StationView::showAccount, this, [this](const QString& text) {
        auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Estado de cuenta"),
                                    text, QMessageBox::Ok, main_.get());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        box->open();
    });
    connect(main_.get(), &TfrmClient7267::freeMessageRequested, this, [this] {
        if (sendMsg_->exec() == QDialog::Accepted) {
            core_->link().SendFreeMessage(common::ToCp1252(sendMsg_->text()));
            sendMsg_->clear();
        }
    });
    connect(clock_.get(), &TfrmClock::doubleClicked, core,
            [core] { core->lock().ToggleMainWindow(); });
    connect(clock_.get(), &TfrmClock::touched, core, [core] { core->lock().KeepLockOnTop(); });
    connect(back_.get(), &TfrmBack::pictureClicked, core, [core] {
        core->lock().ToggleMainWindow();
        core->lock().EnforcementTick();
    });
    connect(back_.get(), &TfrmBack::backgroundClicked, core,
            [core] { core->lock().LockBackgroundClicked(); });
    connect(back_.get(), &TfrmBack::keyPressed, core,
            [this, core](int key, Qt::KeyboardModifiers modifiers, const QString& text) {
                core->lock().EnforcementTick();
                // The key the customer typed before the code box had the focus
                // is not lost.
                main_->typeIntoPinBox(key, modifiers, text);
            });
    core->log().lastCommand().set(QStringLiteral("GenLangMenu"));
    main_->setLanguageMenu(BuildLanguageMenu(QDir::currentPath()));
    refresh();
}

void StationUi::refresh() {
    if (!core_)
        return;
    const ClientDisplay& d = core_->display();
    const LanguageTexts& t = core_->texts();
    main_->follow(d, t);
    clock_->follow(d);
    back_->follow(d);
    grant_->setTexts(t);
    password_->setTexts(t);
    notice_->setTexts(t);
    sendMsg_->setTexts(t);
    reqTime_->follow(d, t);
}

QWidget* StationUi::widget(OwnWindow w) const {
    switch (w) {
    case OwnWindow::Main:
        return main_.get();
    case OwnWindow::Lock:
        return back_.get();
    case OwnWindow::Clock:
        return clock_.get();
    case OwnWindow::Welcome:
        return grant_.get();
    case OwnWindow::Notice:
        return notice_.get();
    case OwnWindow::Password:
        return password_.get();
    case OwnWindow::SendMsg:
        return sendMsg_.get();
    case OwnWindow::ReqTime:
        return reqTime_.get();
    case OwnWindow::Tasks:
        return tasks_.get();
    case OwnWindow::Config:
        return config_ ? config_.data() : serviceDialog_;
    default:
        return nullptr;
    }
}

platform::WindowId StationUi::id(OwnWindow w) const {
    QWidget* wd = widget(w);
    return wd ? static_cast<platform::WindowId>(wd->winId()) : 0;
}

bool StationUi::isShowing(OwnWindow w) const {
    QWidget* wd = widget(w);
    return wd && wd->isVisible();
}

bool StationUi::exec(const Setup& setup, QString* typedPassword) {
    grantShowing_ = true;
    const bool ok = grant_->run(setup, typedPassword);
    grantShowing_ = false;
    return ok;
}

bool StationUi::isShowing() const {
    return grantShowing_;
}

void StationUi::close() {
    grant_->reject();
}

bool StationUi::exec(QString* typed) {
    // A refusal's caption greets the next try only.
    if (!passwordCaption_.isEmpty())
        return password_->ask(typed, std::exchange(passwordCaption_, QString()));
    return password_->ask(typed, core_ ? core_->texts().get(Txt::PassCaption)
                                       : QStringLiteral("Contraseña"));
}

void StationUi::exec(TaskPicker& picker) {
    tasks_->run(picker);
}

void StationUi::showNotice(const QString& text) {
    notice_->showText(text,
                      core_ ? core_->texts().get(Txt::NotCaption) : QStringLiteral("Mensaje"));
}

void StationUi::errorBox(const QString& caption, const QString& text) {
    QMessageBox::critical(nullptr, caption, text);
}

} // namespace tarvina::client::ui
