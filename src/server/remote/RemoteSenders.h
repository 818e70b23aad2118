#pragma once

#include "server/computers/Senders.h"

#include <QByteArray>
#include <QString>

namespace tarvina::server {

// The senders of remote control: tasks, screen and the station's
// configuration. Each follows SendToComputer: nothing without a live
// connection, a failure said on the console with its own words.

SendResult TaskListQuery(ServerContext& ctx, TCompItem* record);                   // "09"
SendResult CloseTask(ServerContext& ctx, TCompItem* record, const QString& title); // "10"
SendResult CleanTasks(ServerContext& ctx, TCompItem* record);                      // "15"
SendResult ScreenQuery(ServerContext& ctx, TCompItem* record);                     // "12"
SendResult ConfigQuery(ServerContext& ctx, TCompItem* record);                     // "21"

// A file sent to a station travels whole in one block; larger files are
// refused before a byte is read.
inline constexpr qint64 kMaxConfigFile = 32LL * 1024 * 1024;

// "22", "23", "24": the file at `path` with its server path; an empty path
// or a file that does not exist sends the code alone (the station clears the
// setting).
SendResult SendConfigFile(ServerContext& ctx, TCompItem* record, int code, const QString& path);
SendResult SetWallpaperStyle(ServerContext& ctx, TCompItem* record, int style); // "25"
// "26", "27", "28" + "1" or "0".
SendResult SetConfigFlag(ServerContext& ctx, TCompItem* record, int code, bool on);
SendResult SetDiskState(ServerContext& ctx, TCompItem* record, quint32 mask); // "29"
// "30" + position + "," + the file's name, then the file; nothing when the
// file cannot be read.
SendResult SendBanner(ServerContext& ctx, TCompItem* record, int position, const QString& path);
SendResult SetBannerDelay(ServerContext& ctx, TCompItem* record, int position, int seconds);
SendResult DeleteBanner(ServerContext& ctx, TCompItem* record, int position); // "32"
// "42" + the opacity for a slider value of 0 (opaque) to 90.
SendResult SetTransparency(ServerContext& ctx, TCompItem* record, int sliderValue);

// The opacity a slider value stands for, and back (an R43 report).
int OpacityFromSlider(int sliderValue);
int SliderFromOpacity(int opacity);

// How a server path travels: with "\" between folders, as stations take the
// file's name from the text after the last "\".
QByteArray WirePath(const QString& path);
// A file's name, the text after the last "\" or "/".
QString FileNameOf(const QString& path);

} // namespace tarvina::server
