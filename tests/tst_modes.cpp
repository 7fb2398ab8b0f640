// The connection modes against real parts: a listening connection with peers that dial in, and
// an RFC 2217 converter that nobody here wrote (pyserial's port manager).
#include "peerlistener.h"
#include "qpipemap.h"
#include "relayrunner.h"
#include "sendledger.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
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

// A peer that dials in, as a converter or a modem in server mode does; with a read buffer of
// that size, it takes that much and then nothing until it is let go.
std::unique_ptr<QTcpSocket> dialIn(quint16 port, qint64 readBuffer = 0)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->setReadBufferSize(readBuffer);
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (!socket->waitForConnected(5000))
        return nullptr;
    return socket;
}

// The count a line of left-out notes tells, or 0.
int leftOut(const QString &line)
{
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("\\(таких строк пропущено: (\\d+)\\)$")).match(line);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

// What an RFC 2217 peer received, as data: the negotiation that opens each connection taken off,
// each doubled 0xFF halved, a 0xFF cut from its double kept for the next read.
class Unescaper
{
public:
    QByteArray take(const QByteArray &wire)
    {
        QByteArray in = m_rest + wire;
        m_rest.clear();
        if (!m_opened) {
            if (in.size() < kOpening.size()) {
                m_rest = in;
                return {};
            }
            if (!in.startsWith(kOpening))
                qWarning("no negotiation first: %s", in.left(16).toHex().constData());
            in.remove(0, kOpening.size());
            m_opened = true;
        }
        QByteArray data;
        for (int i = 0; i < in.size(); ++i) {
            data += in.at(i);
            if (in.at(i) != '\xff')
                continue;
            if (i + 1 == in.size()) {
                data.chop(1);
                m_rest = in.right(1);
            } else {
                ++i;
            }
        }
        return data;
    }

private:
    const QByteArray kOpening = QByteArray::fromHex("fffb2cfffb00fffd00fffb03fffd03");
    QByteArray m_rest;
    bool m_opened = false;
};

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
        QVERIFY2(notes.at(0).at(0).toString().startsWith("удалённая сторона TCP 127.0.0.1:"), qPrintable(notes.at(0).at(0).toString()));
        QVERIFY(notes.at(0).at(0).toString().endsWith(" заменена новым подключением"));
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
        const QString where = QStringLiteral("127.0.0.1:%1 (сервер)").arg(port);
        QCOMPARE(socketReports().size(), 1);
        QVERIFY2(socketReports().at(0).startsWith("down " + where + " ждать подключений нельзя: "), qPrintable(socketReports().at(0)));
        QVERIFY(socketReports().at(0).endsWith(" 1000"));

        squatter.close();
        QTRY_COMPARE_WITH_TIMEOUT(socketReports().size(), 2, 4000);
        QCOMPARE(socketReports().at(1), "down " + where + " ожидание подключения 0");
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
        const QStringList answers{"RFC 2217: преобразователь сообщает скорость 19200",
                                  "RFC 2217: преобразователь сообщает биты данных 7",
                                  "RFC 2217: преобразователь сообщает чётность чёт",
                                  "RFC 2217: преобразователь сообщает стоп-биты 2"};
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
                 QString("RFC 2217: удалённая сторона не отвечает на опцию COM-порта; данные идут, параметры линии не переданы"));
        item.onDisconnection();
    }

    // Who may dial in: addresses and networks as the user wrote them.
    void allowed_data()
    {
        QTest::addColumn<QStringList>("allow");
        QTest::addColumn<QString>("peer");
        QTest::addColumn<bool>("in");
        QTest::newRow("no list") << QStringList() << "203.0.113.9" << true;
        QTest::newRow("blank entries only") << QStringList{"", " "} << "203.0.113.9" << true;
        QTest::newRow("the address") << QStringList{"192.0.2.7"} << "192.0.2.7" << true;
        QTest::newRow("another address") << QStringList{"192.0.2.7"} << "192.0.2.8" << false;
        QTest::newRow("in the network") << QStringList{"198.51.100.0/24"} << "198.51.100.77" << true;
        QTest::newRow("outside the network") << QStringList{"198.51.100.0/24"} << "198.51.101.1" << false;
        QTest::newRow("IPv4 peer of a listener on every address") << QStringList{" 127.0.0.1 "} << "::ffff:127.0.0.1" << true;
        QTest::newRow("in the IPv6 network") << QStringList{"2001:db8::/32"} << "2001:db8:1::5" << true;
        QTest::newRow("outside the IPv6 network") << QStringList{"2001:db8::/32"} << "2001:db9::1" << false;
        QTest::newRow("IPv4 list, IPv6 peer") << QStringList{"0.0.0.0/0"} << "::1" << false;
        QTest::newRow("an entry that is no address") << QStringList{"host.example"} << "192.0.2.7" << false;
        QTest::newRow("bad entries beside a good one") << QStringList{"300.1.1.1", "10.0.0.0/33", "192.0.2.7"} << "192.0.2.7" << true;
        QTest::newRow("bad entries let no one") << QStringList{"300.1.1.1", "10.0.0.0/33", "192.0.2.7"} << "10.0.0.1" << false;
    }

    void allowed()
    {
        QFETCH(QStringList, allow);
        QFETCH(QString, peer);
        QFETCH(bool, in);
        PeerListener listener;
        listener.setAllowed(allow);
        QCOMPARE(listener.allows(QHostAddress(peer)), in);
    }

    // A list of one address, and a thousand connects from another host (127.0.0.2 is one to the
    // program): each is refused at once, the allowed peer is never dropped and its data arrives
    // byte for byte, and the log gets a line and a count.
    void onlyAllowedPeersGetIn()
    {
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        const quint16 port = closedPort();
        QPipeItem item("Pipe");
        configure(item, pair.nullEnd(), port, {{"mode", "server"}, {"allow", QStringList{"127.0.0.1"}}});
        QSignalSpy notes(&item, &QPipeItem::note);
        QSignalSpy sides(&item, &QPipeItem::sideChanged);
        QVERIFY(notes.isValid() && sides.isValid());
        item.onConnection();
        QTRY_COMPARE(item.state(), QPipeItem::SerialConnect);
        QSerialPort work;
        work.setPortName(pair.workEnd());
        QVERIFY(work.open(QIODevice::ReadWrite));
        auto peer = dialIn(port);
        QVERIFY(peer);
        QTRY_COMPARE(item.state(), QPipeItem::PipeConnect);
        const int lines = notes.count() + sides.count();

        Stream up(11);
        Stream down(12);
        QByteArray sentUp, sentDown, gotUp, gotDown;
        for (int i = 0; i < 1000; ++i) {
            const QString why = dialToBeEnded(QStringLiteral("127.0.0.2"), port, 5000);
            QVERIFY2(why.isEmpty(), qPrintable(QStringLiteral("connect %1: %2").arg(i).arg(why)));
            if (i % 50 == 0) {
                sentUp += up.next(97);
                sentDown += down.next(89);
                work.write(sentUp.right(97));
                peer->write(sentDown.right(89));
            }
            gotUp += peer->readAll();
            gotDown += work.readAll();
        }
        QVERIFY(waitUntil([&] {
            gotUp += peer->readAll();
            gotDown += work.readAll();
            return gotUp.size() >= sentUp.size() && gotDown.size() >= sentDown.size();
        }, 10000));
        QCOMPARE(gotUp, sentUp);
        QCOMPARE(gotDown, sentDown);
        QCOMPARE(peer->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(item.state(), QPipeItem::PipeConnect);

        // The first refusal at once, the rest counted within a few seconds.
        const auto counted = [&] {
            int n = 0;
            for (int k = 0; k < notes.count(); ++k) {
                const QString text = notes.at(k).at(0).toString();
                if (text.contains("127.0.0.2"))
                    n += qMax(1, leftOut(text));
            }
            return n;
        };
        QTRY_COMPARE_WITH_TIMEOUT(counted(), 1000, 12000);
        qInfo("the log grew by %d lines", int(notes.count() + sides.count() - lines));
        QVERIFY2(notes.at(0).at(0).toString().startsWith("подключение 127.0.0.2:"), qPrintable(notes.at(0).at(0).toString()));
        QVERIFY2(notes.count() + sides.count() - lines <= 20, qPrintable(QString::number(notes.count() + sides.count() - lines)));
        item.onDisconnection();
    }

    // A peer that stops taking data and is replaced (a modem that dialled again after a silent
    // drop) loses nothing: what it never took goes to the newcomer, before anything newer.
    void aReplacedPeerLosesNothing_data()
    {
        QTest::addColumn<bool>("rfc2217");
        QTest::newRow("plain") << false;
        QTest::newRow("RFC 2217") << true;
    }

    void aReplacedPeerLosesNothing()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows is not asked how much of what it took the peer has not acknowledged (SysIo::unacknowledged): "
              "only what the socket still holds goes to the newcomer there. And Wine does not always tell a reset.");
#endif
        QFETCH(bool, rfc2217);
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        const quint16 port = closedPort();
        QPipeItem item("Pipe");
        configure(item, pair.nullEnd(), port, {{"mode", "server"}, {"rfc2217", rfc2217}});
        item.onConnection();
        QTRY_COMPARE(item.state(), QPipeItem::SerialConnect);
        QSerialPort work;
        work.setPortName(pair.workEnd());
        QVERIFY(work.open(QIODevice::ReadWrite));
        auto first = dialIn(port, 4096);
        QVERIFY(first);
        QTRY_COMPARE(item.state(), QPipeItem::PipeConnect);
        const qint64 total = 8 << 20;
        Feeder feeder(&work, 5, total);
        QVERIFY2(standsStill([&] { return feeder.taken(); }), "the sender was never held back");

        auto second = dialIn(port, 4096);
        QVERIFY(second);
        // The first takes what reached it before it was reset, then the second the rest.
        Checker check(5);
        Unescaper fromFirst, fromSecond;
        const auto take = [&](QTcpSocket &peer, Unescaper &unescape) {
            const QByteArray wire = peer.readAll();
            check.feed(rfc2217 ? unescape.take(wire) : wire);
        };
        first->setReadBufferSize(0);
        QVERIFY(waitUntil([&] {
            take(*first, fromFirst);
            return first->state() == QAbstractSocket::UnconnectedState && first->bytesAvailable() == 0;
        }, 10000));
        const qint64 tookFirst = check.checked;
        second->setReadBufferSize(0);
        QVERIFY(waitUntil([&] {
            take(*second, fromSecond);
            return check.checked >= total || !check.ok();
        }, 60000));
        qInfo("the first took %lld bytes, the second the other %lld", tookFirst, check.checked - tookFirst);
        QVERIFY2(check.ok(), qPrintable(QString("first wrong byte at %1").arg(check.firstBad())));
        QCOMPARE(check.checked, total);
        QCOMPARE(item.droppedToSocket(), qint64(0));
        item.onDisconnection();
    }

    // A peer that asks for the COM port option and takes it back, over and over, and never reads:
    // each request gets answers several times its size. They count toward the socket's bound, so
    // it is read no faster than it takes them, and what it sends after them arrives once it reads.
    void aPeerThatAsksFasterThanItReadsIsHeldBack()
    {
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        QTcpServer device;
        QVERIFY(device.listen(QHostAddress::LocalHost));
        QPipeItem item("Pipe");
        configure(item, pair.nullEnd(), device.serverPort(), {{"rfc2217", true}});
        item.onConnection();
        QTRY_COMPARE(item.state(), QPipeItem::PipeConnect);
        QTRY_VERIFY(device.hasPendingConnections());
        std::unique_ptr<QTcpSocket> peer(device.nextPendingConnection());
        peer->setReadBufferSize(4096);
        QSerialPort work;
        work.setPortName(pair.workEnd());
        QVERIFY(work.open(QIODevice::ReadWrite));
        const qint64 before = residentKiB();
        const QByteArray toggle = QByteArray::fromHex("fffd2cfffe2c").repeated(4096 / 6);
        const qint64 total = 24 << 20;
        Feeder feeder(peer.get(), [&toggle](int) { return toggle; }, total);
        QVERIFY2(standsStill([&] { return feeder.taken(); }), "the peer was never held back");
        const qint64 growth = residentKiB() - before;
        qInfo("held back after %lld bytes of requests, resident memory grew by %lld KiB", feeder.taken(), growth);
        QVERIFY2(feeder.taken() < total, "the peer was never held back");
        QVERIFY2(growth < 64 * 1024, qPrintable(QString("grew by %1 KiB").arg(growth)));

        // The requests already written go first; the data comes once the answers are taken.
        peer->write("after the requests");
        connect(peer.get(), &QIODevice::readyRead, peer.get(), [&peer] { peer->readAll(); });
        peer->setReadBufferSize(0);
        peer->readAll();
        QCOMPARE(readAtLeast(work, 18, 60000), QByteArray("after the requests"));
        QCOMPARE(item.state(), QPipeItem::PipeConnect);
        item.onDisconnection();
    }

    // A converter that reports its baud rate a million times: the log gets the first report and
    // a count of the others every few seconds, not a million lines; memory stays bounded, and the
    // relay's thread does not swamp the window's with signals.
    void aMillionConverterReportsMakeAFewLines()
    {
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        QTcpServer device;
        QVERIFY(device.listen(QHostAddress::LocalHost));
        auto *item = new QPipeItem("Pipe");
        configure(*item, pair.nullEnd(), device.serverPort(), {{"rfc2217", true}});
        RelayRunner runner;
        const auto cleanup = qScopeGuard([&] {
            runner.stop(item);
            delete item;
        });
        QStringList notes;
        connect(&runner, &RelayRunner::note, this, [&notes](QPipeItem *, const QString &text) { notes << text; });
        // The window's thread, meanwhile: how long it went without its timer.
        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] {
            longestGap = qMax(longestGap, sinceTick.restart());
        });
        runner.start(item);
        QTRY_VERIFY(device.hasPendingConnections());
        std::unique_ptr<QTcpSocket> converter(device.nextPendingConnection());
        connect(converter.get(), &QIODevice::readyRead, converter.get(), [&converter] { converter->readAll(); });
        const qint64 before = residentKiB();
        converter->write(QByteArray::fromHex("fffd2c"));
        const QByteArray report = QByteArray::fromHex("fffa2c6500004b00fff0");
        const qint64 reports = 1000000;
        Feeder feeder(converter.get(), [&report](int n) { return report.repeated(qMax(1, n / report.size())); },
                      reports * report.size());
        sinceTick.start();
        QElapsedTimer feeding;
        feeding.start();
        tick.start(50);
        const auto told = [&notes] {
            int n = 0;
            for (const QString &text : notes)
                n += text.startsWith("RFC 2217: преобразователь сообщает скорость 19200") ? qMax(1, leftOut(text)) : 0;
            return n;
        };
        // Some 5 s in a plain build, 60 s under the sanitizers.
        QTRY_COMPARE_WITH_TIMEOUT(told(), int(reports), 180000);
        tick.stop();
        const qint64 growth = residentKiB() - before;
        qInfo("%d lines; resident memory grew by %lld KiB; the longest the window's thread waited: %lld ms",
              int(notes.size()), growth, longestGap);
        QCOMPARE(notes.first(), QString("RFC 2217: преобразователь сообщает скорость 19200"));
        // The first report, a count at most every 5 s, and the last count.
        QVERIFY2(notes.size() <= 2 + feeding.elapsed() / 5000, qPrintable(notes.join('\n')));
        QVERIFY2(growth < 64 * 1024, qPrintable(QString("grew by %1 KiB").arg(growth)));
    }

    // The socket's record of what its peer may not have: what a newcomer gets. Writes are
    // "d:<hex>" (data) and "o:<count>" (other bytes, as the Telnet answers).
    void ledger_data()
    {
        QTest::addColumn<bool>("escaped");
        QTest::addColumn<QString>("writes");
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("last");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("none taken") << false << "d:414243" << -1 << 3 << QByteArray::fromHex("414243");
        QTest::newRow("partly taken") << false << "d:414243" << -1 << 2 << QByteArray::fromHex("4243");
        QTest::newRow("more than written") << false << "d:4142" << -1 << 100 << QByteArray::fromHex("4142");
        QTest::newRow("answers left out") << false << "d:4142 o:3 d:43" << -1 << 6 << QByteArray::fromHex("414243");
        QTest::newRow("cut in the answers") << false << "d:4142 o:3 d:43" << -1 << 4 << QByteArray::fromHex("43");
        QTest::newRow("answers last") << false << "d:4142 o:3 d:43 o:5" << -1 << 10 << QByteArray::fromHex("4243");
        QTest::newRow("only answers") << false << "o:37 o:37" << -1 << 74 << QByteArray();
        QTest::newRow("escaped, whole") << true << "d:41ff42" << -1 << 4 << QByteArray::fromHex("41ff42");
        QTest::newRow("escaped, pair whole") << true << "d:41ff42" << -1 << 3 << QByteArray::fromHex("ff42");
        QTest::newRow("escaped, pair cut") << true << "d:41ff42" << -1 << 2 << QByteArray::fromHex("ff42");
        QTest::newRow("escaped, after the pair") << true << "d:41ff42" << -1 << 1 << QByteArray::fromHex("42");
        QTest::newRow("forgotten, pair cut") << true << "d:41ff42" << 2 << 10 << QByteArray::fromHex("ff42");
        QTest::newRow("forgotten, with answers") << false << "d:414243 o:2 d:44" << 3 << 10 << QByteArray::fromHex("44");
        QTest::newRow("forgotten in the answers") << true << "d:41 o:4 d:ffff" << 6 << 10 << QByteArray::fromHex("ffff");
    }

    void ledger()
    {
        QFETCH(bool, escaped);
        QFETCH(QString, writes);
        QFETCH(int, kept);
        QFETCH(int, last);
        QFETCH(QByteArray, data);
        SendLedger ledger;
        ledger.reset(escaped);
        for (const QString &write : writes.split(QLatin1Char(' '))) {
            if (write.startsWith("d:"))
                ledger.addData(QByteArray::fromHex(write.mid(2).toLatin1()));
            else
                ledger.addOther(write.mid(2).toInt());
        }
        if (kept >= 0) {
            ledger.keepLast(kept);
            QCOMPARE(ledger.size(), qint64(kept));
        }
        QCOMPARE(ledger.dataOfLast(last).toHex(), data.toHex());
    }
};

QTEST_GUILESS_MAIN(TestModes)
#include "tst_modes.moc"
