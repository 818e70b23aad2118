// capture-bench: what a cashier's "Capturar pantalla..." costs the station.
// Not a test: it prints figures.
//
// 1. On a private 1920x1080 display of 24 bits: reading the screen in its
//    squares and writing the bitmap file, each timed over a number of rounds
//    (minimum, median, maximum).
// 2. The picture's transfer over loopback: the station's line and block
//    written on one socket, read on the other by the protocol's block
//    reader, as the server reads it; megabytes per second.
//
//   capture-bench [--rounds N] [--width W --height H]
#include "client/control/BmpImage.h"
#include "platform/linux/X11ScreenGrabber.h"
#include "protocol/Block.h"
#include "protocol/LineReader.h"
#include "protocol/StationLines.h"
#include "support/XDisplay.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

using namespace tarvina;

namespace {

struct Figures {
    double min, median, max;
};

Figures Summary(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return {ms.front(), ms[ms.size() / 2], ms.back()};
}

void Print(const char* what, const Figures& f) {
    std::printf("%-34s min %7.2f ms  median %7.2f ms  max %7.2f ms\n", what, f.min, f.median,
                f.max);
}

// Sends the picture as the station does and reads it as the server does;
// milliseconds from the first byte written to the last byte read.
double Transfer(const QByteArray& bmp) {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return -1;
    const quint16 port = server.serverPort();
    const QByteArray wire = protocol::station::ScreenHead() + "\r\n" + protocol::EncodeBlock(bmp);
    QElapsedTimer t;
    std::thread sender([&] {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        if (!s.waitForConnected(5000))
            return;
        s.write(wire);
        while (s.bytesToWrite() > 0 && s.waitForBytesWritten(5000)) {
        }
        s.waitForDisconnected(10000);
    });
    if (!server.waitForNewConnection(5000)) {
        sender.join();
        return -1;
    }
    QTcpSocket* peer = server.nextPendingConnection();
    t.start();
    protocol::LineReader reader(peer);
    QByteArray line, picture;
    double ms = -1;
    if (reader.readLineWait(line, 10000) == protocol::LineReader::Status::Line &&
        protocol::ReadBlock(reader, 64LL * 1024 * 1024, picture, 10000) ==
            protocol::BlockError::None &&
        picture == bmp)
        ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    peer->close();
    sender.join();
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int rounds = 20, width = 1920, height = 1080;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--rounds")
            rounds = std::max(1, args[i + 1].toInt());
        else if (args[i] == u"--width")
            width = std::max(1, args[i + 1].toInt());
        else if (args[i] == u"--height")
            height = std::max(1, args[i + 1].toInt());
    }
    test::XDisplay::Options options;
    options.width = width;
    options.height = height;
    test::XDisplay display(options);
    if (!display.ok()) {
        std::fprintf(stderr, "no display: %s\n", qPrintable(display.error()));
        return 1;
    }
    platform::X11ScreenGrabber grabber(display.display().toLocal8Bit());
    std::vector<double> grab, encode, both;
    QByteArray bmp;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        QString err;
        const auto image = grabber.grab(&err);
        const qint64 g = t.nsecsElapsed();
        if (!image) {
            std::fprintf(stderr, "capture failed: %s\n", qPrintable(err));
            return 1;
        }
        bmp = client::EncodeBmp(*image);
        const qint64 all = t.nsecsElapsed();
        grab.push_back(static_cast<double>(g) / 1e6);
        encode.push_back(static_cast<double>(all - g) / 1e6);
        both.push_back(static_cast<double>(all) / 1e6);
    }
    std::printf("screen %dx%d, %d rounds, bitmap %lld bytes\n", width, height, rounds,
                static_cast<long long>(bmp.size()));
    Print("read in 50x50 squares", Summary(grab));
    Print("bitmap file written", Summary(encode));
    Print("capture and bitmap (target 100)", Summary(both));

    std::vector<double> transfer;
    for (int i = 0; i < std::max(3, rounds / 4); ++i) {
        const double ms = Transfer(bmp);
        if (ms < 0) {
            std::fprintf(stderr, "transfer failed\n");
            return 1;
        }
        transfer.push_back(ms);
    }
    const Figures f = Summary(transfer);
    Print("loopback transfer", f);
    std::printf("loopback transfer: %.0f MB/s at the median\n",
                static_cast<double>(bmp.size()) / 1e6 / (f.median / 1000.0));
    return 0;
}
