#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;

namespace tarvina::client::ui {

// One running station per program folder ("ZuClientMutex"): a lock file in
// the folder and a local socket on which the first instance listens. A second
// start asks the first to bring its main window to the front and ends.
class StationInstance : public QObject {
    Q_OBJECT
public:
    explicit StationInstance(const QString& folder, QObject* parent = nullptr);
    ~StationInstance() override;
    // True when this process is the first; false when another runs (it has
    // been asked to show itself).
    bool acquire();

Q_SIGNALS:
    void showRequested();

private:
    QLockFile lock_;
    QString serverName_;
    QLocalServer* server_ = nullptr;
};

} // namespace tarvina::client::ui
