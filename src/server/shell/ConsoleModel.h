#pragma once

#include "common/DateTime.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace tarvina::server {

// The operator console: the lines ShowRemoteMessage writes, each either a
// header (date, time and computer, shown green and bold) or a message line
// (black, regular). Widget-free; a view redraws from the signals.
class ConsoleModel : public QObject {
    Q_OBJECT
public:
    struct Line {
        QString text;
        bool header = false;
    };

    // Above this many lines the console deletes its first kTrimCount lines,
    // at once, whoever is adding (so it never holds more than kTrimAbove
    // lines after an append, however fast they come).
    static constexpr int kTrimAbove = 200;
    static constexpr int kTrimCount = 101;

    explicit ConsoleModel(QObject* parent = nullptr);

    // caption: the computer's row caption, or empty for no header.
    void show(const QString& caption, const QString& text, const common::DateTime& now);

    const QList<Line>& lines() const { return lines_; }
    QStringList texts() const;
    // "Borrar mensajes de cónsola".
    void clear();

    // The console archive at close: the existing file loses its first 512
    // lines when it holds more than 1024, then gains a separator and every
    // console line. False with the reason when it cannot be written.
    static bool Archive(const QString& path, const QStringList& lines, QString* error = nullptr);

Q_SIGNALS:
    void lineAdded(const tarvina::server::ConsoleModel::Line& line);
    // A message as the operator reads it: time stamp, computer, text.
    void messageShown(const QString& stamp, const QString& computer, const QString& text);
    void trimmed(int count);
    void cleared();

private:
    void add(Line line);

    QList<Line> lines_;
};

} // namespace tarvina::server
