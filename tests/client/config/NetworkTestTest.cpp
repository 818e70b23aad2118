#include "client/config/NetworkTest.h"

#include "platform/fake/FakeNetworkBrowser.h"
#include "platform/fake/FakePinger.h"

#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace tarvina;
using namespace tarvina::client::config;

namespace {

// A loopback listener on an ephemeral port that greets every connection
// with `greeting` (nothing when empty), in its own thread.
class Listener {
public:
    explicit Listener(QByteArray greeting) : greeting_(std::move(greeting)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 4);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0)
                    continue;
                const int c = ::accept(fd_, nullptr, nullptr);
                if (c < 0)
                    continue;
                ++accepted_;
                if (!greeting_.isEmpty())
                    (void)!::write(c, greeting_.constData(), greeting_.size());
                ::usleep(200 * 1000);
                ::close(c);
            }
        });
    }
    ~Listener() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    quint16 port() const { return port_; }
    int accepted() const { return accepted_; }

private:
    QByteArray greeting_;
    int fd_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

// A loopback port with nobody listening on it.
quint16 ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

const QString kHost = QStringLiteral("127.0.0.1");

struct TestRun {
    QString result;
    QList<TestStage> stages;
};

TestRun RunTest(const QString& host, bool echo, quint16 port) {
    platform::FakePinger pinger;
    if (echo)
        pinger.answering.insert(host.trimmed());
    NetworkTestOptions o;
    o.port = port;
    TestRun r;
    r.result = RunNetworkTest(host, pinger, o, [&](TestStage s) { r.stages << s; });
    return r;
}

TEST(NetworkTest, EmptyHostAsksForOneAndTestsNothing) {
    const TestRun r = RunTest(QStringLiteral("   "), true, 1);
    EXPECT_EQ(r.result,
              QStringLiteral("Escriba o seleccione una dirección o nombre de equipo válido."));
    EXPECT_TRUE(r.stages.isEmpty());
}

TEST(NetworkTest, NoEchoAndNoPortGivesTheNoAnswerTextWithItsFiveCauses) {
    const TestRun r = RunTest(kHost, false, ClosedPort());
    EXPECT_TRUE(r.result.startsWith(
        QStringLiteral("La dirección '127.0.0.1' NO responde de la manera esperada. El comando "
                       "\"PING 127.0.0.1\" no da respuesta.  Esto se puede deberse probablemente: "
                       "\r   1.- Una falla física")))
        << r.result.toStdString();
    EXPECT_TRUE(r.result.contains(QStringLiteral("con el puerto de PING inhabilitado \r   4.- Una "
                                                 "restricción establecida en la configuración")));
    EXPECT_TRUE(r.result.endsWith(QStringLiteral("Sugerimos revise el archivo \"Host\"")));
    EXPECT_EQ(r.result.count(u'\r'), 5);
}

TEST(NetworkTest, EchoButClosedPortSaysTheCashierProgramDoesNotAnswer) {
    const TestRun r = RunTest(kHost, true, ClosedPort());
    EXPECT_TRUE(r.result.startsWith(QStringLiteral(
        "En la dirección '127.0.0.1' hay al menos un equipo, pero el programa de caja no "
        "responde. Verifique:\r 1.- Si el programa de Caja está en ejecución.\r")));
    EXPECT_TRUE(r.result.contains(QStringLiteral("(u otra restricción).\r\rSi tiene alguna")));
    EXPECT_TRUE(r.result.endsWith(QStringLiteral("al menos para los equipos clientes de ZU.")));
    EXPECT_EQ(r.stages, (QList<TestStage>{TestStage::Start, TestStage::Echo, TestStage::Port}));
}

TEST(NetworkTest, AProgramThatIsNotTheServerIsNamedByItsPort) {
    Listener other("SSH-2.0-OpenSSH\r\n");
    const TestRun r = RunTest(kHost, true, other.port());
    EXPECT_EQ(r.result,
              QStringLiteral("En la dirección '127.0.0.1' hay al menos un equipo y hay un programa "
                             "atendiendo peticiones, pero no necesariamente es el programa de "
                             "Caja. Verifique cuidadosamente qué aplicación atiende el puerto ") +
                  QString::number(other.port()));
    EXPECT_EQ(r.stages, (QList<TestStage>{TestStage::Start, TestStage::Echo, TestStage::Port,
                                          TestStage::Server}));
    // A silent program is not the server either.
    Listener silent("");
    EXPECT_TRUE(
        RunTest(kHost, true, silent.port()).result.contains(QStringLiteral("no necesariamente")));
}

TEST(NetworkTest, TheServersGreetingMakesTheAddressUsable) {
    Listener server("48\r\n01\r\n");
    const TestRun r = RunTest(QStringLiteral(" 127.0.0.1 "), true, server.port());
    EXPECT_EQ(r.result, QStringLiteral("ZU Caja en la dirección '127.0.0.1'. La dirección es "
                                       "perfectamente utilizable."));
    EXPECT_EQ(server.accepted(), 1);
}

TEST(NetworkTest, FilteredEchoStillFindsTheServerByItsPort) {
    Listener server("48\r\n");
    EXPECT_TRUE(RunTest(kHost, false, server.port()).result.startsWith(QStringLiteral("ZU Caja")));
}

TEST(NetworkTest, StageCaptionsAreTheChoosersTexts) {
    EXPECT_EQ(StageCaption(TestStage::Start),
              QStringLiteral("Ejecutando prueba... por favor espere"));
    EXPECT_EQ(StageCaption(TestStage::Echo),
              QStringLiteral("Verificando que hay red... por favor espere"));
    EXPECT_EQ(StageCaption(TestStage::Port),
              QStringLiteral("Verificando que hay puerto disponible... por favor espere"));
    EXPECT_EQ(StageCaption(TestStage::Server),
              QStringLiteral("Verificando que hay un programa de caja... por favor espere"));
}

TEST(NetworkComputers, ListIsClearedTrimmedDeduplicatedAndBounded) {
    platform::FakeNetworkBrowser browser;
    QStringList list{QStringLiteral("stale")};
    QStringList found{QStringLiteral(" 10.0.0.2 "), QStringLiteral("CAJA"), QStringLiteral("caja"),
                      QString(), QStringLiteral("10.0.0.2")};
    for (int i = 0; i < 300; ++i)
        found << QStringLiteral("10.1.%1.%2").arg(i / 200).arg(i % 200);
    browser.setComputers(found);
    EnumerateNetworkComputers(list, browser);
    EXPECT_EQ(list.size(), 250);
    EXPECT_EQ(list.mid(0, 3), (QStringList{QStringLiteral("10.0.0.2"), QStringLiteral("CAJA"),
                                           QStringLiteral("10.1.0.0")}));
    browser.setComputers({});
    EnumerateNetworkComputers(list, browser);
    EXPECT_TRUE(list.isEmpty());
}

} // namespace
