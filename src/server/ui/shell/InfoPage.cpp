#include "server/ui/shell/InfoPage.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace tarvina::server {

InfoPage::InfoPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FrameInfo"));
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("Información técnica"), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    view_ = new QPlainTextEdit(this);
    view_->setReadOnly(true);
    view_->setAccessibleName(title->text());
    title->setBuddy(view_);
    layout->addWidget(title);
    layout->addWidget(view_);
}

void InfoPage::setLines(const QStringList& lines) {
    view_->setPlainText(lines.join(QLatin1Char('\n')));
}

QString InfoPage::text() const {
    return view_->toPlainText();
}

} // namespace tarvina::server
