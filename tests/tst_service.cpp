// VantrelVComService as a black box: the built program runs with no display, relays between a
// socat pty pair and TCP peers on 127.0.0.1, takes its commands on its channel, and ends on
// SIGTERM; its own client commands and the window's look at it are run against it.
#include "pipelog.h"
#include "qpipemap.h"
#include "servicechannel.h"
#include "servicewatch.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#ifndef SERVICE_PATH
#error "SERVICE_PATH must name the built VantrelVComService (see tst_service.cmake)"
#endif

using namespace TestSupport;

namespace {

struct Result
{
    int code = -1;
    QString out;
    QString err;
};

// The program with no display and no Qt platform: it must need neither. Its texts as written
// (Russian), whatever language the machine speaks.
QProcessEnvironment bareEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANGUAGE"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    return env;
}

Result runProgram(const QStringList &args)
{
    QProcess p;
    p.setProcessEnvironment(bareEnvironment());
    p.start(QStringLiteral(SERVICE_PATH), args);
    Result r;
    if (!p.waitForFinished(15000)) {
        p.kill();
        p.waitForFinished();
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

bool writeJson(const QString &path, const QJsonArray &pipes)
{
    return writeFile(path, QJsonDocument(pipes).toJson());
}

// A line sent on the channel and the line that answers it. Read as it comes: the socket drops
// what it holds when the service closes it right after its answer.
QJsonObject ask(QLocalSocket &channel, const QByteArray &line)
{
    QByteArray got;
    const auto reading = QObject::connect(&channel, &QLocalSocket::readyRead, [&] { got += channel.readAll(); });
    channel.write(line);
    waitUntil([&] { return got.contains('\n') || channel.state() == QLocalSocket::UnconnectedState; }, 5000);
    QObject::disconnect(reading);
    return QJsonDocument::fromJson(got.left(got.indexOf('\n'))).object();
}

// A service of a folder of its own, running until the object goes.
class Service
{
public:
    explicit Service(const QString &folder)
        : m_folder(folder)
    {
        m_process.setProcessEnvironment(bareEnvironment());
        QObject::connect(&m_process, &QProcess::readyReadStandardError,
                         [this] { m_err += QString::fromUtf8(m_process.readAllStandardError()); });
    }
    // Stopped as the system stops it, so that it takes its socket along.
    ~Service()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    bool start()
    {
        m_process.start(QStringLiteral(SERVICE_PATH), {QStringLiteral("--dir"), m_folder});
        static const QRegularExpression channel(QStringLiteral("канал управления (\\S+)\\n"));
        const bool listening = waitUntil([this] { return channel.match(m_err).hasMatch() || m_process.state() == QProcess::NotRunning; }, 10000);
        m_place = channel.match(m_err).captured(1);
        return listening && !m_place.isEmpty();
    }
    // The log without the time stamps, which each line must have.
    QStringList lines() const
    {
        static const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "));
        QStringList out;
        for (QString line : m_err.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            out << (stamp.match(line).hasMatch() ? line.mid(20) : QStringLiteral("NO TIME: ") + line);
        return out;
    }
    bool logged(const QString &line, int timeoutMs = 5000) const
    {
        return waitUntil([&] { return lines().contains(line); }, timeoutMs);
    }
    // Until the service has both sides of the connection up: bytes that come before it has
    // taken in that its socket is connected are dropped, as for any side that is down.
    bool relaying(int id) const
    {
        return waitUntil([&] {
            QLocalSocket channel;
            channel.connectToServer(m_place);
            const QJsonArray all = ask(channel, "{\"cmd\":\"list\"}\n").value("connections").toArray();
            for (const QJsonValue &c : all) {
                if (c.toObject().value("id").toInt() == id)
                    return c.toObject().value("state").toInt() == 3;
            }
            return false;
        }, 10000);
    }
    Result command(const QStringList &args) const { return runProgram(args + QStringList{QStringLiteral("--dir"), m_folder}); }
    QString place() const { return m_place; }
    QProcess &process() { return m_process; }
    QString log() const { return m_err; }
    // Resident memory from the system's view, in KiB.
    qint64 residentKiB() const
    {
        const QByteArray status = readFile(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
        static const QRegularExpression rss(QStringLiteral("VmRSS:\\s+(\\d+) kB"));
        return rss.match(QString::fromLatin1(status)).captured(1).toLongLong();
    }

private:
    QString m_folder;
    QProcess m_process;
    QString m_err;
    QString m_place;
};

// One connection of the service: a pty pair, and the device it dials.
struct Link
{
    PtyPair pair;
    QTcpServer device;
    WorkPort work;
    std::unique_ptr<QTcpSocket> peer;

    bool setUp()
    {
        return pair.start() && device.listen(QHostAddress::LocalHost);
    }
    bool accept()
    {
        if (!waitUntil([this] { return device.hasPendingConnections(); }, 10000))
            return false;
        peer.reset(device.nextPendingConnection());
        return work.isOpen() || work.openAt(pair.workEnd());
    }
    // A block each way, byte for byte.
    bool relays(quint32 seed, int size = 4096)
    {
        Stream stream(seed);
        const QByteArray up = stream.next(size);
        const QByteArray down = stream.next(size);
        work.got.clear();
        work.write(up);
        peer->write(down);
        const QByteArray atPeer = readAtLeast(*peer, size, 10000);
        waitUntil([&] { return work.got.size() >= size; }, 10000);
        return atPeer == up && work.got == down;
    }
    bool peerClosed()
    {
        return waitUntil([this] { return peer->state() == QAbstractSocket::UnconnectedState; }, 5000);
    }
};

} // namespace

class TestService : public QObject
{
    Q_OBJECT

    // One service for the tests of its channel: a connection that relays.
    QTemporaryDir sharedDir;
    Link shared;
    std::unique_ptr<Service> service;

private slots:
    void initTestCase()
    {
        QVERIFY(shared.setUp());
        QVERIFY(writeJson(sharedDir.filePath("pipes.json"), {pipe(1, shared.pair.nullEnd(), shared.device.serverPort(), "Насос")}));
        service.reset(new Service(sharedDir.path()));
        QVERIFY2(service->start(), qPrintable(service->log()));
        QVERIFY(shared.accept() && service->relaying(1));
        QVERIFY(shared.relays(1));
    }

    void relaysReconnectsAndEndsOnSigterm()
    {
        QTemporaryDir dir;
        Link lane;
        QVERIFY(lane.setUp());
        QVERIFY(writeJson(dir.filePath("pipes.json"), {pipe(1, lane.pair.nullEnd(), lane.device.serverPort(), "Насос")}));
        Service s(dir.path());
        QVERIFY(s.start());
        QVERIFY(lane.accept() && s.relaying(1));
        QVERIFY(lane.relays(2, 256 * 1024));
        // Its lines are the window's, with the date and time before each.
        QVERIFY2(s.logged("1 Насос: " + lane.pair.nullEnd() + " up"), qPrintable(s.log()));
        QVERIFY(!s.log().contains("NO TIME"));

        // The device restarts: gone a moment, then listening on its port again.
        const quint16 port = lane.device.serverPort();
        lane.peer->abort();
        lane.device.close();
        QVERIFY(s.logged(QStringLiteral("1 Насос: 127.0.0.1:%1 down: closed by the peer; next try in 1 s").arg(port)));
        QVERIFY(lane.device.listen(QHostAddress::LocalHost, port));
        QVERIFY(lane.accept() && s.relaying(1));
        QVERIFY(lane.relays(3));

        QElapsedTimer stopping;
        stopping.start();
        s.process().terminate();
        QVERIFY(s.process().waitForFinished(2000));
        QVERIFY2(stopping.elapsed() < 2000, qPrintable(QString::number(stopping.elapsed())));
        QCOMPARE(s.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(s.process().exitCode(), 0);
        QVERIFY(lane.peerClosed());
        QVERIFY2(s.lines().contains("Останов: SIGTERM"), qPrintable(s.log()));
        QVERIFY(!QFileInfo::exists(s.place()));
    }

    void statusStopAndStart()
    {
        QTemporaryDir dir;
        Link lane;
        QVERIFY(lane.setUp());
        const quint16 refused = closedPort();
        QVERIFY(writeJson(dir.filePath("pipes.json"), {pipe(1, lane.pair.nullEnd(), lane.device.serverPort(), "Насос"),
                                                       pipe(2, dir.filePath("gone"), refused, "Счётчик")}));
        Service s(dir.path());
        QVERIFY(s.start());
        QVERIFY(lane.accept() && s.relaying(1));
        QVERIFY(s.logged(QStringLiteral("2 Счётчик: 127.0.0.1:%1 down: refused; next try in 1 s").arg(refused)));

        Result r = s.command({"--status"});
        QCOMPARE(r.code, 0);
        QStringList rows = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows.at(0), "Папка " + QFileInfo(dir.path()).canonicalFilePath() + ": соединений 2");
        QVERIFY2(rows.at(2).startsWith("1   Насос    " + lane.pair.nullEnd()), qPrintable(rows.at(2)));
        QVERIFY2(rows.at(2).endsWith("  работает"), qPrintable(rows.at(2)));
        const QRegularExpression waiting("^2 +Счётчик +" + QRegularExpression::escape(dir.filePath("gone"))
                                         + QStringLiteral(" +127\\.0\\.0\\.1:%1 +client +0 +0 +ждёт \\(COM: not found, "
                                                          "снова через \\d+ с; TCP: refused, снова через \\d+ с\\)$").arg(refused));
        QVERIFY2(waiting.match(rows.at(3)).hasMatch(), qPrintable(rows.at(3)));

        r = s.command({"--stop", "1"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QString("соединение 1 остановлено\n"));
        QVERIFY(lane.peerClosed());
        QVERIFY(s.command({"--status"}).out.split('\n').at(2).endsWith("  остановлено"));
        QCOMPARE(s.command({"--stop", "1"}).out, QString("соединение 1 уже остановлено\n"));
        r = s.command({"--stop", "7"});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.err, QString("Служба отказала: соединения 7 нет\n"));

        QCOMPARE(s.command({"--start", "1"}).code, 0);
        QVERIFY(lane.accept() && s.relaying(1));
        QVERIFY(lane.relays(4));
        QVERIFY(s.lines().contains("По запросу: соединение 1 остановлено"));
    }

    void reloadAppliesTheFile()
    {
        QTemporaryDir dir;
        Link kept, edited, added;
        QVERIFY(kept.setUp() && edited.setUp() && added.setUp());
        // Where 2 dialled before its edit, and where 3 dials: each sees its connection end.
        QTcpServer editedBefore, removed;
        QVERIFY(editedBefore.listen(QHostAddress::LocalHost) && removed.listen(QHostAddress::LocalHost));
        const QString file = dir.filePath("pipes.json");
        QVERIFY(writeJson(file, {pipe(1, kept.pair.nullEnd(), kept.device.serverPort()),
                                 pipe(2, edited.pair.nullEnd(), editedBefore.serverPort()),
                                 pipe(3, dir.filePath("gone"), removed.serverPort())}));
        Service s(dir.path());
        QVERIFY(s.start());
        QVERIFY(kept.accept() && s.relaying(1));
        QVERIFY(waitUntil([&] { return editedBefore.hasPendingConnections() && removed.hasPendingConnections(); }, 10000));
        std::unique_ptr<QTcpSocket> before(editedBefore.nextPendingConnection());
        std::unique_ptr<QTcpSocket> gone(removed.nextPendingConnection());

        // 1 as it was, 2 to another device, 3 gone, 4 new.
        QVERIFY(writeJson(file, {pipe(1, kept.pair.nullEnd(), kept.device.serverPort()),
                                 pipe(2, edited.pair.nullEnd(), edited.device.serverPort()),
                                 pipe(4, added.pair.nullEnd(), added.device.serverPort())}));
        Result r = s.command({"--reload"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, "перечитан " + QFileInfo(file).canonicalFilePath() + ": новых 1, изменённых 1, удалённых 1, без изменений 1\n");
        QVERIFY(waitUntil([&] { return before->state() == QAbstractSocket::UnconnectedState; }, 5000));
        QVERIFY(waitUntil([&] { return gone->state() == QAbstractSocket::UnconnectedState; }, 5000));
        QVERIFY(edited.accept() && s.relaying(2));
        QVERIFY(added.accept() && s.relaying(4));
        QVERIFY(kept.relays(5));
        QVERIFY(edited.relays(6));
        QVERIFY(added.relays(7));
        QCOMPARE(kept.device.hasPendingConnections(), false);
        const QStringList rows = s.command({"--status"}).out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 5);
        QVERIFY(rows.at(4).startsWith("4 "));

        // A file that cannot be read changes nothing.
        QVERIFY(QFile::remove(file));
        r = s.command({"--reload"});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("соединения работают как прежде"), qPrintable(r.err));
        QVERIFY(kept.relays(8));
    }

    void oneServicePerFolder()
    {
        QTemporaryDir dir;
        QVERIFY(writeJson(dir.filePath("pipes.json"), {}));
        // What a service killed outright leaves: its socket, with nobody behind it.
        const QString place = ServiceChannel::placeToListen(ServiceChannel::canonicalFolder(dir.path()));
        {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address = {};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, QFile::encodeName(place).constData(), sizeof address.sun_path);
            QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
            ::close(fd);
        }
        Service first(dir.path());
        QVERIFY2(first.start(), qPrintable(first.log()));
        QCOMPARE(first.place(), place);
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(place).constData(), &st), 0);
        QVERIFY(S_ISSOCK(st.st_mode));
        QCOMPARE(st.st_mode & 07777, mode_t(0660));
        QCOMPARE(st.st_uid, ::geteuid());

        const Result second = runProgram({"--dir", dir.path()});
        QCOMPARE(second.code, 3);
        QVERIFY2(second.err.contains("уже работает: её канал " + place + " отвечает"), qPrintable(second.err));
        QCOMPARE(first.command({"--status"}).code, 0);
    }

    void badInvocations_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const QString free = QDir::tempPath();
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << "Неизвестный параметр «bogus».";
        QTest::newRow("missing folder") << QStringList{"--dir", "/nonexistent/folder"} << 2 << "папки /nonexistent/folder нет";
        QTest::newRow("two commands") << QStringList{"--dir", free, "--status", "--reload"} << 2 << "одна команда за раз, а дано: --status, --reload";
        QTest::newRow("a command twice") << QStringList{"--dir", free, "--stop", "1", "--stop", "2"} << 2 << "одна команда за раз";
        QTest::newRow("no number") << QStringList{"--dir", free, "--start", "x"} << 2 << "целым числом больше 0: x";
        QTest::newRow("zero") << QStringList{"--dir", free, "--stop", "0"} << 2 << "целым числом больше 0: 0";
        QTest::newRow("an argument") << QStringList{"--dir", free, "extra"} << 2 << "лишние аргументы: extra";
        QTest::newRow("no service there") << QStringList{"--dir", free, "--status"} << 1 << "не отвечает: её канал не найден";
    }

    void badInvocations()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, message);
        const Result r = runProgram(args);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QCOMPARE(r.out, QString());
    }

    void refusesWhatItCannotDo_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("error");
        QTest::newRow("not JSON") << QByteArray("{\"cmd\":\n") << "не JSON: незавершённый объект (байт 7)";
        QTest::newRow("an array") << QByteArray("[1,2]\n") << "ожидается объект JSON, например {\"cmd\":\"list\"}";
        QTest::newRow("no cmd") << QByteArray("{\"id\":1}\n") << "нет команды: ожидается \"cmd\" с текстом list, start, stop или reload";
        QTest::newRow("unknown") << QByteArray("{\"cmd\":\"fly\"}\r\n") << "неизвестная команда \"fly\": ожидается list, start, stop или reload";
        QTest::newRow("id as text") << QByteArray("{\"cmd\":\"stop\",\"id\":\"1\"}\n") << "нужен \"id\": номер соединения, целое число больше 0";
        QTest::newRow("id not whole") << QByteArray("{\"cmd\":\"stop\",\"id\":1.5}\n") << "нужен \"id\": номер соединения, целое число больше 0";
        QTest::newRow("id too large") << QByteArray("{\"cmd\":\"stop\",\"id\":4294967297}\n") << "нужен \"id\": номер соединения, целое число больше 0";
        QTest::newRow("no such id") << QByteArray("{\"cmd\":\"start\",\"id\":9}\n") << "соединения 9 нет";
    }

    void refusesWhatItCannotDo()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, error);
        QLocalSocket channel;
        channel.connectToServer(service->place());
        QVERIFY(channel.waitForConnected(2000));
        QCOMPARE(ask(channel, line), QJsonObject({{"error", error}}));
        // The client is refused a request, not the channel.
        const QJsonArray connections = ask(channel, "{\"cmd\":\"list\"}\n").value("connections").toArray();
        QCOMPARE(connections.size(), 1);
        QCOMPARE(connections.at(0).toObject().value("state").toInt(), 3);
        QVERIFY(shared.relays(10));
    }

    void answersAScriptThatClosesItsEnd()
    {
        // As `echo '{"cmd":"list"}' | socat - UNIX-CONNECT:...` does: the line, then the end of
        // its sending side, then it waits for the answer.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(service->place()).constData(), sizeof address.sun_path);
        QVERIFY(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        const QByteArray line = "{\"cmd\":\"stop\",\"id\":5}\n";
        QCOMPARE(::write(fd, line.constData(), size_t(line.size())), ssize_t(line.size()));
        ::shutdown(fd, SHUT_WR);
        pollfd answer = {fd, POLLIN, 0};
        QCOMPARE(::poll(&answer, 1, 5000), 1);
        QByteArray got(200, 0);
        const ssize_t n = ::read(fd, got.data(), size_t(got.size()));
        ::close(fd);
        QCOMPARE(got.left(int(qMax<ssize_t>(n, 0))), QByteArray("{\"error\":\"соединения 5 нет\"}\n"));
    }

    void survivesHostileClients()
    {
        // A line of 1 MiB is passed over and refused; the client may go on.
        QLocalSocket longLine;
        longLine.connectToServer(service->place());
        QVERIFY(longLine.waitForConnected(2000));
        QCOMPARE(ask(longLine, QByteArray(1024 * 1024, 'x') + '\n'), QJsonObject({{"error", "строка длиннее 65536 байт"}}));
        QCOMPARE(ask(longLine, "{\"cmd\":\"list\"}\n").value("ok"), QJsonValue(true));
        longLine.abort();
        // One that never ends its line, long or short, is closed after a while.
        QLocalSocket endless;
        endless.connectToServer(service->place());
        QVERIFY(endless.waitForConnected(2000));
        endless.write(QByteArray(100 * 1024, 'y'));

        // A client that asks without end and never reads the answers: what it makes the service
        // hold is bounded, and so is what the service reads of it.
        QLocalSocket hog;
        // Or the library would read for it, without end.
        hog.setReadBufferSize(4096);
        hog.connectToServer(service->place());
        QVERIFY(hog.waitForConnected(2000));
        qint64 taken = 0;
        connect(&hog, &QLocalSocket::bytesWritten, this, [&taken](qint64 n) { taken += n; });
        const qint64 before = service->residentKiB();
        QByteArray requests;
        for (int i = 0; i < 1024 * 1024 / 16; ++i)
            requests += "{\"cmd\":\"list\"}\n";
        for (int i = 0; i < 8; ++i)
            hog.write(requests);

        // Clients that send nothing hold their places only for a while; the ninth is sent away.
        std::vector<std::unique_ptr<QLocalSocket>> silent;
        for (int i = 0; i < 6; ++i) {
            silent.emplace_back(new QLocalSocket);
            silent.back()->connectToServer(service->place());
            QVERIFY(silent.back()->waitForConnected(2000));
        }
        QLocalSocket ninth;
        ninth.connectToServer(service->place());
        QVERIFY(ninth.waitForConnected(2000));
        // Told at once, unasked.
        QCOMPARE(ask(ninth, QByteArray()), QJsonObject({{"error", "слишком много клиентов сразу: не больше 8"}}));

        QVERIFY(shared.relays(11));
        QVERIFY(waitUntil([&] { return silent.back()->state() == QLocalSocket::UnconnectedState; }, 8000));
        QVERIFY(waitUntil([&] { return endless.state() == QLocalSocket::UnconnectedState; }, 3000));
        // Closed at its deadline, as it got no answers once it held enough unread.
        QVERIFY(waitUntil([&] { return hog.state() == QLocalSocket::UnconnectedState; }, 8000));
        QVERIFY2(taken < 2 * 1024 * 1024, qPrintable(QString::number(taken)));
        QVERIFY2(service->residentKiB() - before < 20 * 1024,
                 qPrintable(QStringLiteral("%1 KiB, then %2 KiB").arg(before).arg(service->residentKiB())));
        QVERIFY(shared.relays(12));
        QCOMPARE(service->command({"--status"}).code, 0);
    }

    void theWindowSeesTheService()
    {
        ServiceWatch watch;
        QSignalSpy lines(&watch, &ServiceWatch::line);
        QSignalSpy answered(&watch, &ServiceWatch::answered);
        QVERIFY(lines.isValid() && answered.isValid());
        watch.ask(sharedDir.path());
        QVERIFY(answered.wait(3000));
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.at(0).at(0).toString(), "Служба VantrelVComService, соединение 1 Насос (" + shared.pair.nullEnd()
                                                   + QStringLiteral(" <-> 127.0.0.1:%1): работает").arg(shared.device.serverPort()));

        // A connection of the window on the port the service holds says who holds it.
        QPipeItem mine(QStringLiteral("Pipe"));
        mine.fromJson(pipe(3, shared.pair.nullEnd(), 1, "Моё"));
        QPipeItem other(QStringLiteral("Pipe"));
        other.fromJson(pipe(4, "/dev/ttyS7", 1, "Другое"));
        PipeLog log;
        log.setPortHolder([&watch](const QString &port) { return watch.holderOf(port); });
        QCOMPARE(log.shownReason(&mine, PipeRelay::SerialSide, "busy"), QString("занят службой VantrelVComService (соединение 1)"));
        QCOMPARE(log.shownReason(&mine, PipeRelay::SocketSide, "refused"), QString("refused"));
        QCOMPARE(log.shownReason(&other, PipeRelay::SerialSide, "busy"), QString("busy"));
    }

    void theWindowBoundsWhatItIsTold_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("lines");
        QJsonArray many;
        for (int i = 1; i <= 50; ++i)
            many.append(QJsonObject{{"id", i}, {"name", QString(2000, QChar(0x42F))}, {"port_null", "COM1"},
                                    {"endpoint", "x"}, {"running", false}});
        QTest::newRow("50 connections, long names")
            << QJsonDocument(QJsonObject{{"ok", true}, {"connections", many}}).toJson(QJsonDocument::Compact) + '\n' << 4;
        // Valid JSON after 2 MiB of blanks: only a client that holds it all would read it.
        QTest::newRow("2 MiB before the answer") << QByteArray(2 * 1024 * 1024, ' ') + QJsonDocument(QJsonObject{{"ok", true}, {"connections", QJsonArray{many.first()}}}).toJson(QJsonDocument::Compact) + '\n' << 0;
        QTest::newRow("not JSON") << QByteArray("hello\n") << 0;
    }

    void theWindowBoundsWhatItIsTold()
    {
        // Whoever listens on the channel's name is heard within bounds.
        QFETCH(QByteArray, answer);
        QFETCH(int, lines);
        QTemporaryDir dir;
        QLocalServer fake;
        QVERIFY(fake.listen(ServiceChannel::placeToListen(ServiceChannel::canonicalFolder(dir.path()))));
        QPointer<QLocalSocket> asker;
        connect(&fake, &QLocalServer::newConnection, this, [&] {
            asker = fake.nextPendingConnection();
            asker->write(answer);
        });
        ServiceWatch watch;
        QSignalSpy told(&watch, &ServiceWatch::line);
        watch.ask(dir.path());
        QVERIFY(waitUntil([&] { return asker && asker->state() == QLocalSocket::UnconnectedState; }, 5000));
        QCOMPARE(told.size(), lines);
        for (const QList<QVariant> &line : qAsConst(told))
            QVERIFY2(line.at(0).toString().size() < 400, qPrintable(line.at(0).toString().left(400)));
    }

    void cleanupTestCase()
    {
        service.reset();
    }
};

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
