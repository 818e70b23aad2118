#pragma once

#include "server/computers/ServerContext.h"

#include <QByteArray>
#include <QString>
#include <functional>

namespace tarvina::server {

enum class SendResult { Sent, NotConnected, Failed };

// Builds the console text of a failed send from the computer's display name
// and the error text.
using FailureText = std::function<QString(const QString& name, const QString& error)>;

// The shape of every send to one computer: optional step label; nothing when
// there is no record, no connection or the connection is down; otherwise the
// line (CR LF added; line breaks inside become blanks) and its block, if
// any, written whole; a failure goes to the console for that record.
SendResult SendToComputer(ServerContext& ctx, TCompItem* record, const QByteArray& line,
                          const QString& label, const FailureText& failure,
                          const QByteArray* block = nullptr);

// Lines of the operator's senders.
SendResult SendNotice(ServerContext& ctx, TCompItem* record, const QString& text);
SendResult SendServicePassword(ServerContext& ctx, TCompItem* record, const QString& password);
SendResult RunRemote(ServerContext& ctx, TCompItem* record, const QString& command);
// letter: one of C R L F S.
SendResult ScheduleShutdown(ServerContext& ctx, TCompItem* record, int seconds, QChar letter);
SendResult QueryCdList(ServerContext& ctx, TCompItem* record);
SendResult CdTray(ServerContext& ctx, TCompItem* record, QChar letter, bool open);
// left and right: 0..65535.
SendResult SetVolume(ServerContext& ctx, TCompItem* record, int left, int right);
SendResult QueryVolume(ServerContext& ctx, TCompItem* record);
SendResult QueryLog(ServerContext& ctx, TCompItem* record);
SendResult QueryTransparency(ServerContext& ctx, TCompItem* record);

// The volume window's scaling: a reported value as percent, and a percent as
// the value sent.
int VolumePercent(int value);
int VolumeFromPercent(int percent);

} // namespace tarvina::server
