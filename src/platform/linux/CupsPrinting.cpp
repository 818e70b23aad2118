#include "platform/linux/CupsPrinting.h"

#include <QFile>
#include <cups/cups.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace tarvina::platform {

namespace {

struct ServerAddress {
    std::string host;
    int port = 0;
};

// "host", "host:port", "[v6]:port" or "/path/of/socket"; empty means CUPS's choice.
ServerAddress ResolveServer(QString server) {
    if (server.isEmpty()) {
        // CUPS reads CUPS_SERVER once per thread; read it here each time so a
        // change of the environment is seen.
        server = qEnvironmentVariable("CUPS_SERVER");
    }
    if (server.isEmpty()) {
        return {cupsServer(), ippPort()};
    }
    ServerAddress a{server.toStdString(), ippPort()};
    if (server.startsWith(u'/')) {
        return a;
    }
    const qsizetype colon = server.lastIndexOf(u':');
    const qsizetype bracket = server.lastIndexOf(u']');
    if (colon > 0 && colon > bracket) {
        bool ok = false;
        const int port = server.mid(colon + 1).toInt(&ok);
        if (ok && port > 0 && port < 65536) {
            a.host = server.left(colon).toStdString();
            a.port = port;
        }
    }
    return a;
}

http_t* Connect(const QString& server) {
    const ServerAddress a = ResolveServer(server);
    return httpConnect2(a.host.c_str(), a.port, nullptr, AF_UNSPEC, cupsEncryption(), 1, 30000,
                        nullptr);
}

class CupsRawJob final : public RawPrintJob {
public:
    CupsRawJob(QString server, http_t* http, std::string printer, int jobId)
        : server_(std::move(server)), http_(http), printer_(std::move(printer)), jobId_(jobId) {}

    ~CupsRawJob() override {
        if (open_) {
            // Dropping the connection in the middle of the document aborts it;
            // the job itself is then cancelled on a fresh connection.
            httpClose(http_);
            http_ = nullptr;
            if (http_t* http = Connect(server_)) {
                cupsCancelJob2(http, printer_.c_str(), jobId_, 0);
                httpClose(http);
            }
        }
        if (http_) {
            httpClose(http_);
        }
    }

    qint64 write(QByteArrayView bytes) override {
        if (!open_) {
            return -1;
        }
        if (bytes.isEmpty()) {
            return 0;
        }
        if (cupsWriteRequestData(http_, bytes.data(), size_t(bytes.size())) !=
            HTTP_STATUS_CONTINUE) {
            return -1;
        }
        return bytes.size();
    }

    bool finish() override {
        if (!open_) {
            return false;
        }
        open_ = false;
        return cupsFinishDocument(http_, printer_.c_str()) == IPP_STATUS_OK;
    }

private:
    QString server_;
    http_t* http_;
    std::string printer_;
    int jobId_;
    bool open_ = true;
};

} // namespace

CupsPrinting::CupsPrinting(QString server, QString deviceFolder)
    : server_(std::move(server)), deviceFolder_(std::move(deviceFolder)) {}

QStringList CupsPrinting::printerNames() {
    QStringList names;
    http_t* http = Connect(server_);
    if (!http) {
        return names;
    }
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(http, &dests);
    for (int i = 0; i < count; ++i) {
        // Instances are option sets of one queue, not printers of their own.
        if (dests[i].instance == nullptr && dests[i].name != nullptr) {
            names << QString::fromUtf8(dests[i].name);
        }
    }
    cupsFreeDests(count, dests);
    httpClose(http);
    return names;
}

std::optional<QString> CupsPrinting::defaultPrinterName() {
    http_t* http = Connect(server_);
    if (!http) {
        return std::nullopt;
    }
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(http, &dests);
    QString name;
    if (cups_dest_t* d = cupsGetDest(nullptr, nullptr, count, dests); d && d->name) {
        name = QString::fromUtf8(d->name);
    }
    cupsFreeDests(count, dests);
    httpClose(http);
    return name;
}

std::unique_ptr<RawPrintJob> CupsPrinting::startRawJob(const QString& printer,
                                                       const QString& documentName) {
    if (printer.isEmpty()) {
        return nullptr;
    }
    http_t* http = Connect(server_);
    if (!http) {
        return nullptr;
    }
    const std::string name = printer.toStdString();
    const std::string title = documentName.toStdString();
    const int jobId = cupsCreateJob(http, name.c_str(), title.c_str(), 0, nullptr);
    if (jobId <= 0) {
        httpClose(http);
        return nullptr;
    }
    if (cupsStartDocument(http, name.c_str(), jobId, title.c_str(), CUPS_FORMAT_RAW, 1) !=
        HTTP_STATUS_CONTINUE) {
        cupsCancelJob2(http, name.c_str(), jobId, 0);
        httpClose(http);
        return nullptr;
    }
    return std::make_unique<CupsRawJob>(server_, http, name, jobId);
}

QString CupsPrinting::PortDeviceName(const QString& portName) {
    static const char* const kPorts[][2] = {
        {"LPT1", "lp0"}, {"LPT2", "lp1"}, {"LPT3", "lp2"}, {"COM1", "ttyS0"}, {"COM2", "ttyS1"}};
    for (const auto& p : kPorts) {
        if (portName.compare(QLatin1String(p[0]), Qt::CaseInsensitive) == 0) {
            return QLatin1String(p[1]);
        }
    }
    return {};
}

std::unique_ptr<QIODevice> CupsPrinting::openPort(const QString& portName) {
    const QString device = PortDeviceName(portName);
    if (device.isEmpty()) {
        return nullptr;
    }
    const QByteArray path = QFile::encodeName(deviceFolder_ + u'/' + device);
    // Non-blocking only while opening: a serial line without carrier must not
    // hold the open. The device is never created when it does not exist.
    const int fd = ::open(path.constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return file;
}

} // namespace tarvina::platform
