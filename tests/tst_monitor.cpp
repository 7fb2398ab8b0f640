// The traffic monitor: its lines for given blocks, its length limit and live relayed traffic.
#include "monitor.h"
#include "qpipemap.h"

#include "guitest.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QSerialPort>
#include <QtTest>

#include <ctime>

using namespace TestSupport;

// Stands in for a connection: the same two signals the monitor is attached to.
class Traffic : public QObject
{
    Q_OBJECT
signals:
    void readSerialBuffer(QByteArray buffer);
    void readSocketBuffer(QByteArray buffer);
};

class TestMonitor : public QObject
{
    Q_OBJECT

private:
    // The lines shown once the blocks received so far have been turned into lines, with their
    // times.
    static QStringList timedLines(Monitor &monitor)
    {
        monitor.showPending();
        const auto *list = monitor.findChild<QListWidget *>("listWidget");
        QStringList all;
        for (int i = 0; i < list->count(); ++i)
            all << list->item(i)->text();
        return all;
    }

    // A line without its time; one that does not start with a time is marked, so that it
    // compares unequal.
    static QString untimed(const QString &line)
    {
        static const QRegularExpression time("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d ");
        return time.match(line).hasMatch() ? line.mid(13) : "(no time) " + line;
    }

    static QStringList lines(Monitor &monitor)
    {
        QStringList all = timedLines(monitor);
        for (QString &line : all)
            line = untimed(line);
        return all;
    }

    static void attach(Traffic &traffic, Monitor &monitor)
    {
        QObject::connect(&traffic, &Traffic::readSerialBuffer, &monitor, &Monitor::onShowSerial);
        QObject::connect(&traffic, &Traffic::readSocketBuffer, &monitor, &Monitor::onShowSocket);
    }

private slots:
    void initTestCase()
    {
#ifndef Q_OS_WIN
        // Local time, not UTC, is what the lines show: the two must differ here, and by more than
        // whole hours.
        qputenv("TZ", "Asia/Kathmandu");
        tzset();
#endif
        GuiTest::watchUnplanned();
    }
    void cleanup() { GuiTest::checkNoUnplanned(); }

    void lineForBlock_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QString>("line");
        const QChar bad(0xfffd);
        QTest::newRow("digits and line feed") << true << QByteArray("12\n") << QString("[VCOM] 0x31 0x32 0x0a 12\n");
        QTest::newRow("single 0xff") << false << QByteArray("\xff") << QString("[TCP] 0xff ") + bad;
        QTest::newRow("invalid sequence inside text")
            << false << QByteArray("a\xc3(") << QString("[TCP] 0x61 0xc3 0x28 a") + bad + "(";
        QTest::newRow("padding and lower case")
            << true << QByteArray("\xab\x0f") << QString("[VCOM] 0xab 0x0f ") + bad + QChar(0x0f);
        QTest::newRow("cyrillic") << false << QByteArray("\xd0\x9f\xd1\x83") << QString("[TCP] 0xd0 0x9f 0xd1 0x83 Пу");
        QTest::newRow("carriage return only") << true << QByteArray("\r") << QString("[VCOM] 0x0d \r");
        QTest::newRow("blank only") << false << QByteArray(" ") << QString("[TCP] 0x20  ");
        QTest::newRow("zero byte keeps the rest")
            << true << QByteArray("a\0b", 3) << QString("[VCOM] 0x61 0x00 0x62 a") + QChar(0) + "b";
        QTest::newRow("empty block") << false << QByteArray() << QString("[TCP] ");
    }

    void lineForBlock()
    {
        QFETCH(bool, serial);
        QFETCH(QByteArray, block);
        QFETCH(QString, line);
        QCOMPARE(Monitor::formatLine(serial ? "[VCOM]" : "[TCP]", block), line);
        Monitor monitor;
        Traffic traffic;
        attach(traffic, monitor);
        if (serial)
            emit traffic.readSerialBuffer(block);
        else
            emit traffic.readSocketBuffer(block);
        QCOMPARE(lines(monitor), QStringList{line});
    }

    void fullSizeBlockIsOneLine()
    {
        QByteArray block;
        for (int i = 0; i < 128; ++i)
            block += char(i);
        Monitor monitor;
        monitor.onShowSocket(block);
        const QStringList shown = lines(monitor);
        QCOMPARE(shown.size(), 1);
        const QString line = shown.first();
        static const QRegularExpression shape("^\\[TCP\\]( 0x[0-9a-f]{2}){128} ");
        QVERIFY2(shape.match(line).hasMatch(), qPrintable(line.left(80)));
        QCOMPARE(line.mid(5, 15), QString(" 0x00 0x01 0x02"));
        QCOMPARE(line.mid(5 + 10 * 5, 5), QString(" 0x0a"));
        QCOMPARE(line.mid(5 + 127 * 5, 6), QString(" 0x7f "));
        QCOMPARE(line.mid(5 + 128 * 5 + 1), QString::fromLatin1(block.constData(), block.size()));
    }

    void serialReadIsCutIntoLines_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<int>>("lineBytes");
        QTest::newRow("one line full") << 128 << QList<int>{128};
        QTest::newRow("one byte over") << 129 << QList<int>{128, 1};
        QTest::newRow("burst") << 300 << QList<int>{128, 128, 44};
    }

    void serialReadIsCutIntoLines()
    {
        QFETCH(int, size);
        QFETCH(QList<int>, lineBytes);
        QByteArray read;
        for (int i = 0; i < size; ++i)
            read += char('a' + i % 26);
        Monitor monitor;
        monitor.onShowSerial(read);
        // TCP reads stay one line each, however long.
        monitor.onShowSocket(read);
        const QStringList shown = lines(monitor);
        QCOMPARE(shown.size(), lineBytes.size() + 1);
        int from = 0;
        for (int i = 0; i < lineBytes.size(); ++i) {
            const QString text = QString::fromLatin1(read.mid(from, lineBytes.at(i)));
            QVERIFY2(shown.at(i).startsWith("[VCOM] 0x") && shown.at(i).endsWith(" " + text), qPrintable(shown.at(i)));
            QCOMPARE(shown.at(i).size(), 6 + 5 * lineBytes.at(i) + 1 + lineBytes.at(i));
            from += lineBytes.at(i);
        }
        QCOMPARE(shown.last().size(), 5 + 6 * size + 1);
    }

    void keepsNewestLinesOfCutReads()
    {
        // 10003 lines in three reads: the oldest three go, from the middle of the first read.
        QByteArray lines128;
        for (int i = 0; i < 10002; ++i)
            lines128 += QByteArray::number(i).leftJustified(128, '.');
        Monitor monitor;
        monitor.onShowSerial(lines128.left(128 * 5000));
        monitor.onShowSerial(lines128.mid(128 * 5000, 128 * 5000));
        monitor.onShowSerial(lines128.mid(128 * 10000) + "tail");
        const QStringList shown = lines(monitor);
        QCOMPARE(shown.size(), 10000);
        QVERIFY2(shown.first().endsWith(" 3" + QString(127, '.')), qPrintable(shown.first().right(20)));
        QVERIFY2(shown.at(9998).endsWith(" 10001" + QString(123, '.')), qPrintable(shown.at(9998).right(20)));
        QCOMPARE(shown.last(), QString("[VCOM] 0x74 0x61 0x69 0x6c tail"));
    }

    // Only what can be in view of a line is drawn: the window must look as the style draws the
    // whole line.
    void drawsAsTheStyle_data()
    {
        QTest::addColumn<int>("scrolledRight");
        QTest::newRow("left end") << 0;
        QTest::newRow("scrolled") << 3000;
    }

    void drawsAsTheStyle()
    {
        // The style's own drawing of a line some 590,000 pixels wide, which this compares with,
        // took 270 s of Wine's 300 before the lines had times; GDI cannot make a bitmap that wide.
#ifdef Q_OS_WIN
        if (underWine())
            QSKIP("under Wine the style's own drawing of a line this wide takes minutes");
#endif
        QFETCH(int, scrolledRight);
        QImage drawn[2];
        for (int plain = 0; plain < 2; ++plain) {
            Monitor monitor;
            auto *list = monitor.findChild<QListWidget *>("listWidget");
            if (plain)
                list->setItemDelegate(new QStyledItemDelegate(list));
            monitor.resize(600, 400);
            monitor.show();
            // The same times in both windows.
            const qint64 at = 1700000000123;
            monitor.onShowBlock(1, QByteArray(9000, 'A'), at);
            monitor.onShowBlock(0, "AT+GMR\r\nsecond line\nthird", at);
            monitor.onShowBlock(1, "reply " + QByteArray(400, 'x') + "\nline two " + QByteArray(300, 'y') + "\n\xd0\x9f\xd1\x83\n", at);
            // taller than the view
            QByteArray rows;
            for (int i = 0; i < 60; ++i)
                rows += "row " + QByteArray::number(i) + ' ' + QByteArray(200, 'r') + '\n';
            monitor.onShowBlock(1, rows, at + 1);
            monitor.showPending();
            list->horizontalScrollBar()->setValue(scrolledRight);
            QCOMPARE(list->horizontalScrollBar()->value(), scrolledRight);
            drawn[plain] = list->grab().toImage();
        }
        QVERIFY(drawn[0] == drawn[1]);
    }

    void oneLinePerSignalInOrder()
    {
        Monitor monitor;
        Traffic traffic;
        attach(traffic, monitor);
        // Two reads from one side that together form one message stay two lines.
        emit traffic.readSerialBuffer("AT");
        emit traffic.readSerialBuffer("\r\n");
        emit traffic.readSocketBuffer("OK");
        QCOMPARE(lines(monitor),
                 (QStringList{"[VCOM] 0x41 0x54 AT", "[VCOM] 0x0d 0x0a \r\n", "[TCP] 0x4f 0x4b OK"}));
    }

    void linesAppearByThemselves()
    {
        Monitor monitor;
        Traffic traffic;
        attach(traffic, monitor);
        auto *list = monitor.findChild<QListWidget *>("listWidget");
        emit traffic.readSerialBuffer("a");
        emit traffic.readSocketBuffer("b");
        QTRY_COMPARE(list->count(), 2);
        QCOMPARE(untimed(list->item(1)->text()), QString("[TCP] 0x62 b"));
    }

    void keepsOnlyNewestLines()
    {
        Monitor monitor;
        for (int i = 0; i < 10000; ++i)
            monitor.onShowSerial(QByteArray::number(i));
        QStringList shown = lines(monitor);
        QCOMPARE(shown.size(), 10000);
        QCOMPARE(shown.first(), QString("[VCOM] 0x30 0"));
        QCOMPARE(shown.last(), QString("[VCOM] 0x39 0x39 0x39 0x39 9999"));

        for (int i = 10000; i < 10007; ++i)
            monitor.onShowSocket(QByteArray::number(i));
        shown = lines(monitor);
        QCOMPARE(shown.size(), 10000);
        QCOMPARE(shown.first(), QString("[VCOM] 0x37 7"));
        QCOMPARE(shown.last(), QString("[TCP] 0x31 0x30 0x30 0x30 0x36 10006"));

        // a burst of more than the limit between two showings: the newest, in order
        for (int i = 0; i < 10500; ++i)
            monitor.onShowSocket("b" + QByteArray::number(i));
        shown = lines(monitor);
        QCOMPARE(shown.size(), 10000);
        QCOMPARE(shown.first(), QString("[TCP] 0x62 0x35 0x30 0x30 b500"));
        QCOMPARE(shown.last(), QString("[TCP] 0x62 0x31 0x30 0x34 0x39 0x39 b10499"));
    }

    void followsNewestLine()
    {
        Monitor monitor;
        monitor.show();
        QScrollBar *bar = monitor.findChild<QListWidget *>("listWidget")->verticalScrollBar();
        for (int i = 0; i < 300; ++i)
            monitor.onShowSerial("line");
        QTRY_VERIFY(bar->maximum() > 0);
        QTRY_COMPARE(bar->value(), bar->maximum());
        // The user looked back; the next block brings the newest line into view again.
        bar->setValue(0);
        monitor.onShowSocket("more");
        QTRY_COMPARE(bar->value(), bar->maximum());
    }

    void linesArriveWhileModal()
    {
        Monitor monitor;
        Traffic traffic;
        attach(traffic, monitor);
        QStringList seen;
        GuiTest::whenModal([&](QWidget *modal) {
            emit traffic.readSocketBuffer("x");
            seen = lines(monitor);
            QTest::mouseClick(modal->findChild<QPushButton *>("pushButton"), Qt::LeftButton);
        });
        QCOMPARE(monitor.exec(), int(QDialog::Accepted));
        QCOMPARE(seen, QStringList{"[TCP] 0x78 x"});
        QVERIFY(!monitor.isVisible());
    }

    void relayedTrafficShowsBothDirections()
    {
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        TcpPeer peer;
        QVERIFY(peer.listen());
        QPipeItem item("Pipe");
        item.setPropertyMap({{"id", 1}, {"name", "m"}, {"port_work", "COM-WORK"}, {"port_null", pair.nullEnd()},
                             {"ipaddr", "127.0.0.1"}, {"ipport", int(peer.port())}});
        item.onConnection();
        QTRY_COMPARE(item.state(), QPipeItem::PipeConnect);
        QTRY_COMPARE(peer.clientCount(), 1);
        QSerialPort work;
        work.setPortName(pair.workEnd());
        QVERIFY(work.open(QIODevice::ReadWrite));

        Monitor monitor;
        connect(&item, &QPipeItem::readSerialBuffer, &monitor, &Monitor::onShowSerial);
        connect(&item, &QPipeItem::readSocketBuffer, &monitor, &Monitor::onShowSocket);
        QSignalSpy up(&item, &QPipeItem::readSerialBuffer);
        QSignalSpy down(&item, &QPipeItem::readSocketBuffer);
        QVERIFY(up.isValid());
        QVERIFY(down.isValid());

        work.write("AT+GMR\r\n");
        QTRY_COMPARE(peer.received, QByteArray("AT+GMR\r\n"));
        peer.client()->write("OK\r\n");
        QByteArray atWork;
        QTRY_VERIFY((atWork += work.readAll()).size() >= 4);
        QCOMPARE(atWork, QByteArray("OK\r\n"));

        // Each message was written at once, and is one block on its way; the answer, close
        // behind the question, may reach the watchers a moment later.
        QCOMPARE(up.count(), 1);
        QTRY_COMPARE(down.count(), 1);
        QCOMPARE(lines(monitor), (QStringList{"[VCOM] 0x41 0x54 0x2b 0x47 0x4d 0x52 0x0d 0x0a AT+GMR\r\n",
                                              "[TCP] 0x4f 0x4b 0x0d 0x0a OK\r\n"}));
        item.onDisconnection();
    }

    // A block's line starts with the local time the relay read it.
    void knownExchangeWithTimes_data()
    {
        QTest::addColumn<QDateTime>("asked");
        QTest::addColumn<int>("answerAfterMs");
        QTest::addColumn<QStringList>("shown");
        const QDate day(2024, 3, 5);
        QTest::newRow("noon") << QDateTime(day, QTime(12, 0, 1, 123)) << 1877
                              << QStringList{"12:00:01.123 [VCOM] 0x31 0x32 0x0a 12\n", "12:00:03.000 [TCP] 0x4f 0x4b OK"};
        QTest::newRow("padded") << QDateTime(day, QTime(9, 5, 3, 7)) << 40
                                << QStringList{"09:05:03.007 [VCOM] 0x31 0x32 0x0a 12\n", "09:05:03.047 [TCP] 0x4f 0x4b OK"};
        QTest::newRow("over midnight") << QDateTime(day, QTime(23, 59, 59, 999)) << 1
                                       << QStringList{"23:59:59.999 [VCOM] 0x31 0x32 0x0a 12\n", "00:00:00.000 [TCP] 0x4f 0x4b OK"};
    }

    void knownExchangeWithTimes()
    {
        QFETCH(QDateTime, asked);
        QFETCH(int, answerAfterMs);
        QFETCH(QStringList, shown);
        Monitor monitor;
        monitor.onShowBlock(0, "12\n", asked.toMSecsSinceEpoch());
        monitor.onShowBlock(1, "OK", asked.toMSecsSinceEpoch() + answerAfterMs);
        QCOMPARE(timedLines(monitor), shown);
    }

    void titleNamesConnection_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("counts");
        QTest::addColumn<QString>("title");
        QTest::newRow("neither") << "" << "" << QString("Монитор");
        QTest::newRow("label") << "1 Meter" << "" << QString("Монитор — 1 Meter");
        QTest::newRow("counts") << "" << "COM 12 / TCP 3" << QString("Монитор — COM 12 / TCP 3");
        QTest::newRow("both") << "1 Meter" << "COM 12 / TCP 3" << QString("Монитор — 1 Meter — COM 12 / TCP 3");
    }

    void titleNamesConnection()
    {
        QFETCH(QString, label);
        QFETCH(QString, counts);
        QFETCH(QString, title);
        Monitor monitor;
        monitor.setCounts("old");
        monitor.setConnection(label);
        monitor.setCounts(counts);
        QCOMPARE(monitor.windowTitle(), title);
    }

    void saveWritesLinesAsShown()
    {
        QTemporaryDir dir;
        const qint64 at = QDateTime(QDate(2024, 3, 5), QTime(8, 1, 2, 345)).toMSecsSinceEpoch();
        Monitor monitor;
        monitor.onShowBlock(0, QByteArray(129, 'a'), at);
        monitor.onShowBlock(1, "\xd0\x9f\xff\n", at + 1000);
        timedLines(monitor);
        // Not shown yet when saving: as good as shown.
        monitor.onShowBlock(1, "z", at + 2000);
        QVERIFY(monitor.saveTo(dir.filePath("saved.txt")));
        QCOMPARE(readFile(dir.filePath("saved.txt")), timedLines(monitor).join('\n').toUtf8() + '\n');
        const QByteArray a128 = QByteArray(" 0x61").repeated(128) + ' ' + QByteArray(128, 'a');
        QCOMPARE(readFile(dir.filePath("saved.txt")),
                 "08:01:02.345 [VCOM]" + a128 + "\n08:01:02.345 [VCOM] 0x61 a\n"
                 "08:01:03.345 [TCP] 0xd0 0x9f 0xff 0x0a \xd0\x9f\xef\xbf\xbd\n\n"
                 "08:01:04.345 [TCP] 0x7a z\n");
    }

    void folderIsRefused_data()
    {
        QTest::addColumn<bool>("save");
        QTest::newRow("save") << true;
        QTest::newRow("file log") << false;
    }

    void folderIsRefused()
    {
        QFETCH(bool, save);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        const QString folder = dir.filePath("folder");
        Monitor monitor;
        monitor.onShowSerial("x");
        GuiTest::Box box;
        GuiTest::answerBox(&box, QMessageBox::Ok);
        QVERIFY(!(save ? monitor.saveTo(folder) : monitor.startFileLog(folder)));
        QVERIFY(box.seen);
        QVERIFY2(box.text.contains(QDir::toNativeSeparators(folder)), qPrintable(box.text));
        QVERIFY(!monitor.findChild<QCheckBox *>("chkFile")->isChecked());
    }

    void pauseFreezesListNotFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        QVERIFY(writeFile(path, "yesterday\n"));
        const qint64 at = QDateTime(QDate(2024, 3, 5), QTime(10, 0, 0, 0)).toMSecsSinceEpoch();
        Monitor monitor;
        QVERIFY(monitor.startFileLog(path));
        QVERIFY(monitor.findChild<QCheckBox *>("chkFile")->isChecked());
        monitor.onShowBlock(0, "a", at);
        QCOMPARE(lines(monitor), QStringList{"[VCOM] 0x61 a"});
        // written out soon, not only when the log stops
        QTRY_COMPARE_WITH_TIMEOUT(readFile(path), QByteArray("yesterday\n10:00:00.000 [VCOM] 0x61 a\n"), 1000);
        auto *pause = monitor.findChild<QPushButton *>("btPause");
        pause->click();
        monitor.onShowBlock(1, "\xd0\x9f\xff", at + 1);
        for (int i = 0; i < 10001; ++i)
            monitor.onShowBlock(0, "c", at + 2);
        QCOMPARE(lines(monitor), QStringList{"[VCOM] 0x61 a"});
        monitor.findChild<QCheckBox *>("chkFile")->click();
        // so large that a log still open would write it at once
        monitor.onShowBlock(1, QByteArray(Monitor::FileLogFlushBytes, 'z'), at + 3);
        QCOMPARE(readFile(path), "yesterday\n10:00:00.000 [VCOM] 0x61 a\n10:00:00.001 [TCP] 0xd0 0x9f 0xff \xd0\x9f\xef\xbf\xbd\n"
                                     + QByteArray("10:00:00.002 [VCOM] 0x63 c\n").repeated(10001));
        // Resumed: what came meanwhile, the newest MaxLines of it.
        pause->click();
        QTRY_COMPARE_WITH_TIMEOUT(monitor.findChild<QListWidget *>("listWidget")->count(), 10000, 1000);
        const QStringList shown = lines(monitor);
        QCOMPARE(shown.size(), 10000);
        QCOMPARE(shown.first(), QString("[VCOM] 0x63 c"));
    }

    void clearEmptiesListAndQueue()
    {
        Monitor monitor;
        monitor.onShowSerial("a");
        QCOMPARE(lines(monitor).size(), 1);
        monitor.onShowSerial("b");
        monitor.findChild<QPushButton *>("btClear")->click();
        QCOMPARE(lines(monitor), QStringList());
        monitor.onShowSocket("c");
        QCOMPARE(lines(monitor), QStringList{"[TCP] 0x63 c"});
    }

    // A busy connection's 10 MiB, both ways: every block in the file, in order, nothing lost; a
    // serial read as its lines of at most 128 bytes.
    void fileLogKeepsEveryBlock()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        const int blocks = 2560;
        const int size = 4096;
        // Printable, so that each block's text is its own bytes, and no line feed inside a line.
        QByteArray data(blocks * size, 0);
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(0x20 + (i * 7 + i / size) % 95);
        for (int b = 0; b < blocks; ++b)
            data.replace(b * size, 8, QByteArray::number(b).rightJustified(8, '0'));
        const qint64 at = QDateTime(QDate(2024, 3, 5), QTime(13, 14, 15, 678)).toMSecsSinceEpoch();
        Monitor monitor;
        QVERIFY(monitor.startFileLog(path));
        for (int b = 0; b < blocks; ++b) {
            monitor.onShowBlock(b % 2, data.mid(b * size, size), at);
            if (b % 100 == 0)
                QCoreApplication::processEvents();
            if (b == blocks / 2)
                monitor.findChild<QPushButton *>("btPause")->click();
        }
        monitor.accept();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray back;
        back.reserve(data.size());
        int lineCount = 0;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine();
            const bool serial = line.startsWith("13:14:15.678 [VCOM] ");
            // time and tag, the hex bytes, a blank, the text, the line feed
            const int head = serial ? 19 : 18;
            const int n = (line.size() - head - 2) / 6;
            QVERIFY2((serial || line.startsWith("13:14:15.678 [TCP] ")) && line.size() == head + 6 * n + 2
                         && n == (serial ? 128 : 4096) && line.endsWith('\n'),
                     line.left(40).constData());
            const QByteArray bytes = QByteArray::fromHex(line.mid(head, 5 * n).replace(" 0x", ""));
            QCOMPARE(bytes.size(), n);
            QCOMPARE(line.mid(head + 5 * n + 1, n), bytes);
            back += bytes;
            ++lineCount;
        }
        QCOMPARE(lineCount, 1280 + 1280 * 32);
        QCOMPARE(back.size(), data.size());
        QVERIFY(back == data);
    }

    void fullDiskStopsFileLog()
    {
#ifdef Q_OS_WIN
        QSKIP("needs /dev/full");
#endif
        Monitor monitor;
        QVERIFY(monitor.startFileLog("/dev/full"));
        GuiTest::Answers answers({QMessageBox::Ok});
        monitor.onShowSocket("x");
        QTRY_COMPARE_WITH_TIMEOUT(answers.boxes.size(), 1, 2000);
        QVERIFY2(answers.boxes.first().text.contains("/dev/full"), qPrintable(answers.boxes.first().text));
        QVERIFY(!monitor.findChild<QCheckBox *>("chkFile")->isChecked());
        // Told once: the file log has stopped. A block this large would be written (and fail,
        // and be told from the event loop) at once.
        monitor.onShowSocket(QByteArray(Monitor::FileLogFlushBytes, 'y'));
        QCoreApplication::processEvents();
        QCOMPARE(answers.boxes.size(), 1);
    }
};

QTEST_MAIN(TestMonitor)
#include "tst_monitor.moc"
