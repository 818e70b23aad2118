#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;

namespace tarvina::platform {

// One running program per program folder and name (the named mutex of the
// original: "ZEZuraRozed" for the cashier, "ZuClientMutex" for a station): a
// lock file in the folder, and a local socket on which the first instance
// listens. A second start tells the first to show itself and ends. A lock
// left behind by a process that died (a power cut, a kill) does not keep the
// next start out.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    SingleInstance(const QString& folder, const QString& name, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first instance (it then listens for the
    // others). False when another one runs; that one has been asked to show.
    bool acquire();

    QString serverName() const { return serverName_; }

Q_SIGNALS:
    void showRequested();

private:
    bool askFirstToShow() const;

    QLockFile lock_;
    QString serverName_;
    QLocalServer* server_ = nullptr;
};

} // namespace tarvina::platform
