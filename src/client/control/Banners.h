#pragma once

#include <QList>
#include <QString>

namespace tarvina::platform {
class Registry;
}

namespace tarvina::client {

// The pictures that take turns on the lock screen. Their list is the values
// of the banner key (name: the picture's file in the program folder, data:
// its seconds), in the order the key keeps them; without the key, the file
// "Banner.txt" of the program folder; without either, "zu26x.gif" alone.
class Banners {
public:
    static constexpr int kDefaultSeconds = 5;
    // More than this many banners are not read (a key or file that holds more
    // is cut there).
    static constexpr int kMaxBanners = 250;

    struct Entry {
        QString file; // as stored: a name in the program folder
        int seconds = kDefaultSeconds;
        bool operator==(const Entry&) const = default;
    };

    Banners(platform::Registry& registry, QString folder);

    // LoadBannerList.
    void load();
    const QList<Entry>& list() const { return list_; }
    int defaultSeconds() const { return defaultSeconds_; }

    // A received picture at a position of the list: a position outside it
    // adds the picture with the default seconds; one inside replaces that
    // banner's file, keeping its seconds and its place.
    void setFile(int position, const QString& file);
    // False (nothing changed) for a position outside the list.
    bool setSeconds(int position, int seconds);
    bool remove(int position);

private:
    QList<Entry> readKey() const;
    // The list the lock shows, written as the key (which then rules).
    void writeKey(const QList<Entry>& list);

    platform::Registry& registry_;
    QString folder_;
    QList<Entry> list_;
    int defaultSeconds_ = kDefaultSeconds;
};

} // namespace tarvina::client
