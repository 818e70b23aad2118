#include "client/config/NetworkTest.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

namespace tarvina::client::config {

QString StageCaption(TestStage stage) {
    switch (stage) {
    case TestStage::Start:
        return QStringLiteral("Ejecutando prueba... por favor espere");
    case TestStage::Echo:
        return QStringLiteral("Verificando que hay red... por favor espere");
    case TestStage::Port:
        return QStringLiteral("Verificando que hay puerto disponible... por favor espere");
    case TestStage::Server:
        return QStringLiteral("Verificando que hay un programa de caja... por favor espere");
    }
    return {};
}

namespace {

QString NoAnswer(const QString& host) {
    const QString cr = QStringLiteral("\r");
    return QStringLiteral("La dirección '") + host +
           QStringLiteral("' NO responde de la manera esperada.") +
           QStringLiteral(" El comando \"PING ") + host + QStringLiteral("\" no da respuesta. ") +
           QStringLiteral(" Esto se puede deberse probablemente: ") + cr +
           QStringLiteral("   1.- Una falla física de la red (cable suelto, máquina apagada).") +
           cr + QStringLiteral("   2.- Una dirección incorrecta.") + cr +
           QStringLiteral("   3.- Un cortafuego (kerio o zonealarm por ejemplo) con el puerto de "
                          "PING ") +
           QStringLiteral("inhabilitado ") + cr + QStringLiteral("   4.- Una restricción ") +
           QStringLiteral("establecida en la configuración avanzada de TCP/IP.") + cr +
           QStringLiteral("   5.- Algo mal configurado en los archivos de redes. Sugerimos revise "
                          "el archivo \"Host\"");
}

QString EchoButNoServer(const QString& host) {
    const QString cr = QStringLiteral("\r");
    return QStringLiteral("En la dirección '") + host +
           QStringLiteral("' hay al menos un equipo, ") +
           QStringLiteral("pero el programa de caja no responde. Verifique:") + cr +
           QStringLiteral(" 1.- Si el programa de Caja está en ejecución.") + cr +
           QStringLiteral(" 2.- Si usa un cortafuego (u otra restricción).") + cr + cr +
           QStringLiteral("Si tiene alguna restricción es necesario que los puertos ") +
           QStringLiteral("6046 (de cliente a caja) y 6048 (internamente el cliente) estén "
                          "disponibles ") +
           QStringLiteral("al menos para los equipos clientes de ZU.");
}

QString SomeProgram(const QString& host, quint16 port) {
    return QStringLiteral("En la dirección '") + host +
           QStringLiteral("' hay al menos un equipo y hay un programa atendiendo peticiones, pero "
                          "no necesariamente es el programa de Caja. Verifique cuidadosamente qué "
                          "aplicación atiende el puerto ") +
           QString::number(port);
}

QString TheServer(const QString& host) {
    return QStringLiteral("ZU Caja en la dirección '") + host +
           QStringLiteral("'. La dirección es perfectamente utilizable.");
}

} // namespace

QString RunNetworkTest(const QString& typed, platform::Pinger& pinger, const NetworkTestOptions& o,
                       const std::function<void(TestStage)>& progress) {
    const auto stage = [&](TestStage s) {
        if (progress)
            progress(s);
    };
    const QString host = typed.trimmed();
    if (host.isEmpty())
        return QStringLiteral("Escriba o seleccione una dirección o nombre de equipo válido.");
    stage(TestStage::Start);
    QString result = NoAnswer(host);
    try {
        stage(TestStage::Echo);
        const bool echo = pinger.ping(host, o.echoTimeoutMs);
        if (echo)
            result = EchoButNoServer(host);
        // Where echo requests are filtered (or not allowed to this user) the
        // port still tells whether the computer is there.
        stage(TestStage::Port);
        QTcpSocket socket;
        socket.connectToHost(host, o.port);
        if (!socket.waitForConnected(o.connectTimeoutMs))
            return result;
        result = SomeProgram(host, o.port);
        stage(TestStage::Server);
        QByteArray line;
        QDeadlineTimer deadline(o.greetingTimeoutMs);
        while (!line.contains('\n') && line.size() < 256 && !deadline.hasExpired()) {
            if (socket.bytesAvailable() == 0 &&
                !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                break;
            line += socket.read(256 - line.size());
        }
        if (line.startsWith("48"))
            result = TheServer(host);
        socket.abort();
    } catch (...) {
        // The result stays as far as the test got.
    }
    return result;
}

void EnumerateNetworkComputers(QStringList& list, platform::NetworkBrowser& browser,
                               int timeoutMs) {
    list.clear();
    for (const QString& name : browser.computers(timeoutMs)) {
        if (list.size() >= platform::NetworkBrowser::kMaxComputers)
            break;
        const QString n = name.trimmed();
        if (!n.isEmpty() && !list.contains(n, Qt::CaseInsensitive))
            list << n;
    }
}

} // namespace tarvina::client::config
