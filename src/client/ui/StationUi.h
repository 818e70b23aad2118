#pragma once

#include "client/StationCore.h"
#include "client/ui/Dialogs.h"
#include "client/ui/LockWindows.h"
#include "client/ui/TfrmClient7267.h"
#include "client/ui/Tfrmprocces.h"
#include "platform/WindowSystem.h"

#include <QObject>
#include <QPointer>
#include <memory>

namespace tarvina::client::ui {

// The station's windows, created in the order of the original program, and
// the small interfaces through which the logic reaches them.
class StationUi final : public QObject,
                        public OwnWindows,
                        public WelcomeDialog,
                        public PasswordDialog,
                        public NoticeView,
                        public TaskWindowView {
    Q_OBJECT
public:
    explicit StationUi(bool testMode);
    ~StationUi() override;
    // Connects the windows to the logic (created afterwards, as it needs the
    // interfaces of this object).
    void attach(StationCore* core);

    // OwnWindows
    platform::WindowId id(OwnWindow w) const override;
    bool isShowing(OwnWindow w) const override;
    // WelcomeDialog
    bool exec(const Setup& setup, QString* typedPassword) override;
    bool isShowing() const override;
    void close() override;
    // PasswordDialog
    bool exec(QString* typed) override;
    void setNextCaption(const QString& caption) override { passwordCaption_ = caption; }
    // NoticeView
    void showNotice(const QString& text) override;
    void errorBox(const QString& caption, const QString& text) override;
    // TaskWindowView
    void setPasswordCaption(const QString& caption) override { passwordCaption_ = caption; }
    void exec(TaskPicker& picker) override;

    // A service dialog shown over the lock (the server chooser at start):
    // while set, it counts as the configuration window, which the lock's
    // enforcement leaves alone.
    void setServiceDialog(QWidget* w) { serviceDialog_ = w; }

    TfrmClient7267* main() const { return main_.get(); }
    TfrmBack* lock() const { return back_.get(); }
    TfrmClock* clock() const { return clock_.get(); }
    TfrmGrantAccess* welcome() const { return grant_.get(); }
    TfrmNotice* notice() const { return notice_.get(); }
    Tfrmprocces* tasks() const { return tasks_.get(); }
    // The configuration dialog, one of the station's own windows.
    void setConfigDialog(QWidget* dialog) { config_ = dialog; }

Q_SIGNALS:
    void quitRequested();

private:
    void refresh();
    QWidget* widget(OwnWindow w) const;

    bool testMode_;
    StationCore* core_ = nullptr;
    QPointer<QWidget> config_;
    std::unique_ptr<TPasswordDlg> password_;
    std::unique_ptr<TfrmClock> clock_;
    std::unique_ptr<TfrmBack> back_;
    std::unique_ptr<TfrmGrantAccess> grant_;
    std::unique_ptr<TfrmNotice> notice_;
    std::unique_ptr<TfrmSendMsg> sendMsg_;
    std::unique_ptr<TfrmReqTime> reqTime_;
    std::unique_ptr<Tfrmprocces> tasks_;
    QString passwordCaption_; // for the next ask; empty: the language's caption
    std::unique_ptr<TfrmClient7267> main_;
    bool grantShowing_ = false;
    QWidget* serviceDialog_ = nullptr;
};

} // namespace tarvina::client::ui
