#pragma once

#include "platform/MachineInfo.h"

#include <QList>
#include <QRandomGenerator>

namespace tarvina::platform {

// Machine facts set by the test; counts the calls so that the order of the
// MAC methods can be checked.
class FakeMachineInfo final : public MachineInfo {
public:
    QList<NetworkAdapter> adapterList;
    // Each call takes the next identifier; when the list is used up, random
    // identifiers follow (when randomIdentifiers) or nullopt.
    QList<QByteArray> identifiers;
    bool randomIdentifiers = false;
    std::optional<QByteArray> commandOutput;
    QString host = QStringLiteral("PUESTO01");
    OsVersion version;
    std::optional<quint32> volumeSerial;

    mutable int adapterCalls = 0;
    int identifierCalls = 0;
    int commandCalls = 0;
    // "A" adapters, "I" identifier, "C" command, in call order.
    mutable QString callOrder;

    QList<NetworkAdapter> adapters() const override {
        ++adapterCalls;
        callOrder += u'A';
        return adapterList;
    }
    std::optional<QByteArray> newTimeBasedIdentifier() override {
        callOrder += u'I';
        const int i = identifierCalls++;
        if (i < identifiers.size())
            return identifiers[i];
        if (randomIdentifiers) {
            QByteArray id(16, '\0');
            for (char& c : id)
                c = char(QRandomGenerator::global()->bounded(256));
            return id;
        }
        return std::nullopt;
    }
    std::optional<QByteArray> addressCommandOutput() override {
        ++commandCalls;
        callOrder += u'C';
        return commandOutput;
    }
    QString hostName() const override { return host; }
    OsVersion osVersion() const override { return version; }
    std::optional<quint32> rootVolumeSerial() const override { return volumeSerial; }
};

} // namespace tarvina::platform
