#include "client/control/Banners.h"

#include "client/station/StationKeys.h"
#include "common/BoundedRead.h"
#include "common/Paths.h"
#include "platform/Registry.h"

#include <QFile>

namespace tarvina::client {

namespace {
constexpr qint64 kMaxBannerTextBytes = 64 * 1024;
} // namespace

Banners::Banners(platform::Registry& registry, QString folder)
    : registry_(registry), folder_(std::move(folder)) {}

QList<Banners::Entry> Banners::readKey() const {
    QList<Entry> out;
    const QString key = keys::kBannerList.text();
    for (const QString& name : registry_.valueNames(keys::kBannerList.root, key)) {
        if (out.size() >= kMaxBanners)
            break;
        out.append({name, registry_.readInteger(keys::kBannerList.root, key, name).value_or(0)});
    }
    return out;
}

void Banners::load() {
    list_.clear();
    defaultSeconds_ = kDefaultSeconds;
    if (registry_.keyExists(keys::kBannerList.root, keys::kBannerList.text())) {
        list_ = readKey();
        return;
    }
    QFile text(common::FindFileCaseInsensitive(folder_, QStringLiteral("Banner.txt")));
    if (text.exists() && text.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = common::ReadAtMost(text, kMaxBannerTextBytes).split('\n');
        const QByteArray first = lines.value(0).trimmed();
        bool ok = false;
        const int seconds = first.mid(first.indexOf('=') + 1).trimmed().toInt(&ok);
        defaultSeconds_ = ok && first.contains('=') ? seconds : kDefaultSeconds;
        for (qsizetype i = 1; i < lines.size() && list_.size() < kMaxBanners; ++i) {
            const QString name = QString::fromLocal8Bit(lines[i].trimmed());
            // Banners of the file carry no seconds of their own.
            if (!name.isEmpty())
                list_.append({name, 0});
        }
        return;
    }
    list_.append({QStringLiteral("zu26x.gif"), kDefaultSeconds});
}

void Banners::writeKey(const QList<Entry>& list) {
    const QString key = keys::kBannerList.text();
    registry_.beginBatch();
    registry_.deleteKey(keys::kBannerList.root, key);
    registry_.createKey(keys::kBannerList.root, key);
    for (const Entry& e : list)
        registry_.writeInteger(keys::kBannerList.root, key, e.file, e.seconds);
    registry_.endBatch();
}

void Banners::setFile(int position, const QString& file) {
    // Without the key, the positions the server knows are those of the list
    // in force (from "Banner.txt" or the default): the key starts from it.
    QList<Entry> list =
        registry_.keyExists(keys::kBannerList.root, keys::kBannerList.text()) ? readKey() : list_;
    for (Entry& e : list)
        if (e.seconds <= 0)
            e.seconds = defaultSeconds_ > 0 ? defaultSeconds_ : kDefaultSeconds;
    if (position < 0 || position >= list.size()) {
        if (list.size() >= kMaxBanners)
            return;
        list.append({file, kDefaultSeconds});
    } else {
        list[position].file = file;
    }
    writeKey(list);
}

bool Banners::setSeconds(int position, int seconds) {
    QList<Entry> list = readKey();
    if (position < 0 || position >= list.size())
        return false;
    list[position].seconds = seconds;
    writeKey(list);
    return true;
}

bool Banners::remove(int position) {
    QList<Entry> list = readKey();
    if (position < 0 || position >= list.size())
        return false;
    list.removeAt(position);
    writeKey(list);
    return true;
}

} // namespace tarvina::client
