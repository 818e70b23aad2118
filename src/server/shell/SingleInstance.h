#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

namespace tarvina::server {

// One running taquilla per program folder: a lock file in that folder, and
// a local socket on which the first instance listens; a second start tells
// the first to show itself and ends.
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

} // namespace tarvina::server
