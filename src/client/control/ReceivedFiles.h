#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace tarvina::client {

// Files the server sends (lock picture, alarm sound, wallpaper, banners)
// land in the station's program folder and nowhere else, whatever name the
// server gives: only the last part of the name is kept (after the last "\"
// or "/"), control characters (NUL included) are dropped, and a name that is
// then empty, "." or "..", longer than kMaxName characters, or one of the
// station's own files (its program, its logs, its language and exemption
// files) is refused.
class ReceivedFiles {
public:
    static constexpr int kMaxName = 200;

    // exeName: the station's program, which a received file never replaces.
    ReceivedFiles(QString folder, QString exeName);

    // The name the file is stored under, or nullopt with a Spanish reason.
    std::optional<QString> safeName(const QString& serverPath, QString* error) const;

    // Writes the bytes under the safe name in the folder (a file of that name
    // in any case is replaced; a link of that name is replaced, never
    // followed). Returns the stored file's name, or nullopt with a Spanish
    // reason and nothing written.
    std::optional<QString> store(const QString& serverPath, QByteArrayView bytes,
                                 QString* error) const;

    const QString& folder() const { return folder_; }

private:
    QString folder_;
    QString exeName_;
};

// True when the bytes begin as a picture the lock screen can show (BMP, GIF,
// PNG, JPEG, ICO).
bool LooksLikePicture(QByteArrayView head);

} // namespace tarvina::client
