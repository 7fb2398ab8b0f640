#include "testsupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

namespace TestSupport {

QString findTool(const QString &name)
{
    return QStandardPaths::findExecutable(name);
}

PtyPair::PtyPair() = default;

PtyPair::~PtyPair()
{
    stop();
}

bool PtyPair::start(QString *why)
{
    const QString socat = findTool(QStringLiteral("socat"));
    if (socat.isEmpty()) {
        if (why)
            *why = QStringLiteral("socat is not installed: apt-get install socat");
        return false;
    }
    m_socat.setProgram(socat);
    m_socat.setArguments({QStringLiteral("pty,raw,echo=0,link=%1").arg(nullEnd()),
                          QStringLiteral("pty,raw,echo=0,link=%1").arg(workEnd())});
    // Not forwarded: a socat left behind by a test that aborted would hold CTest's output pipe
    // open and keep CTest waiting for the test's time-out.
    m_socat.setStandardOutputFile(QProcess::nullDevice());
    m_socat.setStandardErrorFile(QProcess::nullDevice());
    m_socat.start();
    if (!m_socat.waitForStarted(5000)) {
        if (why)
            *why = QStringLiteral("socat did not start: %1").arg(m_socat.errorString());
        return false;
    }
    // socat makes the links once both terminals exist; poll for them briefly.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000) {
        if (QFileInfo::exists(nullEnd()) && QFileInfo::exists(workEnd()))
            return true;
        if (m_socat.state() != QProcess::Running)
            break;
        QThread::msleep(5);
    }
    if (why)
        *why = QStringLiteral("socat made no pty pair in %1").arg(m_dir.path());
    return false;
}

void PtyPair::stop()
{
    if (m_socat.state() != QProcess::NotRunning) {
        m_socat.terminate();
        if (!m_socat.waitForFinished(3000)) {
            m_socat.kill();
            m_socat.waitForFinished(3000);
        }
    }
}

TcpPeer::TcpPeer(bool echo, QObject *parent)
    : QObject(parent)
    , m_echo(echo)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *s = m_server.nextPendingConnection()) {
            m_clients << s;
            connect(s, &QTcpSocket::readyRead, this, [this, s] {
                const QByteArray data = s->readAll();
                receivedBytes += data.size();
                if (keepReceived)
                    received += data;
                if (m_echo)
                    s->write(data);
                emit dataArrived();
            });
        }
    });
}

bool TcpPeer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace TestSupport
