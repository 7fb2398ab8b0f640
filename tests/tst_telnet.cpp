// The Telnet layer towards an RFC 2217 converter, byte for byte. Rows are hex with spaces; a '|'
// cuts the input into the chunks the network would hand over one read at a time.
#include "telnetfilter.h"

#include <QtTest>

namespace {

// What start() sends, and the line commands for the default settings (9600, 8, none, 1).
const char *const kOpening = "fffb2c fffb00 fffd00 fffb03 fffd03";
const char *const kDefaultLine = "fffa2c0100002580fff0 fffa2c0208fff0 fffa2c0301fff0 fffa2c0401fff0";

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Feeds the chunks to a filter; returns the data, the answers in *reply.
QByteArray feed(TelnetFilter &filter, const QByteArray &input, QByteArray *reply)
{
    QByteArray data;
    for (const QByteArray &chunk : input.split('|'))
        filter.fromNetwork(QByteArray::fromHex(chunk), &data, reply);
    return data;
}

} // namespace

Q_DECLARE_METATYPE(Vcom::Parity)
Q_DECLARE_METATYPE(Vcom::StopBits)

class TestTelnet : public QObject
{
    Q_OBJECT

private slots:
    // Data both ways, and what is stripped from it on the way in.
    void data_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("plain") << hex("00 41 fe") << hex("00 41 fe") << QByteArray("00 41|fe");
        QTest::newRow("0xFF doubled") << hex("ff 00 ff") << hex("ff ff 00 ff ff") << QByteArray("ff ff 00 ff ff");
        QTest::newRow("commands stripped") << hex("41 42") << QByteArray()
            << QByteArray("41 fff1 fff2 fff3 fff4 fff5 fff6 fff7 fff8 fff9 fff0 fffa 18 01 ff ff 02 fff0 42");
        QTest::newRow("lone IAC ends a chunk") << hex("41 ff 42 43") << QByteArray() << QByteArray("41 ff|ff 42|ff|f1 43");
        QTest::newRow("subnegotiation cut") << hex("41 42") << QByteArray()
                                            << QByteArray("41 fffa 2c|6b 30 ff|f0 42|ff|fa 2c 6a|00fff0");
        QTest::newRow("unended subnegotiation") << hex("41 42") << QByteArray() << QByteArray("41 fffa 2c 6b 30 fffe18 42");
    }
    void data()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, wire);
        QFETCH(QByteArray, input);
        if (!wire.isEmpty()) {
            const QByteArray out = TelnetFilter::toNetwork(data);
            QCOMPARE(out, wire);
            if (data == wire)
                QCOMPARE(out.constData(), data.constData()); // shared, not copied
        }
        TelnetFilter filter;
        filter.start();
        QByteArray reply;
        QCOMPARE(feed(filter, input, &reply), data);
        QCOMPARE(reply, QByteArray());
        QVERIFY(filter.takeNotes().isEmpty());
    }

    // Long enough to be taken 16 bytes at a time: runs of one to four 0xFF from even and odd
    // places, and commands between the pairs of a run; the input is cut in two at every place.
    void longData()
    {
        const QByteArray data = hex("00ff01ffff02ffffff0304ffffffff0506ff0708ffff09ffffff0affffffff0b"
                                    "0c0d0eff0f101112131415ffff161718");
        const QByteArray wire = hex("00ffff01ffffffff02ffffffffffff0304ffffffffffffffff0506ffff0708ffffffff09"
                                    "ffffffffffff0affffffffffffffff0b0c0d0effff0f101112131415ffffffff161718");
        const QByteArray input = hex("00ffff01ffffffff02ffffffffffff0304fffffffffff1ffffffff0506ffff0708ffffffff"
                                     "09ffffffffffff0afffffffffffffff1ffff0b0c0d0effff0f101112131415ffffffff161718");
        QCOMPARE(TelnetFilter::toNetwork(data), wire);
        for (int cut = 0; cut <= input.size(); ++cut) {
            TelnetFilter filter;
            QByteArray got;
            QByteArray reply;
            filter.fromNetwork(input.left(cut), &got, &reply);
            filter.fromNetwork(input.mid(cut), &got, &reply);
            QVERIFY2(got == data, qPrintable(QStringLiteral("cut at %1: %2").arg(cut).arg(QString(got.toHex()))));
            QCOMPARE(reply, QByteArray());
        }
    }

    // The converter's commands: what we answer, whether the option stands, what the log is told.
    void answers_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("option"); // agreed, refused or open
        QTest::addColumn<QStringList>("notes");
        QTest::newRow("DO 44, line settings once") << QByteArray("fffd2c|fffd2c") << hex(kDefaultLine) << "agreed" << QStringList();
        QTest::newRow("DONT 44") << QByteArray("fffe2c") << QByteArray() << "refused" << QStringList();
        QTest::newRow("WONT 44") << QByteArray("fffc2c|fffc2c") << QByteArray() << "refused" << QStringList();
        QTest::newRow("WILL 44 answered once") << QByteArray("fffb2c fffb2c") << hex("fffd2c") << "open" << QStringList();
        QTest::newRow("ours confirmed") << QByteArray("fffd00 fffb00 fffd03 fffb03") << QByteArray() << "open" << QStringList();
        QTest::newRow("ours refused") << QByteArray("fffe00 fffc00 fffe03 fffc03") << QByteArray() << "open" << QStringList();
        QTest::newRow("BINARY off and on") << QByteArray("fffd00 fffe00 fffd00 fffb00 fffc00")
                                           << hex("fffc00 fffb00 fffe00") << "open" << QStringList();
        QTest::newRow("others refused once") << QByteArray("fffb01 fffd18|fffb01 fffd18") << hex("fffe01 fffc18") << "open" << QStringList();
        QTest::newRow("others' WONT, DONT") << QByteArray("fffc01 fffe18") << QByteArray() << "open" << QStringList();
        QTest::newRow("pyserial's opening") << QByteArray("fffb01 fffb03 fffd00 fffb2c") << hex("fffe01 fffd2c") << "open" << QStringList();
        QTest::newRow("settings reported") << QByteArray("fffa2c6500004b00fff0 fffa2c6607fff0 fffa2c6703fff0 fffa2c6802fff0")
            << QByteArray() << "open"
            << QStringList{"преобразователь сообщает скорость 19200", "преобразователь сообщает биты данных 7",
                           "преобразователь сообщает чётность чёт", "преобразователь сообщает стоп-биты 2"};
        QTest::newRow("escaped, cut") << QByteArray("fffa2c650001ff|ff00fff0 fffa2c6704ff|f0 fffa2c6803fff0")
            << QByteArray() << "open"
            << QStringList{"преобразователь сообщает скорость 130816", "преобразователь сообщает чётность маркер",
                           "преобразователь сообщает стоп-биты 1.5"};
        QTest::newRow("zero as received") << QByteArray("fffa2c6500000000fff0 fffa2c6700fff0") << QByteArray() << "open"
            << QStringList{"преобразователь сообщает скорость 0", "преобразователь сообщает чётность 0"};
        QTest::newRow("notifications silent") << QByteArray("fffa2c6b30fff0 fffa2c6a60fff0 fffa2c0101fff0")
                                              << QByteArray() << "open" << QStringList();
    }
    void answers()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, reply);
        QFETCH(QString, option);
        QFETCH(QStringList, notes);
        TelnetFilter filter;
        filter.start();
        QByteArray answer;
        QCOMPARE(feed(filter, input, &answer), QByteArray());
        QCOMPARE(answer, reply);
        QCOMPARE(filter.comPortAgreed(), option == "agreed");
        QCOMPARE(filter.comPortRefused(), option == "refused");
        QCOMPARE(filter.takeNotes(), notes);
    }

    void lineCommands_data()
    {
        using Vcom::Parity;
        using Vcom::StopBits;
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<Parity>("parity");
        QTest::addColumn<StopBits>("stopBits");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("19200 7 even 2") << 19200 << 7 << Parity::Even << StopBits::Two
            << hex("fffa2c0100004b00fff0 fffa2c0207fff0 fffa2c0303fff0 fffa2c0402fff0");
        QTest::newRow("0xFF in the baud") << 65535 << 8 << Parity::Space << StopBits::OneAndHalf
            << hex("fffa2c010000ffffffff fff0 fffa2c0208fff0 fffa2c0305fff0 fffa2c0403fff0");
        QTest::newRow("odd, mark") << 115200 << 5 << Parity::Odd << StopBits::One
            << hex("fffa2c010001c200fff0 fffa2c0205fff0 fffa2c0302fff0 fffa2c0401fff0");
        QTest::newRow("mark") << 9600 << 8 << Parity::Mark << StopBits::One
            << hex("fffa2c0100002580fff0 fffa2c0208fff0 fffa2c0304fff0 fffa2c0401fff0");
        QTest::newRow("unknown values asked") << 0 << 9 << Parity::None << StopBits::One
            << hex("fffa2c0100000000fff0 fffa2c0200fff0 fffa2c0301fff0 fffa2c0401fff0");
    }
    void lineCommands()
    {
        QFETCH(int, baud);
        QFETCH(int, dataBits);
        QFETCH(Vcom::Parity, parity);
        QFETCH(Vcom::StopBits, stopBits);
        QFETCH(QByteArray, reply);
        TelnetFilter filter(LineSettings{baud, dataBits, parity, stopBits});
        filter.start();
        QByteArray answer;
        feed(filter, "fffd2c", &answer);
        QCOMPARE(answer, reply);
    }

    // Two of us facing each other answer what they must and then fall silent.
    void noAnswerLoop()
    {
        TelnetFilter a, b;
        QByteArray toB = a.start(), toA = b.start();
        int rounds = 0;
        for (; (!toA.isEmpty() || !toB.isEmpty()) && rounds < 10; ++rounds) {
            QByteArray data, nextA, nextB;
            a.fromNetwork(toA, &data, &nextB);
            b.fromNetwork(toB, &data, &nextA);
            toA = nextA;
            toB = nextB;
            QCOMPARE(data, QByteArray());
        }
        QCOMPARE(rounds, 3);
        QVERIFY(a.comPortAgreed() && b.comPortAgreed());
    }

    void startForgets()
    {
        TelnetFilter filter;
        filter.start();
        QByteArray reply;
        feed(filter, "fffd2c fffb01 fffa2c65", &reply);
        QVERIFY(filter.comPortAgreed());
        QCOMPARE(filter.start(), hex(kOpening));
        QVERIFY(!filter.comPortAgreed());
        reply.clear();
        QCOMPARE(feed(filter, "41 fffd2c fffb01", &reply), hex("41"));
        QCOMPARE(reply, hex(kDefaultLine) + hex("fffe01"));
    }
};

QTEST_GUILESS_MAIN(TestTelnet)
#include "tst_telnet.moc"
