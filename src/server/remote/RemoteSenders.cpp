#include "server/remote/RemoteSenders.h"

#include "common/BoundedRead.h"
#include "common/Cp1252.h"
#include "protocol/Codes.h"
#include "protocol/Fields.h"
#include "protocol/Line.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <optional>

namespace tarvina::server {

namespace p = tarvina::protocol;
using common::ToCp1252;

namespace {

FailureText Fixed(const QString& text) {
    return [text](const QString&, const QString&) { return text; };
}

QString ConfigFailure(const QString& name) {
    return QStringLiteral("Falla enviando comando de configuracion remota a ") + name;
}

SendResult SendConfig(ServerContext& ctx, TCompItem* record, int code, const QByteArray& payload,
                      const QByteArray* block = nullptr) {
    return SendToComputer(
        ctx, record, p::FormatToClient(code, payload), QString(),
        [](const QString& name, const QString&) { return ConfigFailure(name); }, block);
}

QString NameOf(ServerContext& ctx, TCompItem* record) {
    ComputersGuard guard(ctx.registry.lock());
    return record->name;
}

// The file's bytes, or nullopt (said on the console) when it cannot be sent.
std::optional<QByteArray> ReadConfigFile(ServerContext& ctx, TCompItem* record,
                                         const QString& path) {
    QFile f(path);
    if (QFileInfo(path).size() > kMaxConfigFile) {
        ctx.console(record, ConfigFailure(NameOf(ctx, record)) +
                                QStringLiteral(": el archivo %1 pasa de %2 MiB")
                                    .arg(FileNameOf(path))
                                    .arg(kMaxConfigFile / (1024 * 1024)));
        return std::nullopt;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        ctx.console(record,
                    ConfigFailure(NameOf(ctx, record)) + QStringLiteral(": ") + f.errorString());
        return std::nullopt;
    }
    // Read within the bound even if the file grew meanwhile.
    QByteArray bytes = common::ReadAtMost(f, kMaxConfigFile + 1);
    if (bytes.size() > kMaxConfigFile) {
        ctx.console(record, ConfigFailure(NameOf(ctx, record)) +
                                QStringLiteral(": el archivo %1 pasa de %2 MiB")
                                    .arg(FileNameOf(path))
                                    .arg(kMaxConfigFile / (1024 * 1024)));
        return std::nullopt;
    }
    return bytes;
}

bool IsFile(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

} // namespace

SendResult TaskListQuery(ServerContext& ctx, TCompItem* record) {
    return SendToComputer(ctx, record, p::FormatToClient(p::tc::TaskListQuery), QString(),
                          Fixed(QStringLiteral("Falla al solicitar tareas")));
}

SendResult CloseTask(ServerContext& ctx, TCompItem* record, const QString& title) {
    return SendToComputer(ctx, record, p::FormatToClient(p::tc::CloseTask, ToCp1252(title)),
                          QString(), Fixed(QStringLiteral("Falla al eliminar tareas")));
}

SendResult CleanTasks(ServerContext& ctx, TCompItem* record) {
    return SendToComputer(ctx, record, p::FormatToClient(p::tc::CleanTasks), QString(),
                          Fixed(QStringLiteral("Falla al limpiar tareas")));
}

SendResult ScreenQuery(ServerContext& ctx, TCompItem* record) {
    return SendToComputer(ctx, record, p::FormatToClient(p::tc::ScreenQuery), QString(),
                          Fixed(QStringLiteral("Falla al solicitar pantalla")));
}

SendResult ConfigQuery(ServerContext& ctx, TCompItem* record) {
    return SendToComputer(ctx, record, p::FormatToClient(p::tc::ConfigQuery), QString(),
                          [](const QString& name, const QString&) {
                              return QStringLiteral("Falla solicitnado configuracion remota a ") +
                                     name;
                          });
}

SendResult SendConfigFile(ServerContext& ctx, TCompItem* record, int code, const QString& path) {
    if (record == nullptr)
        return SendResult::NotConnected;
    if (!IsFile(path))
        return SendConfig(ctx, record, code, {});
    const auto bytes = ReadConfigFile(ctx, record, path);
    if (!bytes)
        return SendResult::Failed;
    return SendConfig(ctx, record, code, WirePath(path), &*bytes);
}

SendResult SetWallpaperStyle(ServerContext& ctx, TCompItem* record, int style) {
    return SendConfig(ctx, record, p::tc::SetWallpaperStyle, QByteArray::number(style));
}

SendResult SetConfigFlag(ServerContext& ctx, TCompItem* record, int code, bool on) {
    return SendConfig(ctx, record, code, on ? "1" : "0");
}

SendResult SetDiskState(ServerContext& ctx, TCompItem* record, quint32 mask) {
    return SendConfig(ctx, record, p::tc::SetDiskState, QByteArray::number(mask));
}

SendResult SendBanner(ServerContext& ctx, TCompItem* record, int position, const QString& path) {
    if (record == nullptr || !IsFile(path))
        return SendResult::NotConnected;
    const auto bytes = ReadConfigFile(ctx, record, path);
    if (!bytes)
        return SendResult::Failed;
    return SendConfig(ctx, record, p::tc::SendBanner,
                      QByteArray::number(position) + ',' + ToCp1252(FileNameOf(path)), &*bytes);
}

SendResult SetBannerDelay(ServerContext& ctx, TCompItem* record, int position, int seconds) {
    return SendConfig(ctx, record, p::tc::SetBannerDelay,
                      QByteArray::number(position) + ',' + QByteArray::number(seconds));
}

SendResult DeleteBanner(ServerContext& ctx, TCompItem* record, int position) {
    return SendConfig(ctx, record, p::tc::DeleteBanner, QByteArray::number(position));
}

SendResult SetTransparency(ServerContext& ctx, TCompItem* record, int sliderValue) {
    return SendConfig(ctx, record, p::tc::SetTransparency,
                      p::FormatHex(static_cast<quint32>(OpacityFromSlider(sliderValue)), 2));
}

int OpacityFromSlider(int sliderValue) {
    const int v = std::clamp(sliderValue, 0, 100);
    return 255 - v * 255 / 100;
}

int SliderFromOpacity(int opacity) {
    return (255 - std::clamp(opacity, 0, 255)) * 100 / 255;
}

QByteArray WirePath(const QString& path) {
    QString p = path;
    p.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return ToCp1252(p);
}

QString FileNameOf(const QString& path) {
    const qsizetype at =
        std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return path.mid(at + 1);
}

} // namespace tarvina::server
