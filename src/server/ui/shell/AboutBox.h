#pragma once

#include <QDialog>

namespace tarvina::server {

// "Acerca de...": the program, its edition and version.
class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(const QString& versionText, QWidget* parent = nullptr);
};

} // namespace tarvina::server
