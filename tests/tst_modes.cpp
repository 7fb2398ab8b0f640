// The connection modes against real parts: a listening connection with peers that dial in, and
// an RFC 2217 converter that nobody here wrote (pyserial's port manager).
#include "qpipemap.h"
#include "testsupport.h"

#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

using namespace TestSupport;

namespace {

// Every byte value, twice, so that 0xFF stands beside itself and beside others.
QByteArray everyByte()
{
    QByteArray all;
    for (int round = 0; round < 2; ++round)
        for (int b = 0; b < 256; ++b)
            all += char(b);
    return all;
}

// A peer that dials in, as a converter or a modem in server mode does.
std::unique_ptr<QTcpSocket> dialIn(quint16 port)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (!socket->waitForConnected(5000))
        return nullptr;
    return socket;
}

} // namespace

class TestModes : public QObject
{
    Q_OBJECT

private:
    static void configure(QPipeItem &item, const QString &portNull, int ipport, const QVariantMap &extra)
    {
        QVariantMap map{{"id", 1},          {"name", "t"},       {"port_work", "COM-WORK"},
                        {"port_null", portNull}, {"ipaddr", "127.0.0.1"}, {"ipport", ipport}};
        for (auto it = extra.begin(); it != extra.end(); ++it)
            map.insert(it.key(), it.value());
        item.setPropertyMap(map);
    }

    // Sends data one way and checks that exactly it arrives at the other end.
    static bool carries(QIODevice &from, QIODevice &to, const QByteArray &data)
    {
        from.write(data);
        const QByteArray got = readAtLeast(to, data.size(), 10000);
        if (got != data) {
            qWarning("sent %d bytes, got %d: %s", int(data.size()), int(got.size()), got.toHex().left(80).constData());
            return false;
        }
        return true;
    }

private slots:
    void serverTakesEachPeerThatDialsIn()
    {
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        const quint16 port = closedPort();
        QPipeItem item("Pipe");
        configure(item, pair.nullEnd(), port, {{"mode", "server"}});
        QSignalSpy notes(&item, &QPipeItem::note);
        QVERIFY(notes.isValid());
        item.onConnection();
        // Listening with no peer: the port is up, the socket side waits.
        QCOMPARE(item.state(), QPipeItem::SerialConnect);
        QSerialPort work;
        work.setPortName(pair.workEnd());
        QVERIFY(work.open(QIODevice::ReadWrite));

        auto first = dialIn(port);
        QVERIFY(first);
        QTRY_COMPARE(item.state(), QPipeItem::PipeConnect);
        QVERIFY(carries(work, *first, everyByte()));
        QVERIFY(carries(*first, work, everyByte()));

        // A modem that redials after a silent drop: the newcomer replaces its dead self.
        auto second = dialIn(port);
        QVERIFY(second);
        QTRY_VERIFY(first->state() == QAbstractSocket::UnconnectedState || first->waitForDisconnected(100));
        QTRY_COMPARE(notes.count(), 1);
        QVERIFY2(notes.at(0).at(0).toString().startsWith("TCP peer 127.0.0.1:"), qPrintable(notes.at(0).at(0).toString()));
        QVERIFY(notes.at(0).at(0).toString().endsWith(" replaced by a new one"));
        QCOMPARE(item.state(), QPipeItem::PipeConnect);
        QVERIFY(carries(work, *second, "to the second"));
        QVERIFY(carries(*second, work, "from the second"));

        // The peer leaves and comes back: data flows again, nobody acting.
        second->disconnectFromHost();
        QTRY_COMPARE(item.state(), QPipeItem::SerialConnect);
        auto third = dialIn(port);
        QVERIFY(third);
        QTRY_COMPARE(item.state(), QPipeItem::PipeConnect);
        QVERIFY(carries(work, *third, "again"));
        QVERIFY(carries(*third, work, "and back"));

        // Stopped, it listens no more.
        item.onDisconnection();
        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!late.waitForConnected(2000));
    }

    void aPortInUseIsTriedAgain()
    {
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
        const quint16 port = squatter.serverPort();
        QPipeItem item("Pipe");
        configure(item, "/nonexistent/tty", port, {{"mode", "server"}});
        QSignalSpy sides(&item, &QPipeItem::sideChanged);
        QVERIFY(sides.isValid());
        item.onConnection();
        const auto socketReports = [&sides] {
            QStringList texts;
            for (const QList<QVariant> &args : sides) {
                if (args.at(0).toInt() == QPipeItem::SocketSide)
                    texts << QStringLiteral("%1 %2 %3 %4")
                                 .arg(args.at(1).toBool() ? "up" : "down", args.at(2).toString(),
                                      args.at(3).toString())
                                 .arg(args.at(4).toInt());
            }
            return texts;
        };
        const QString where = QStringLiteral("127.0.0.1:%1 (server)").arg(port);
        QCOMPARE(socketReports().size(), 1);
        QVERIFY2(socketReports().at(0).startsWith("down " + where + " cannot listen: "), qPrintable(socketReports().at(0)));
        QVERIFY(socketReports().at(0).endsWith(" 1000"));

        squatter.close();
        QTRY_COMPARE_WITH_TIMEOUT(socketReports().size(), 2, 4000);
        QCOMPARE(socketReports().at(1), "down " + where + " waiting for a peer 0");
        auto peer = dialIn(port);
        QVERIFY(peer);
        QTRY_COMPARE(socketReports().size(), 3);
        QCOMPARE(socketReports().at(2), "up " + where + "  0");
        item.onDisconnection();
    }
};

QTEST_GUILESS_MAIN(TestModes)
#include "tst_modes.moc"
