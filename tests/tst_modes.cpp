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
        QTRY_COMPARE(item.state(), QPipeItem::SerialConnect);
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

    void rfc2217ConverterTakesTheLineAndEveryByte()
    {
        Rfc2217Peer converter;
        QString why;
        QVERIFY2(converter.start(&why), qPrintable(why));
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        QPipeItem item("Pipe");
        configure(item, pair.nullEnd(), converter.port(),
                  {{"rfc2217", true}, {"baud", 19200}, {"databits", 7}, {"parity", "even"}, {"stopbits", "2"}});
        QSignalSpy notes(&item, &QPipeItem::note);
        QVERIFY(notes.isValid());
        item.onConnection();
        QTRY_COMPARE(item.state(), QPipeItem::PipeConnect);
        const QString told = "settings baud=19200 databits=7 parity=E stopbits=2";
        QTRY_VERIFY_WITH_TIMEOUT(converter.settings().contains(told), 5000);
        // The converter's answers are told in the log, and nothing else.
        const QStringList answers{"RFC 2217: the converter reports baud 19200",
                                  "RFC 2217: the converter reports data bits 7",
                                  "RFC 2217: the converter reports parity even",
                                  "RFC 2217: the converter reports stop bits 2"};
        QTRY_COMPARE(notes.count(), 4);
        QStringList said;
        for (const QList<QVariant> &args : notes)
            said << args.at(0).toString();
        QCOMPARE(said, answers);

        // Every byte value there and back: escaped to the converter, unescaped from it, and no
        // Telnet command of its own (it sends some) reaches the port.
        QSerialPort work;
        work.setPortName(pair.workEnd());
        QVERIFY(work.open(QIODevice::ReadWrite));
        QVERIFY(carries(work, work, everyByte()));

        // The converter restarts: the settings are given again, without anyone acting.
        const int before = converter.settings().size();
        converter.drop();
        QTRY_COMPARE(item.state(), QPipeItem::SerialConnect);
        QTRY_COMPARE_WITH_TIMEOUT(item.state(), QPipeItem::PipeConnect, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(converter.settings().size() > before, 5000);
        QCOMPARE(converter.settings().last(), told);
        QVERIFY(carries(work, work, everyByte()));
        item.onDisconnection();
    }

    void aPeerWithoutTheOptionStillCarries()
    {
        // A plain TCP device behind a connection set to RFC 2217: it ignores the negotiation,
        // the data flows, and the log says why the line was not set.
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        TcpPeer peer;
        QVERIFY(peer.listen());
        QPipeItem item("Pipe");
        configure(item, pair.nullEnd(), peer.port(), {{"rfc2217", true}});
        QSignalSpy notes(&item, &QPipeItem::note);
        QVERIFY(notes.isValid());
        item.onConnection();
        QTRY_COMPARE(item.state(), QPipeItem::PipeConnect);
        QSerialPort work;
        work.setPortName(pair.workEnd());
        QVERIFY(work.open(QIODevice::ReadWrite));
        QTRY_COMPARE(peer.clientCount(), 1);
        QVERIFY(carries(*peer.client(), work, "plain"));
        QVERIFY(notes.wait(5000));
        QCOMPARE(notes.at(0).at(0).toString(),
                 QString("RFC 2217: the peer does not answer the COM port option; data flows, the line settings are not sent"));
        item.onDisconnection();
    }
};

QTEST_GUILESS_MAIN(TestModes)
#include "tst_modes.moc"
