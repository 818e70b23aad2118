#include "server/central/CentralBranch.h"

#include <QDir>

namespace tarvina::server::central {

CentralBranch::CentralBranch(CapturingFileSystem& fs, platform::Clock& clock)
    : fs_(fs), clock_(clock) {}

CentralBranch::~CentralBranch() {
    stop();
}

QString CentralBranch::start(const QString& dataFolder, const QString& branch,
                             const QString& conninfo, const QString& password, Hooks hooks) {
    stop();
    if (branch.trimmed().isEmpty())
        return {};
    auto box = std::make_unique<Outbox>(fs_.inner());
    try {
        fs_.inner().MakeFolders(dataFolder.toStdString());
        box->open(QDir(dataFolder).filePath(QStringLiteral("Central.box")),
                  [this](const CentralRow& r) { return RowStandsInTable(fs_.inner(), r); });
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    box_ = std::move(box);
    CentralCopier::Config config;
    config.branch = branch.trimmed();
    config.conninfo = conninfo;
    config.password = password.toUtf8();
    CentralCopier::Hooks ch;
    ch.console = hooks.console;
    if (hooks.status)
        ch.status = [f = hooks.status](const CopyStatus& s) { f(s.text()); };
    copier_ = std::make_unique<CentralCopier>(*box_, clock_, config, ch);
    box_->setOnRelease([c = copier_.get()] { c->wake(); });
    fs_.setOutbox(box_.get());
    if (hooks.status)
        hooks.status(copier_->status().text());
    copier_->start();
    return {};
}

void CentralBranch::stop() {
    fs_.setOutbox(nullptr);
    if (copier_)
        copier_->stop();
    copier_.reset();
    box_.reset();
}

} // namespace tarvina::server::central
