// The connection record as data: property map, JSON object and their quirks.
#include "qpipemap.h"

#include <QJsonDocument>
#include <QtTest>

class TestPipeItem : public QObject
{
    Q_OBJECT

private:
    static QJsonObject sample()
    {
        return QJsonObject{{"id", 7},           {"name", "Насос 1"},   {"note", "цех"},
                           {"port_work", "COM5"}, {"port_null", "COM6"}, {"ipaddr", "127.0.0.1"},
                           {"ipport", 50200}};
    }

private slots:
    void freshRecord()
    {
        QPipeItem item("Pipe");
        QCOMPARE(item.id(), -1);
        QCOMPARE(item.state(), QPipeItem::NotConnect);
        QCOMPARE(item.getName(), QString("Pipe"));
        QCOMPARE(item.portWork(), QString());
        QCOMPARE(item.portNull(), QString());
    }

    void jsonRoundTrip()
    {
        QPipeItem item("Pipe");
        item.fromJson(sample());
        QCOMPARE(item.toJson(), sample());
        QCOMPARE(item.getName(), QString("Насос 1"));
        QCOMPARE(item.getIpAddr(), QString("127.0.0.1"));
        QCOMPARE(item.getIpPort(), 50200);
        QCOMPARE(item.portWork(), QString("COM5"));
        QCOMPARE(item.portNull(), QString("COM6"));
        // integers stay integers in the file
        QVERIFY(item.toJson().value("id").isDouble());
        QVERIFY(item.toJson().value("ipport").isDouble());
    }

    void fromJsonOddValues_data()
    {
        QTest::addColumn<QJsonObject>("obj");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("ipport");
        QTest::addColumn<QString>("name");
        QTest::newRow("empty object") << QJsonObject() << 0 << 0 << QString();
        QTest::newRow("fractional port") << QJsonObject{{"id", 3}, {"ipport", 502.5}} << 3 << 0 << QString();
        QTest::newRow("port as text") << QJsonObject{{"id", 3}, {"ipport", "502"}} << 3 << 0 << QString();
        QTest::newRow("id as text") << QJsonObject{{"id", "3"}, {"ipport", 502}} << 0 << 502 << QString();
        QTest::newRow("name as number") << QJsonObject{{"name", 12}} << 0 << 0 << QString();
        QTest::newRow("huge id") << QJsonObject{{"id", 1e30}} << 0 << 0 << QString();
        QTest::newRow("port kept out of range") << QJsonObject{{"ipport", 70000}} << 0 << 70000 << QString();
    }

    void fromJsonOddValues()
    {
        QFETCH(QJsonObject, obj);
        QFETCH(int, id);
        QFETCH(int, ipport);
        QFETCH(QString, name);
        QPipeItem item("Pipe");
        item.fromJson(obj);
        QCOMPARE(item.id(), id);
        QCOMPARE(item.getIpPort(), ipport);
        QCOMPARE(item.getName(), name);
        // what is stored comes back as stored
        QCOMPARE(item.toJson().value("ipport").toInt(), ipport);
        QCOMPARE(item.getNote(), QString());
        QCOMPARE(item.portNull(), QString());
    }

    void propertyMapRoundTrip()
    {
        QPipeItem item("Pipe");
        item.fromJson(sample());
        const QVariantMap map = item.getPropertyMap();
        QCOMPARE(map.size(), 7);
        QCOMPARE(map.value("id").toInt(), 7);
        QCOMPARE(map.value("ipport").toInt(), 50200);
        QCOMPARE(map.value("port_null").toString(), QString("COM6"));

        QPipeItem copy("Pipe");
        copy.setPropertyMap(map);
        QCOMPARE(copy.toJson(), sample());
        QCOMPARE(copy.getPropertyMap(), map);
    }

    void propertyMapWithoutIdOrPorts()
    {
        // The add command passes a map without "id"; an edit may lack the port names.
        QPipeItem item("Pipe");
        item.fromJson(sample());
        item.setPropertyMap({{"name", "Новое"}, {"ipaddr", "10.0.0.1"}, {"ipport", 1}});
        QCOMPARE(item.id(), 0);
        QCOMPARE(item.getName(), QString("Новое"));
        QCOMPARE(item.getNote(), QString());
        QCOMPARE(item.portWork(), QString());
        QCOMPARE(item.portNull(), QString());
        QCOMPARE(item.toJson().value("ipaddr").toString(), QString("10.0.0.1"));
    }

    void modeAndLineKeys_data()
    {
        // What a record reads from its object in the file, and what it writes back.
        QTest::addColumn<QJsonObject>("extra");
        QTest::addColumn<QJsonObject>("written");
        QTest::addColumn<QStringList>("problems");
        QTest::newRow("none: an older file") << QJsonObject() << QJsonObject() << QStringList();
        QTest::newRow("the defaults spelt out are not written")
            << QJsonObject{{"mode", "client"}, {"rfc2217", false}, {"baud", 9600}, {"databits", 8},
                           {"parity", "none"}, {"stopbits", "1"}}
            << QJsonObject() << QStringList();
        const QJsonObject all{{"mode", "server"}, {"rfc2217", true}, {"baud", 4000000},
                              {"databits", 5},      {"parity", "space"}, {"stopbits", "1.5"}};
        QTest::newRow("every key set") << all << all << QStringList();
        QTest::newRow("slowest baud, mark parity")
            << QJsonObject{{"baud", 50}, {"parity", "mark"}, {"stopbits", "2"}}
            << QJsonObject{{"baud", 50}, {"parity", "mark"}, {"stopbits", "2"}} << QStringList();
        QTest::newRow("bad values cost their keys only")
            << QJsonObject{{"mode", "listen"}, {"rfc2217", "yes"}, {"baud", 4000001}, {"databits", 9},
                           {"parity", "EVEN"}, {"stopbits", 2}, {"note", "цех"}}
            << QJsonObject()
            << QStringList{"Соединение 7 «Насос 1»: «mode» не может быть \"listen\"; взято значение по умолчанию",
                           "Соединение 7 «Насос 1»: «rfc2217» не может быть \"yes\"; взято значение по умолчанию",
                           "Соединение 7 «Насос 1»: «baud» не может быть 4000001; взято значение по умолчанию",
                           "Соединение 7 «Насос 1»: «databits» не может быть 9; взято значение по умолчанию",
                           "Соединение 7 «Насос 1»: «parity» не может быть \"EVEN\"; взято значение по умолчанию",
                           "Соединение 7 «Насос 1»: «stopbits» не может быть 2; взято значение по умолчанию"};
        QTest::newRow("a baud with a fraction, and one kept")
            << QJsonObject{{"baud", 9600.5}, {"databits", 7}} << QJsonObject{{"databits", 7}}
            << QStringList{"Соединение 7 «Насос 1»: «baud» не может быть 9600.5; взято значение по умолчанию"};
        QTest::newRow("a baud beyond every integer")
            << QJsonObject{{"baud", 1e300}} << QJsonObject()
            << QStringList{"Соединение 7 «Насос 1»: «baud» не может быть 1e+300; взято значение по умолчанию"};
        // Texts and the port read as older versions read them, and each is told.
        QTest::newRow("texts and port of other types")
            << QJsonObject{{"name", 12}, {"note", QJsonValue()}, {"port_work", 7}, {"port_null", true},
                           {"ipaddr", QJsonArray{"127.0.0.1"}}, {"ipport", "502"}}
            << QJsonObject{{"name", ""}, {"note", ""}, {"port_work", "7"}, {"port_null", "true"}, {"ipaddr", ""}, {"ipport", 0}}
            << QStringList{"Соединение 7 «»: «name» не может быть 12; взято \"\"",
                           "Соединение 7 «»: «note» не может быть null; взято \"\"",
                           "Соединение 7 «»: «port_work» не может быть 7; взято \"7\"",
                           "Соединение 7 «»: «port_null» не может быть true; взято \"true\"",
                           "Соединение 7 «»: «ipaddr» не может быть [\"127.0.0.1\"]; взято \"\"",
                           "Соединение 7 «»: «ipport» не может быть \"502\"; взято 0"};
        QTest::newRow("a port out of range is kept")
            << QJsonObject{{"ipport", 65536}} << QJsonObject{{"ipport", 65536}}
            << QStringList{"Соединение 7 «Насос 1»: «ipport» не может быть 65536: TCP-порт — от 1 до 65535"};
        QTest::newRow("port 0") << QJsonObject{{"ipport", 0}} << QJsonObject{{"ipport", 0}}
                                << QStringList{"Соединение 7 «Насос 1»: «ipport» не может быть 0: TCP-порт — от 1 до 65535"};
        QTest::newRow("allow: an address and two networks")
            << QJsonObject{{"allow", QJsonArray{"192.0.2.7", "198.51.100.0/24", "2001:db8::/32"}}}
            << QJsonObject{{"allow", QJsonArray{"192.0.2.7", "198.51.100.0/24", "2001:db8::/32"}}} << QStringList();
        // A list with a typo is kept whole: read as empty, it would let any peer in.
        QTest::newRow("allow: entries that are no address")
            << QJsonObject{{"allow", QJsonArray{"192.0.2.7", true, "192.0.2.300"}}}
            << QJsonObject{{"allow", QJsonArray{"192.0.2.7", "true", "192.0.2.300"}}}
            << QStringList{"Соединение 7 «Насос 1»: «allow» не может содержать \"true\": 2 из 3 записей — не адрес "
                           "и не сеть"};
        QTest::newRow("allow: one text, no array")
            << QJsonObject{{"allow", "192.0.2.7"}} << QJsonObject{{"allow", QJsonArray{"192.0.2.7"}}}
            << QStringList{"Соединение 7 «Насос 1»: «allow» не может быть \"192.0.2.7\"; прочитано как список из этой "
                           "одной записи"};
        // A megabyte of a value is cut short in the line.
        QTest::newRow("a long mode") << QJsonObject{{"mode", QString(1 << 20, 'm')}} << QJsonObject()
                                     << QStringList{"Соединение 7 «Насос 1»: «mode» не может быть \"" + QString(60, 'm') +
                                                    "...; взято значение по умолчанию"};
    }

    void modeAndLineKeys()
    {
        QFETCH(QJsonObject, extra);
        QFETCH(QJsonObject, written);
        QFETCH(QStringList, problems);
        QJsonObject obj = sample();
        for (auto it = extra.begin(); it != extra.end(); ++it)
            obj.insert(it.key(), it.value());
        QPipeItem item("Pipe");
        item.fromJson(obj);
        QCOMPARE(item.loadProblems(), problems);
        QJsonObject expected = sample();
        if (extra.contains("note"))
            expected.insert("note", extra.value("note"));
        for (auto it = written.begin(); it != written.end(); ++it)
            expected.insert(it.key(), it.value());
        QCOMPARE(item.toJson(), expected);

        // The property map carries the same, and a record given it writes the same.
        QPipeItem copy("Pipe");
        copy.setPropertyMap(item.getPropertyMap());
        QCOMPARE(copy.toJson(), expected);
    }
};

QTEST_GUILESS_MAIN(TestPipeItem)
#include "tst_pipeitem.moc"
