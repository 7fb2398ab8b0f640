// The connection collection: ids, signals, order, and the file pipes.json.
#include "qpipemap.h"

#include <QtTest>

class TestPipeMap : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QList<QPipeItem *> m_made;

    QPipeItem *record(const QString &name, int ipport = 502)
    {
        auto *item = new QPipeItem("Pipe");
        item->setPropertyMap({{"name", name},
                              {"note", name + " note"},
                              {"port_work", "COM1"},
                              {"port_null", "COM2"},
                              {"ipaddr", "127.0.0.1"},
                              {"ipport", ipport}});
        m_made << item;
        return item;
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }

    static void write(const QString &file, const QByteArray &bytes)
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    static QByteArray read(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Loads bytes as pipes.json and returns the status text sent.
    QString load(QPipeMap &map, const QByteArray &bytes, const QString &name = "pipes.json")
    {
        write(path(name), bytes);
        QSignalSpy status(&map, &QPipeMap::sendStatus);
        map.loadFromFile(path(name));
        if (status.count() != 1)
            return QString("%1 status signals").arg(status.count());
        for (QPipeItem *item : map.getList())
            if (!m_made.contains(item))
                m_made << item;
        return status.at(0).at(0).toString();
    }

private slots:
    void init() { QVERIFY(m_dir.isValid()); }
    void cleanup()
    {
        qDeleteAll(m_made);
        m_made.clear();
    }

    void idsReuseOnlyTheTopOne()
    {
        QPipeMap map(nullptr);
        QCOMPARE(map.addPipe(record("a")), 1);
        QCOMPARE(map.addPipe(record("b")), 2);
        QCOMPARE(map.addPipe(record("c")), 3);
        map.deletePipe(3);
        QCOMPARE(map.addPipe(record("d")), 3);
        map.deletePipe(1);
        QCOMPARE(map.addPipe(record("e")), 4);
        QCOMPARE(map.count(), 3);
        QCOMPARE(map.itemById(4)->getName(), QString("e"));
        QCOMPARE(map.itemById(4)->id(), 4);
        QVERIFY(!map.itemById(1));
        QVERIFY(!map.itemById(-1));
    }

    void idsNeverWrap()
    {
        // A hand-edited file may hold the largest id there is: no id is left after it.
        QPipeMap map(nullptr);
        load(map, "[{\"id\": 2147483647, \"name\": \"last\"}]");
        QCOMPARE(map.nextId(), 0);
        QPipeItem *extra = record("extra");
        QCOMPARE(map.addPipe(extra), 0);
        QCOMPARE(map.count(), 1);
        QCOMPARE(map.itemById(2147483647)->getName(), QString("last"));
        // it keeps the 0 an add map without "id" gave it
        QCOMPARE(extra->id(), 0);
    }

    void signals_()
    {
        QPipeMap map(nullptr);
        QSignalSpy changed(&map, &QPipeMap::changeMap);
        QVERIFY(changed.isValid());
        map.addPipe(record("a"));
        QCOMPARE(changed.count(), 1);
        map.deletePipe(5);
        QCOMPARE(changed.count(), 1);
        QPipeItem *a = map.itemById(1);
        map.deletePipe(1);
        QCOMPARE(changed.count(), 2);
        // a removed record is not destroyed: it may still be running
        QCOMPARE(a->getName(), QString("a"));

        // loading replaces the collection without changeMap
        load(map, "[{\"id\": 4}]");
        QCOMPARE(changed.count(), 2);
        QCOMPARE(map.count(), 1);
    }

    void listIsOrderedById()
    {
        QPipeMap map(nullptr);
        load(map, "[{\"id\": 9, \"name\": \"nine\"}, {\"id\": 2, \"name\": \"two\"}, "
                  "{\"id\": 5, \"name\": \"five\"}]");
        QStringList names;
        for (QPipeItem *item : map.getList())
            names << item->getName();
        QCOMPARE(names, QStringList({"two", "five", "nine"}));
        QCOMPARE(map.addPipe(record("ten")), 10);
    }

    void exactFileBytes()
    {
        QPipeMap empty(nullptr);
        QSignalSpy status(&empty, &QPipeMap::sendStatus);
        empty.saveToFile(path("empty.json"));
        QCOMPARE(read(path("empty.json")), QByteArray("[\n]\n"));
        QCOMPARE(status.takeFirst().at(0).toString(), QString("File pipe collection saved, OK"));

        QPipeMap map(nullptr);
        map.addPipe(record("Котёл", 50200));
        map.addPipe(record("b", 7));
        map.saveToFile(path("two.json"));
        const QByteArray expected =
            "[\n"
            "    {\n"
            "        \"id\": 1,\n"
            "        \"ipaddr\": \"127.0.0.1\",\n"
            "        \"ipport\": 50200,\n"
            "        \"name\": \"Котёл\",\n"
            "        \"note\": \"Котёл note\",\n"
            "        \"port_null\": \"COM2\",\n"
            "        \"port_work\": \"COM1\"\n"
            "    },\n"
            "    {\n"
            "        \"id\": 2,\n"
            "        \"ipaddr\": \"127.0.0.1\",\n"
            "        \"ipport\": 7,\n"
            "        \"name\": \"b\",\n"
            "        \"note\": \"b note\",\n"
            "        \"port_null\": \"COM2\",\n"
            "        \"port_work\": \"COM1\"\n"
            "    }\n"
            "]\n";
        QCOMPARE(read(path("two.json")), expected);
    }

    void aBadValueCostsItsRecordOnly()
    {
        // One record of the file has a baud no line runs at: that key takes the default, the log
        // says which, and everything else, of it and of the others, loads and saves as it was.
        const QByteArray file =
            "[\n"
            "    {\n"
            "        \"baud\": 0,\n"
            "        \"id\": 1,\n"
            "        \"ipaddr\": \"127.0.0.1\",\n"
            "        \"ipport\": 502,\n"
            "        \"name\": \"Котёл\",\n"
            "        \"note\": \"\",\n"
            "        \"parity\": \"even\",\n"
            "        \"port_null\": \"COM2\",\n"
            "        \"port_work\": \"COM1\"\n"
            "    },\n"
            "    {\n"
            "        \"baud\": 19200,\n"
            "        \"id\": 2,\n"
            "        \"ipaddr\": \"0.0.0.0\",\n"
            "        \"ipport\": 4001,\n"
            "        \"mode\": \"server\",\n"
            "        \"name\": \"b\",\n"
            "        \"note\": \"\",\n"
            "        \"port_null\": \"COM4\",\n"
            "        \"port_work\": \"COM3\",\n"
            "        \"rfc2217\": true\n"
            "    }\n"
            "]\n";
        QPipeMap map(nullptr);
        QSignalSpy log(&map, &QPipeMap::sendLog);
        QVERIFY(log.isValid());
        QCOMPARE(load(map, file), QString("File pipe collection loaded, OK"));
        QCOMPARE(log.count(), 1);
        QCOMPARE(log.at(0).at(0).toString(),
                 QString("Connection 1 \"Котёл\": \"baud\" cannot be 0; the default is used"));
        QCOMPARE(map.itemById(2)->mode(), PipeSettings::Server);
        map.saveToFile(path("again.json"));
        QByteArray expected = file;
        expected.replace("        \"baud\": 0,\n", "");
        QCOMPARE(read(path("again.json")), expected);
    }

    void saveThenLoadKeepsEveryValue()
    {
        QPipeMap map(nullptr);
        map.addPipe(record("a", 1));
        map.addPipe(record("b", 65535));
        map.deletePipe(1);
        map.addPipe(record("c", 80));
        map.saveToFile(path("pipes.json"));

        QPipeMap again(nullptr);
        QCOMPARE(load(again, read(path("pipes.json"))), QString("File pipe collection loaded, OK"));
        QCOMPARE(again.count(), map.count());
        for (QPipeItem *item : map.getList()) {
            QPipeItem *loaded = again.itemById(item->id());
            QVERIFY(loaded);
            QCOMPARE(loaded->getPropertyMap(), item->getPropertyMap());
            QCOMPARE(loaded->state(), QPipeItem::NotConnect);
        }
    }

    void loadingQuirks()
    {
        QPipeMap map(nullptr);
        // the same id twice: the second wins
        load(map, "[{\"id\": 1, \"name\": \"first\"}, {\"id\": 1, \"name\": \"second\"}]");
        QCOMPARE(map.count(), 1);
        QCOMPARE(map.itemById(1)->getName(), QString("second"));

        // no id: the record sits under 0, and the next id is still the largest plus one
        load(map, "[{\"name\": \"no id\"}]");
        QCOMPARE(map.itemById(0)->getName(), QString("no id"));
        QCOMPARE(map.addPipe(record("x")), 1);

        // elements that are not objects become empty records under 0
        load(map, "[1, \"text\", null, {\"id\": 3}]");
        QCOMPARE(map.count(), 2);
        QCOMPARE(map.itemById(0)->getName(), QString());

        // no limit on load
        load(map, "[{\"id\":1},{\"id\":2},{\"id\":3},{\"id\":4},{\"id\":5}]");
        QCOMPARE(map.count(), 5);
    }

    void brokenFileIsKept_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("typo") << QByteArray("[{\"id\": 1, \"name\": \"a\",}]");
        QTest::newRow("truncated") << QByteArray("[\n    {\n        \"id\": 1,\n");
        QTest::newRow("object at top") << QByteArray("{\"id\": 1}");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe[", 4);
    }

    void brokenFileIsKept()
    {
        QFETCH(QByteArray, bytes);
        QPipeMap map(nullptr);
        map.addPipe(record("kept"));
        QFile::remove(path("pipes.json.bak"));

        QCOMPARE(load(map, bytes), QString("Error! Pipe collection load"));
        QCOMPARE(read(path("pipes.json.bak")), bytes);
        QVERIFY(QFile::exists(path("pipes.json.bak")));
        // the collection is left as it was
        QCOMPARE(map.count(), 1);
        QCOMPARE(map.itemById(1)->getName(), QString("kept"));

        // a later save replaces the broken file but not its copy
        map.saveToFile(path("pipes.json"));
        QCOMPARE(read(path("pipes.json.bak")), bytes);
    }

    void missingFile()
    {
        QPipeMap map(nullptr);
        QSignalSpy status(&map, &QPipeMap::sendStatus);
        map.loadFromFile(path("nowhere.json"));
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toString(), QString("Error! Pipe collection load"));
        QCOMPARE(map.count(), 0);
        QVERIFY(!QFile::exists(path("nowhere.json.bak")));
    }

    void failedSaveKeepsTheOldFile()
    {
        QPipeMap map(nullptr);
        map.addPipe(record("a"));
        QSignalSpy status(&map, &QPipeMap::sendStatus);
        map.saveToFile(path("no/such/folder/pipes.json"));
        QCOMPARE(status.takeFirst().at(0).toString(), QString("Error! Pipe collection saved"));

        // a file that cannot be replaced (a folder stands in its way) stays as it was
        QVERIFY(QDir(m_dir.path()).mkpath("blocked/pipes.json"));
        map.saveToFile(path("blocked/pipes.json"));
        QCOMPARE(status.takeFirst().at(0).toString(), QString("Error! Pipe collection saved"));
        QVERIFY(QFileInfo(path("blocked/pipes.json")).isDir());
    }

    void relativeNameIsTheCurrentFolder()
    {
        const QString old = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QPipeMap map(nullptr);
        map.addPipe(record("here"));
        map.saveToFile("pipes.json");
        QDir::setCurrent(old);
        QVERIFY(read(path("pipes.json")).contains("\"here\""));
    }
};

QTEST_GUILESS_MAIN(TestPipeMap)
#include "tst_pipemap.moc"
