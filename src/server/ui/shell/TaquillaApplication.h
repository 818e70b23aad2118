#pragma once

#include <QApplication>
#include <functional>

namespace tarvina::server {

// The application object: an exception that escapes an event handler of the
// main thread is caught here and handed to the program's handler (the
// exception log and the error box), and the program goes on.
class TaquillaApplication : public QApplication {
    Q_OBJECT
public:
    TaquillaApplication(int& argc, char** argv);

    // sender class name, error text.
    using Handler = std::function<void(const QString&, const QString&)>;
    void setUnexpectedErrorHandler(Handler h) { handler_ = std::move(h); }

    bool notify(QObject* receiver, QEvent* event) override;

private:
    void report(QObject* receiver, const QString& text);
    Handler handler_;
    bool reporting_ = false;
};

} // namespace tarvina::server
