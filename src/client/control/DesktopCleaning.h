#pragma once

#include "client/control/DesktopCleaner.h"
#include "platform/ModelSave.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <thread>

namespace tarvina::platform {
class Clock;
}

namespace tarvina::client {

// The clean desktop of the station, run off the main thread. Before the
// first change a journal is made durable; it goes only when the home matches
// the model, so a cleaning cut short by a power cut or a kill is found at the
// next start and done again (the cleaning only ever moves the home towards
// the model, so doing it twice is safe).
class DesktopCleaning : public QObject {
    Q_OBJECT
public:
    struct Setup {
        QString home;
        QString model;
        QString journal; // inside a kept folder
        QString logFile; // what each cleaning did, one line each
        std::vector<std::string> keep;
        int settleMs = 0; // the closing programs' time before the first change
    };
    struct Outcome {
        bool ok = true;
        QString error;
        quint64 removed = 0, restored = 0, bytes = 0;
        QStringList mountPoints;
    };

    DesktopCleaning(platform::FolderOpener& fs, platform::Clock& clock, QObject* parent = nullptr);
    // Waits for a cleaning under way: the home is never left half done by
    // choice.
    ~DesktopCleaning() override;

    // The journal is written, then the home is cleaned on a worker thread and
    // finished() follows on this object's thread. False when no cleaning
    // could start (error says why; finished() does not follow).
    bool start(const Setup& s, QString* error);
    // "Guardar este escritorio como modelo": the model folder becomes what
    // the home holds now (without the kept paths); modelSaved() follows.
    bool saveModel(const Setup& s, QString* error);
    bool running() const { return running_.load(); }
    // Saves into a model folder the station's account cannot write (none:
    // such a save is refused with the reason).
    void setElevation(platform::ElevatedModelSave* e) { elevation_ = e; }

    // The keep list of a station: its own settings, session and logs below
    // home, plus the given folders when they lie below it.
    static std::vector<std::string> KeepList(const QString& home, const QStringList& ownFolders);
    // Why a model folder cannot serve for this home (empty text: it can).
    static QString RefuseModel(const QString& home, const QString& model);
    static bool Pending(const QString& journal);

    // The line the log gets for an outcome.
    static QString Summary(const Outcome& o);

Q_SIGNALS:
    void finished(const tarvina::client::DesktopCleaning::Outcome& outcome);
    void modelSaved(const tarvina::client::DesktopCleaning::Outcome& outcome);

private:
    bool launch(const Setup& s, bool save, QString* error);
    void appendLog(const QString& file, const QString& line);

    platform::FolderOpener& fs_;
    platform::Clock& clock_;
    platform::ElevatedModelSave* elevation_ = nullptr;
    std::thread worker_;
    std::atomic<bool> running_{false};
};

} // namespace tarvina::client
