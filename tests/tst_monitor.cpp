// The traffic monitor: its lines for given blocks, its length limit and live relayed traffic.
#include "monitor.h"
#include "qpipemap.h"

#include "guitest.h"
#include "testsupport.h"

#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QSerialPort>
#include <QtTest>

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
    void initTestCase() { GuiTest::watchUnplanned(); }
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
        QCOMPARE(item.state(), QPipeItem::PipeConnect);
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
};

QTEST_MAIN(TestMonitor)
#include "tst_monitor.moc"
