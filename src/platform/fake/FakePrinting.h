#pragma once

#include "platform/Printing.h"

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QSet>
#include <map>
#include <memory>

namespace tarvina::platform {

// A printing double that keeps every job and every port write in memory.
class FakePrinting final : public Printing {
public:
    struct Job {
        QString printer;
        QString documentName;
        QByteArray data;
        bool finished = false;
    };

    // What tests set up.
    QStringList printers;
    QSet<QString> refusedPrinters;    // startRawJob fails for these
    QSet<QString> unopenablePorts;    // openPort fails for these
    qint64 failWritesAfterBytes = -1; // a job refuses writes beyond this many bytes; -1 never

    // What was asked.
    QList<std::shared_ptr<Job>> jobs;
    std::map<QString, QByteArray> portData; // everything written to each port, by port name
    QStringList portsOpened;
    int printerListRequests = 0;

    QStringList printerNames() override {
        ++printerListRequests;
        return printers;
    }

    std::unique_ptr<RawPrintJob> startRawJob(const QString& printer,
                                             const QString& documentName) override {
        if (!printers.contains(printer) || refusedPrinters.contains(printer)) {
            return nullptr;
        }
        auto job = std::make_shared<Job>();
        job->printer = printer;
        job->documentName = documentName;
        jobs << job;
        return std::make_unique<FakeJob>(job, failWritesAfterBytes);
    }

    std::unique_ptr<QIODevice> openPort(const QString& portName) override {
        static const QStringList kPorts = {"LPT1", "LPT2", "LPT3", "COM1", "COM2"};
        if (!kPorts.contains(portName) || unopenablePorts.contains(portName)) {
            return nullptr;
        }
        portsOpened << portName;
        portData[portName].clear(); // the port file is created anew
        auto dev = std::make_unique<PortDevice>(&portData[portName]);
        dev->open(QIODevice::WriteOnly);
        return dev;
    }

private:
    class FakeJob final : public RawPrintJob {
    public:
        FakeJob(std::shared_ptr<Job> job, qint64 limit) : job_(std::move(job)), limit_(limit) {}
        qint64 write(QByteArrayView bytes) override {
            if (job_->finished || (limit_ >= 0 && job_->data.size() + bytes.size() > limit_)) {
                return -1;
            }
            job_->data.append(bytes);
            return bytes.size();
        }
        bool finish() override {
            if (job_->finished) {
                return false;
            }
            job_->finished = true;
            return true;
        }

    private:
        std::shared_ptr<Job> job_;
        qint64 limit_;
    };

    // Writes land in the map entry, which outlives the device (std::map nodes
    // stay put while no entry is removed).
    class PortDevice final : public QIODevice {
    public:
        explicit PortDevice(QByteArray* sink) : sink_(sink) {}

    protected:
        qint64 readData(char*, qint64) override { return -1; }
        qint64 writeData(const char* data, qint64 len) override {
            sink_->append(data, len);
            return len;
        }

    private:
        QByteArray* sink_;
    };
};

} // namespace tarvina::platform
