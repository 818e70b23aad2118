#include "server/dialogs/DialogForms.h"

#include "common/Currency.h"
#include "common/Money.h"
#include "server/computers/Senders.h"
#include "server/session/TimeAssignment.h"

#include <algorithm>

namespace tarvina::server {

namespace {

int Percent(int v) {
    return std::clamp(v, 0, 100);
}

} // namespace

QStringList GrantForm::TimeItems() {
    return {QStringLiteral("5"),   QStringLiteral("10"),
            QStringLiteral("15"),  QStringLiteral("30"),
            QStringLiteral("60"),  QStringLiteral("90"),
            QStringLiteral("120"), QString::fromUtf16(kUnlimitedText)};
}

void GrantForm::show(const QString& computerName) {
    label_ = computerName + QLatin1Char(' ');
    user = QString::fromUtf16(kGenericUser);
}

std::optional<QString> GrantForm::acceptError() const {
    bool ok = false;
    const int n = minutes.trimmed().toInt(&ok);
    const bool minutesOk = (ok && n > 0) || minutes.trimmed() == QString::fromUtf16(kUnlimitedText);
    if (user.isEmpty() || !minutesOk)
        return QStringLiteral("Faltan campos por seleccionar");
    return std::nullopt;
}

QString GrantForm::priceText() const {
    bool ok = false;
    const int n = minutes.trimmed().toInt(&ok);
    if (!tariff.set || !ok || n <= 0)
        return {};
    return QStringLiteral("Precio: ") + common::FormatCurrency(tariff.UseCost(start, n));
}

void PaymentForm::show(const QString& computerName, qint64 m, qint64 c) {
    computer = computerName;
    minutes = m;
    cents = c;
    received.clear();
}

std::optional<qint64> PaymentForm::change() const {
    if (received.trimmed().isEmpty())
        return 0;
    const common::MoneyParse given = common::ParseMoney(received);
    if (!given.cents || *given.cents < cents)
        return std::nullopt;
    return *given.cents - cents;
}

QString PaymentForm::changeText() const {
    if (const auto c = change())
        return common::FormatCurrency(*c);
    const common::MoneyParse given = common::ParseMoney(received);
    if (!given.cents)
        return given.error;
    return QStringLiteral("Falta dinero: lo recibido es menos que el importe.");
}

QStringList MoreTimeForm::TimeItems() {
    return {QStringLiteral("5"),  QStringLiteral("10"), QStringLiteral("15"), QStringLiteral("30"),
            QStringLiteral("60"), QStringLiteral("90"), QStringLiteral("120")};
}

void MoreTimeForm::show() {
    minutes = QStringLiteral("30");
    notify = true;
}

void MoveTargetForm::show(QList<Entry> entries, int preselected) {
    entries_ = std::move(entries);
    chosen_ = preselected >= 0 && preselected < entries_.size() ? preselected : -1;
}

void MoveTargetForm::click(int index) {
    chosen_ = index >= 0 && index < entries_.size() ? index : -1;
}

TCompItem* MoveTargetForm::chosen() const {
    return chosen_ >= 0 ? entries_[chosen_].record : nullptr;
}

QStringList ShutdownForm::ModeItems() {
    return {QStringLiteral("&Apagado"), QStringLiteral("&Reinicio"),
            QStringLiteral("Cierra &sesión"), QStringLiteral("&Forzado"),
            QStringLiteral("Termina &Windows")};
}

QChar ShutdownForm::LetterOf(int mode) {
    static const char kLetters[] = "CRLFS";
    return mode >= 0 && mode < 5 ? QChar::fromLatin1(kLetters[mode]) : QChar(u'C');
}

void ServicePasswordForm::show() {
    password.clear();
    again.clear();
}

std::optional<QString> ServicePasswordForm::acceptError() const {
    if (password.isEmpty() || password != again)
        return QStringLiteral(
            "Las contraseñas difieren o están en blanco. Inténtelo de nuevo por favor.");
    return std::nullopt;
}

void RunForm::openFor(TCompItem* record, const QString& name) {
    target_ = record;
    name_ = name;
}

QString RunForm::caption() const {
    return target_ != nullptr ? QStringLiteral("Ejecutar en ") + name_ : QStringLiteral("Ejecutar");
}

void RunForm::sent(const QString& text) {
    history_.append(text);
}

void VolumeForm::show(TCompItem* record, const QString& name, int leftPercent, int rightPercent) {
    target_ = record;
    name_ = name;
    left_ = Percent(leftPercent);
    right_ = Percent(rightPercent);
}

void VolumeForm::moveLeft(int percent) {
    left_ = Percent(percent);
    if (sync)
        right_ = left_;
}

void VolumeForm::moveRight(int percent) {
    right_ = Percent(percent);
    if (sync)
        left_ = right_;
}

int VolumeForm::leftValue() const {
    return VolumeFromPercent(left_);
}

int VolumeForm::rightValue() const {
    return VolumeFromPercent(right_);
}

} // namespace tarvina::server
