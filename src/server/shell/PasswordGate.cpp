#include "server/shell/PasswordGate.h"

#include "server/settings/ServerSettings.h"

namespace tarvina::server {

PasswordPrompt::PasswordPrompt(QString storedScrambled, QString caption)
    : stored_(std::move(storedScrambled)), caption_(std::move(caption)) {}

PasswordPrompt PasswordPrompt::For(Gate gate, const ServerSettings& settings) {
    if (gate == Gate::PinPage)
        return PasswordPrompt(settings.passwordStdPin, QString::fromUtf16(kCaptionPin));
    return PasswordPrompt(settings.passwordStd, QString::fromUtf16(kCaptionAccess));
}

bool PasswordPrompt::submit(const QString& typed) {
    if (!needed() || PasswordMatches(stored_, typed))
        return true;
    ++failures_;
    caption_ = QString::fromUtf16(kCaptionRetry);
    return false;
}

} // namespace tarvina::server
