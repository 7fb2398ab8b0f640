// The serial-to-TCP bridge against real parts: a socat pty pair and TCP peers on 127.0.0.1.
#include "qpipemap.h"
#include "testsupport.h"

#include <QSerialPort>
#include <QtTest>

using namespace TestSupport;

class TestBridge : public QObject
{
    Q_OBJECT

private:
    static void configure(QPipeItem &item, const QString &portNull, int ipport)
    {
        item.setPropertyMap({{"id", 1},
                             {"name", "t"},
                             {"port_work", "COM-WORK"},
                             {"port_null", portNull},
                             {"ipaddr", "127.0.0.1"},
                             {"ipport", ipport}});
    }

    // The user's application: opens the work end of the pair.
    static bool openWork(QSerialPort &port, const PtyPair &pair)
    {
        port.setPortName(pair.workEnd());
        return port.open(QIODevice::ReadWrite);
    }

    static QByteArray pattern(int size, int seed) { return Stream(quint32(seed)).next(size); }

    static QByteArray joined(const QSignalSpy &spy)
    {
        QByteArray all;
        for (const QList<QVariant> &args : spy)
            all += args.at(0).toByteArray();
        return all;
    }

private slots:
    void openStates_data()
    {
        QTest::addColumn<bool>("serialPresent");
        QTest::addColumn<bool>("peerListening");
        QTest::addColumn<int>("state");
        QTest::newRow("both") << true << true << int(QPipeItem::PipeConnect);
        QTest::newRow("serial only") << true << false << int(QPipeItem::SerialConnect);
        QTest::newRow("socket only") << false << true << int(QPipeItem::SocketConnect);
        QTest::newRow("neither") << false << false << int(QPipeItem::NotConnect);
    }

    void openStates()
    {
        QFETCH(bool, serialPresent);
        QFETCH(bool, peerListening);
        QFETCH(int, state);
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        TcpPeer peer;
        QVERIFY(peer.listen());
        QPipeItem item("Pipe");
        configure(item, serialPresent ? pair.nullEnd() : pair.nullEnd() + ".absent",
                  peerListening ? peer.port() : closedPort());
        item.onConnection();
        QCOMPARE(int(item.state()), state);
        item.onDisconnection();
        QCOMPARE(item.state(), QPipeItem::NotConnect);
    }

    void portOutOfRangeNeverConnects_data()
    {
        QTest::addColumn<int>("offset");
        QTest::newRow("above 65535") << 65536;
        QTest::newRow("far above") << 65536 * 3;
    }

    void portOutOfRangeNeverConnects()
    {
        // Cut to 16 bits, the stored port would reach the listening peer: it must not.
        QFETCH(int, offset);
        TcpPeer peer;
        QVERIFY(peer.listen());
        QPipeItem item("Pipe");
        configure(item, "/nonexistent/tty", peer.port() + offset);
        item.onConnection();
        QCOMPARE(item.state(), QPipeItem::NotConnect);
        QTest::qWait(50);
        QCOMPARE(peer.clientCount(), 0);
        QCOMPARE(item.toJson().value("ipport").toInt(), peer.port() + offset);

        for (int bad : {0, -1}) {
            configure(item, "/nonexistent/tty", bad);
            item.onConnection();
            QCOMPARE(item.state(), QPipeItem::NotConnect);
        }
    }

    void bytesBothWays()
    {
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        TcpPeer peer;
        QVERIFY(peer.listen());
        QPipeItem item("Pipe");
        configure(item, pair.nullEnd(), peer.port());
        QSignalSpy fromSerial(&item, &QPipeItem::readSerialBuffer);
        QSignalSpy fromSocket(&item, &QPipeItem::readSocketBuffer);
        QVERIFY(fromSerial.isValid() && fromSocket.isValid());
        item.onConnection();
        QCOMPARE(item.state(), QPipeItem::PipeConnect);
        QTRY_COMPARE(peer.clientCount(), 1);

        QSerialPort work;
        QVERIFY(openWork(work, pair));
        const QByteArray toPeer("\x00\x01hello\r\n\xff", 10);
        work.write(toPeer);
        QTRY_COMPARE(peer.received, toPeer);
        QCOMPARE(joined(fromSerial), toPeer);

        const QByteArray toWork("\xfe reply \x00", 9);
        peer.client()->write(toWork);
        QByteArray atWork;
        QTRY_VERIFY((atWork += work.readAll()).size() >= toWork.size());
        QCOMPARE(atWork, toWork);
        QCOMPARE(joined(fromSocket), toWork);
        item.onDisconnection();
    }

    void serialBlocksAreAtMost128Bytes()
    {
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        TcpPeer peer;
        QVERIFY(peer.listen());
        QPipeItem item("Pipe");
        configure(item, pair.nullEnd(), peer.port());
        QSignalSpy fromSerial(&item, &QPipeItem::readSerialBuffer);
        item.onConnection();
        QSerialPort work;
        QVERIFY(openWork(work, pair));
        const QByteArray data = pattern(5000, 1);
        work.write(data);
        QTRY_COMPARE(peer.received.size(), data.size());
        QCOMPARE(peer.received, data);
        QVERIFY(fromSerial.count() >= 5000 / 128);
        int largest = 0;
        for (const QList<QVariant> &args : fromSerial)
            largest = qMax(largest, int(args.at(0).toByteArray().size()));
        // A burst of 5000 bytes is read in pieces far above a block: the blocks come full.
        QCOMPARE(largest, 128);
        QCOMPARE(joined(fromSerial), data);
    }

    // What the bridge opened, as the device reports it: the COM-NULL side runs at 9600 baud.
    void serialSideRunsAt9600()
    {
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        QPipeItem item("Pipe");
        configure(item, pair.nullEnd(), closedPort());
        QCOMPARE(baudRateInUse(pair.nullEnd()), -1);
        item.onConnection();
        QCOMPARE(item.state(), QPipeItem::SerialConnect);
        QCOMPARE(baudRateInUse(pair.nullEnd()), 9600);
        item.onDisconnection();
    }

    void echoUnderBulkNeverStalls()
    {
        // Everything written at the work end comes back from an echoing peer, in order.
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        TcpPeer peer(true);
        peer.keepReceived = false;
        QVERIFY(peer.listen());
        QPipeItem item("Pipe");
        configure(item, pair.nullEnd(), peer.port());
        item.onConnection();
        QCOMPARE(item.state(), QPipeItem::PipeConnect);
        QSerialPort work;
        QVERIFY(openWork(work, pair));
        const QByteArray data = pattern(256 * 1024, 2);
        work.write(data);
        QByteArray back;
        // A tenth of a second here; the limit leaves room for a loaded machine and the sanitizers.
        QTRY_VERIFY_WITH_TIMEOUT((back += work.readAll()).size() >= data.size(), 10000);
        QCOMPARE(back.size(), data.size());
        QVERIFY(back == data);
    }

    void megabyteBothWaysAtOnce()
    {
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        TcpPeer peer;
        QVERIFY(peer.listen());
        QPipeItem item("Pipe");
        configure(item, pair.nullEnd(), peer.port());
        item.onConnection();
        QCOMPARE(item.state(), QPipeItem::PipeConnect);
        QTRY_COMPARE(peer.clientCount(), 1);
        QSerialPort work;
        QVERIFY(openWork(work, pair));

        const QByteArray up = pattern(1 << 20, 3);
        const QByteArray down = pattern(1 << 20, 4);
        work.write(up);
        peer.client()->write(down);
        QByteArray atWork;
        QTRY_VERIFY_WITH_TIMEOUT(
            (atWork += work.readAll()).size() >= down.size() && peer.received.size() >= up.size(),
            10000);
        QCOMPARE(peer.received.size(), up.size());
        QVERIFY(peer.received == up);
        QCOMPARE(atWork.size(), down.size());
        QVERIFY(atWork == down);
    }

    void disconnectOfNeverOpenedRecord()
    {
        QPipeItem item("Pipe");
        item.onDisconnection();
        QCOMPARE(item.state(), QPipeItem::NotConnect);
        item.onDisconnection();
        QCOMPARE(item.state(), QPipeItem::NotConnect);
    }

    void peerDisconnectLeavesState()
    {
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        TcpPeer peer;
        QVERIFY(peer.listen());
        QPipeItem item("Pipe");
        configure(item, pair.nullEnd(), peer.port());
        item.onConnection();
        QTRY_COMPARE(peer.clientCount(), 1);
        peer.client()->disconnectFromHost();
        QTest::qWait(100);
        QCOMPARE(item.state(), QPipeItem::PipeConnect);

        // a stop and a start bring the bridge back
        item.onDisconnection();
        item.onConnection();
        QCOMPARE(item.state(), QPipeItem::PipeConnect);
        QTRY_COMPARE(peer.clientCount(), 2);
        QSerialPort work;
        QVERIFY(openWork(work, pair));
        work.write("again");
        QTRY_VERIFY(peer.received.endsWith("again"));
    }

    void newParametersStopARunningBridge()
    {
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        TcpPeer peer;
        QVERIFY(peer.listen());
        QPipeItem item("Pipe");
        configure(item, pair.nullEnd(), peer.port());
        item.onConnection();
        QCOMPARE(item.state(), QPipeItem::PipeConnect);
        QTRY_COMPARE(peer.clientCount(), 1);
        QSignalSpy gone(peer.client(), &QTcpSocket::disconnected);

        configure(item, pair.nullEnd(), peer.port());
        QCOMPARE(item.state(), QPipeItem::NotConnect);
        QVERIFY(gone.count() == 1 || gone.wait(3000));
        // the serial side is free again: another program can open it
        QSerialPort other;
        other.setPortName(pair.nullEnd());
        QVERIFY(other.open(QIODevice::ReadWrite));
    }
};

QTEST_GUILESS_MAIN(TestBridge)
#include "tst_bridge.moc"
