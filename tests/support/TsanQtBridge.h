#pragma once

#include <QCoreApplication>

namespace tarvina::test {

// The application object of the Qt test mains. Under ThreadSanitizer it
// tells the sanitizer about the hand-off in Qt's event queues (see
// TsanQtBridge.cpp); otherwise it is a plain QCoreApplication.
class TestCoreApplication : public QCoreApplication {
public:
    TestCoreApplication(int& argc, char** argv) : QCoreApplication(argc, argv) {}
#if defined(__SANITIZE_THREAD__)
    bool notify(QObject* receiver, QEvent* event) override;
#endif
};

} // namespace tarvina::test
