#pragma once

#include <QByteArrayView>
#include <QString>

class QProcess;

namespace tarvina::sim {

// taquilla writes "Escuchando en el puerto N" to its standard output each
// time its listener is up; with TARVINA_PORT=0 the system chooses N. A test
// or benchmark starts it so and reads the port back, instead of guessing a
// free port that something else may take before taquilla binds it.

// The port of the first such line in output; 0 when there is none (yet).
quint16 PortInOutput(QByteArrayView output);

// Waits for that line on the standard output of a running taquilla. The
// output is looked at, not taken: it stays for failure messages. 0 when the
// program ended or timeoutMs passed first.
quint16 WaitReportedPort(QProcess& taquilla, int timeoutMs);

// The same where taquilla's standard output goes to a file.
quint16 WaitReportedPortInFile(const QString& outputFile, QProcess& taquilla, int timeoutMs);

} // namespace tarvina::sim
