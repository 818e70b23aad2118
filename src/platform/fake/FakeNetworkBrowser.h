#pragma once

#include "platform/NetworkBrowser.h"

#include <QMutex>

namespace tarvina::platform {

class FakeNetworkBrowser final : public NetworkBrowser {
public:
    void setComputers(const QStringList& list) {
        QMutexLocker l(&m_);
        list_ = list;
    }
    int asked() const {
        QMutexLocker l(&m_);
        return asked_;
    }
    QStringList computers(int) override {
        QMutexLocker l(&m_);
        ++asked_;
        return list_;
    }

private:
    mutable QMutex m_;
    QStringList list_;
    int asked_ = 0;
};

} // namespace tarvina::platform
