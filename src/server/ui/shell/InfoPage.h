#pragma once

#include <QStringList>
#include <QWidget>

class QPlainTextEdit;

namespace tarvina::server {

// The "Información" page: the technical information listing.
class InfoPage : public QWidget {
    Q_OBJECT
public:
    explicit InfoPage(QWidget* parent = nullptr);
    void setLines(const QStringList& lines);
    QString text() const;

private:
    QPlainTextEdit* view_;
};

} // namespace tarvina::server
