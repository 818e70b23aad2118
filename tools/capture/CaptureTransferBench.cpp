// capture-transfer-bench: a 1920x1080 screen picture (a BMP file image at 24
// and at 32 bits a pixel) sent by a simulated station as "R12" and its block
// to a running station server over loopback, timed from the first byte
// written to the picture handed to the UI thread (the moment the capture
// window could show it). Beside it, the same bytes through a bare loopback
// TCP connection: the link's own speed on this machine.
//
//   capture-transfer-bench [rounds]   (default 20)
#include "platform/Clock.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/TcpNetwork.h"
#include "protocol/Block.h"
#include "server/shell/ServerCore.h"
#include "simulator/StationSim.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtEndian>
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tarvina;

namespace {

QByteArray ScreenBmp(int w, int h, int bpp) {
    const qint64 stride = ((qint64(w) * bpp + 31) / 32) * 4;
    const quint32 off = 54;
    QByteArray b(off, '\0');
    const auto put32 = [&](int at, quint32 v) { qToLittleEndian(v, b.data() + at); };
    const auto put16 = [&](int at, quint16 v) { qToLittleEndian(v, b.data() + at); };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, static_cast<quint32>(off + stride * h));
    put32(10, off);
    put32(14, 40);
    put32(18, static_cast<quint32>(w));
    put32(22, static_cast<quint32>(h));
    put16(26, 1);
    put16(28, static_cast<quint16>(bpp));
    QByteArray pixels(stride * h, Qt::Uninitialized);
    for (qsizetype i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<char>((i * 7) & 0xFF);
    return b + pixels;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Bytes through a plain loopback connection, reader on its own thread: ms.
double RawLoopbackMs(const QByteArray& bytes) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    const int out = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(out, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    const int in = ::accept(listener, nullptr, nullptr);
    QElapsedTimer t;
    t.start();
    std::thread reader([in, total = bytes.size()] {
        std::vector<char> buf(256 * 1024);
        qint64 got = 0;
        while (got < total) {
            const ssize_t n = ::recv(in, buf.data(), buf.size(), 0);
            if (n <= 0)
                break;
            got += n;
        }
    });
    qint64 sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(out, bytes.constData() + sent, size_t(bytes.size() - sent), 0);
        if (n <= 0)
            break;
        sent += n;
    }
    reader.join();
    const double ms = t.nsecsElapsed() / 1e6;
    ::close(in);
    ::close(out);
    ::close(listener);
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    QTemporaryDir home;
    platform::RealClock clock;
    platform::MemoryRegistry store;
    platform::TcpNetwork network;
    server::ServerCore core(clock, store, network, home.path(), home.path());
    core.setPort(0);
    core.startUp();
    core.firstShow();
    if (!core.server().isListening()) {
        std::fprintf(stderr, "the server does not listen\n");
        return 1;
    }
    sim::StationSim::Config c;
    c.name = "BENCH";
    c.mac = "02-00-00-00-00-01";
    sim::StationSim station(c);
    station.connectTo(QStringLiteral("127.0.0.1"), core.server().serverPort());
    if (!station.waitForLine("0A", 10000)) {
        std::fprintf(stderr, "the station was not bound\n");
        return 1;
    }
    qint64 received = 0;
    QObject::connect(
        &core, &server::ServerCore::screenshotReceived,
        [&received](server::TCompItem*, const QByteArray& image) { received = image.size(); });

    std::printf("screen picture 1920x1080 over loopback, %d rounds (median)\n", rounds);
    for (const int bpp : {24, 32}) {
        const QByteArray bmp = ScreenBmp(1920, 1080, bpp);
        std::vector<double> server, raw;
        for (int i = 0; i < rounds; ++i) {
            received = 0;
            QElapsedTimer t;
            t.start();
            station.sendLine("R12");
            station.sendBlock(bmp);
            if (!sim::StationSim::WaitFor([&] { return received == bmp.size(); }, 30000)) {
                std::fprintf(stderr, "picture %d not received\n", i);
                return 1;
            }
            server.push_back(t.nsecsElapsed() / 1e6);
            raw.push_back(RawLoopbackMs(protocol::EncodeBlock(bmp)));
        }
        const double mb = bmp.size() / (1024.0 * 1024.0);
        const double ms = Median(server), rawMs = Median(raw);
        std::printf("  %d bits: %.1f MiB  to the window %.1f ms (%.0f MiB/s)  bare link %.1f ms "
                    "(%.0f MiB/s)  ratio %.2f\n",
                    bpp, mb, ms, mb / (ms / 1000), rawMs, mb / (rawMs / 1000), rawMs / ms);
    }
    return 0;
}
