// The connection collection: ids, signals, order, and the file pipes.json.
#include "qpipemap.h"
#include "testsupport.h"

#include <QtTest>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#endif
#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

namespace {

// Root reads and replaces any file: for a step, this thread puts down (or takes up again) the
// powers an ordinary user lacks. The kernel looks at the thread's own effective set.
void actAsOrdinaryUser(bool ordinary)
{
#ifdef Q_OS_LINUX
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
    if (::syscall(SYS_capget, &header, caps) != 0)
        return;
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
        __user_cap_data_struct &set = caps[cap / 32];
        const quint32 bit = 1u << (cap % 32);
        set.effective = ordinary ? set.effective & ~bit : set.effective | (set.permitted & bit);
    }
    ::syscall(SYS_capset, &header, caps);
#else
    Q_UNUSED(ordinary)
#endif
}

} // namespace

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

        // A record that needs an id then takes the lowest free one.
        load(map, "[{\"id\": 2147483647}, {\"id\": 1}, {\"id\": \"x\", \"name\": \"needs one\"}]");
        QPipeItem *given = map.itemById(2);
        QVERIFY(given);
        QCOMPARE(given->getName(), QString("needs one"));
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
                 QString("Соединение 1 «Котёл»: «baud» не может быть 0; взято значение по умолчанию"));
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

    // Each case keeps every record: in the file, in its copy, or (the ones beyond four) in the
    // file after the loaded ones. A file that cannot be read or copied is never written.
    void fileIsNeverLost_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("loaded");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QString>("after"); // the file after an add (while fewer than 4) and a save
        QTest::addColumn<QString>("why");   // why the save was refused; empty when it went through
        QTest::addColumn<QByteArray>("bak"); // null: no copy

        const QByteArray broken = "[{\"id\": 1, \"name\": \"a\",}]";
        const QString notAList = "pipes.json — не список соединений (object is missing after a comma в байте 24)";
        const QString noCopy = "в нём не список соединений, а сохранить его копию pipes.json.bak не удалось";
        QTest::newRow("unparsable, a folder named pipes.json.bak")
            << "bak folder" << broken << "" << QStringList{notAList + ", а сохранить его копию pipes.json.bak "
                                                           "не удалось (это папка); он не перезаписывается"}
            << "" << noCopy << QByteArray();
        QTest::newRow("a folder named pipes.json")
            << "folder" << QByteArray() << "" << QStringList{"pipes.json оставлен как есть, не прочитан и не записан: это папка"}
            << "" << "на его месте папка" << QByteArray();
        QByteArray large = "[\n" + QByteArray(4 * 1024 * 1024 - 3, ' ') + "]\n";
        QTest::newRow("4 MiB and a byte")
            << "file" << large << ""
            << QStringList{"pipes.json больше 4 МиБ, а список соединений таким не бывает; его копия сохранена как pipes.json.bak"}
            << "1 new" << "" << large;
        QTest::newRow("ids that are no positive whole numbers")
            << "file"
            << QByteArray("[{\"id\": \"1\", \"name\": \"a\"}, {\"id\": null, \"name\": \"b\"}, "
                          "{\"id\": 1.5, \"name\": \"c\"}, {\"id\": 1e12, \"name\": \"d\"}]")
            << "1 a; 2 b; 3 c; 4 d"
            << QStringList{"Запись 1 «a» файла: id \"1\" — не целое число больше 0; ей дан id 1",
                           "Запись 2 «b» файла: id null — не целое число больше 0; ей дан id 2",
                           "Запись 3 «c» файла: id 1.5 — не целое число больше 0; ей дан id 3",
                           "Запись 4 «d» файла: id 1000000000000 — не целое число больше 0; ей дан id 4"}
            << "1 a; 2 b; 3 c; 4 d" << "" << QByteArray();
        QTest::newRow("an id taken, an id missing")
            << "file" << QByteArray("[{\"id\": 2, \"name\": \"a\"}, {\"id\": 2, \"name\": \"b\"}, {\"name\": \"c\"}]")
            << "2 a; 3 b; 4 c"
            << QStringList{"Запись 2 «b» файла: id 2 уже занят записью выше; ей дан id 3",
                           "У записи 3 «c» файла нет id; ей дан id 4"}
            << "2 a; 3 b; 4 c; 5 new" << "" << QByteArray();
        QTest::newRow("6 records")
            << "file"
            << QByteArray("[{\"id\": 1, \"name\": \"a\"}, {\"id\": 2, \"name\": \"b\"}, {\"id\": 3, \"name\": \"c\"}, "
                          "{\"id\": 4, \"name\": \"d\"}, {\"id\": 9, \"name\": \"e\"}, {\"id\": \"x\", \"name\": \"f\"}]")
            << "1 a; 2 b; 3 c; 4 d"
            << QStringList{"Записи файла сверх первых 4 не загружены: 2. Они не запускаются и остаются в файле "
                           "как есть"}
            << "1 a; 2 b; 3 c; 4 d; 9 e; x f" << "" << QByteArray();
#ifdef Q_OS_UNIX
        QTest::newRow("unparsable, another user's pipes.json.bak in a shared folder")
            << "foreign bak" << broken << ""
            << QStringList{notAList + ", а сохранить его копию pipes.json.bak не удалось (Operation not permitted); "
                                      "он не перезаписывается"}
            << "" << noCopy << QByteArray("theirs\n");
        QTest::newRow("mode 0200")
            << "mode 0200" << QByteArray("[{\"id\": 1, \"name\": \"a\"}]") << ""
            << QStringList{"pipes.json не удалось прочитать (Permission denied); он и не записывается, чтобы не пропал"}
            << "" << "его не удалось прочитать, и новый файл на его месте стёр бы его" << QByteArray();
        const QString link = "pipes.json оставлен как есть, не прочитан и не записан: это символьная ссылка";
        QTest::newRow("a link to another's file")
            << "link" << QByteArray("[{\"id\": 1, \"name\": \"victim\"}]") << "" << QStringList{link} << ""
            << "это символьная ссылка, а через ссылки программа не пишет" << QByteArray();
        QTest::newRow("a link planted after the load")
            << "later link" << QByteArray("[{\"id\": 1, \"name\": \"victim\"}]") << ""
            << QStringList{"pipes.json не сохранён: его имя заняли ссылка, папка или другой необычный файл, и программа "
                           "их не трогает"}
            << "" << "это символьная ссылка, а через ссылки программа не пишет" << QByteArray();
        QTest::newRow("a link to /dev/zero")
            << "dev zero" << QByteArray() << "" << QStringList{link} << ""
            << "это символьная ссылка, а через ссылки программа не пишет" << QByteArray();
        QTest::newRow("a FIFO")
            << "fifo" << QByteArray() << "" << QStringList{"pipes.json оставлен как есть, не прочитан и не записан: это не обычный файл"}
            << "" << "это не обычный файл, а канал или устройство" << QByteArray();
#endif
    }

    void fileIsNeverLost()
    {
        QFETCH(QString, setup);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, loaded);
        QFETCH(QStringList, log);
        QFETCH(QString, after);
        QFETCH(QString, why);
        QFETCH(QByteArray, bak);
        TestSupport::ScratchFolder scratch;
        QVERIFY(scratch.isValid());
        const QString victim = scratch.path() + "/victim.json";
        if (setup.endsWith("link"))
            QVERIFY(TestSupport::writeFile(victim, bytes));
        if (setup == "folder")
            QVERIFY(QDir().mkdir("pipes.json"));
        else if (setup == "link")
            QVERIFY(QFile::link(victim, "pipes.json"));
        else if (setup == "dev zero")
            QVERIFY(QFile::link("/dev/zero", "pipes.json"));
        else if (setup != "fifo" && setup != "later link")
            QVERIFY(TestSupport::writeFile("pipes.json", bytes));
        if (setup == "bak folder")
            QVERIFY(QDir().mkdir("pipes.json.bak"));
#ifdef Q_OS_UNIX
        if (setup == "fifo")
            QCOMPARE(::mkfifo("pipes.json", 0600), 0);
        if (setup == "mode 0200")
            QCOMPARE(::chmod("pipes.json", 0200), 0);
        // A folder like /tmp: everyone's, sticky, so that only its owner replaces a file there.
        if (setup == "foreign bak") {
            QVERIFY(TestSupport::writeFile("pipes.json.bak", bak));
            if (::chown("pipes.json.bak", 65534, 65534) != 0 || ::chown(".", 65534, 65534) != 0)
                QSKIP("making another user's file takes root");
            QCOMPARE(::chmod(".", 01777), 0);
        }
        // Should a read wait on the FIFO for a writer, one comes and goes: the case fails, not hangs.
        std::atomic<bool> done{false};
        std::thread release([&done, fifo = setup == "fifo"] {
            for (; fifo && !done; std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
                const int fd = ::open("pipes.json", O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
            }
        });
        const auto joined = qScopeGuard([&] {
            done = true;
            release.join();
        });
#endif

        QPipeMap map(nullptr);
        QSignalSpy lines(&map, &QPipeMap::sendLog);
        QSignalSpy status(&map, &QPipeMap::sendStatus);
        bool saved = false;
        {
            actAsOrdinaryUser(true);
            const auto restored = qScopeGuard([] { actAsOrdinaryUser(false); });
            map.loadFromFile("pipes.json");
            QCOMPARE(status.takeFirst().at(0).toString(),
                     QString(loaded.isEmpty() ? "Error! Pipe collection load" : "File pipe collection loaded, OK"));
            if (map.count() < 4)
                map.addPipe(record("new"));
            if (setup == "later link")
                QVERIFY(QFile::link(victim, "pipes.json"));
            saved = map.saveToFile("pipes.json");
        }
        QStringList shown;
        for (QPipeItem *item : map.getList()) {
            if (!m_made.contains(item))
                m_made << item;
            if (item->getName() != "new")
                shown << QString("%1 %2").arg(item->id()).arg(item->getName());
        }
        QCOMPARE(shown.join("; "), loaded);
        QStringList told;
        for (const QList<QVariant> &line : qAsConst(lines))
            told << line.at(0).toString();
        QCOMPARE(told, log);
        QCOMPARE(map.whyNotSaved("pipes.json"), why);
        QCOMPARE(saved, why.isEmpty());
        QCOMPARE(status.takeFirst().at(0).toString(),
                 QString(saved ? "File pipe collection saved, OK" : "Error! Pipe collection saved"));

        const QFileInfo file("pipes.json");
        if (saved) {
            QStringList ids;
            for (const QJsonValue &v : QJsonDocument::fromJson(TestSupport::readFile("pipes.json")).array())
                ids << v["id"].toVariant().toString() + ' ' + v["name"].toString();
            QCOMPARE(ids.join("; "), after);
        } else if (setup == "folder") {
            QVERIFY(file.isDir());
        } else if (setup.endsWith("link")) {
            QCOMPARE(file.symLinkTarget(), victim);
            QCOMPARE(TestSupport::readFile(victim), bytes);
            QVERIFY(!QFile::exists(victim + ".bak"));
        } else if (setup == "dev zero") {
            QCOMPARE(file.symLinkTarget(), QString("/dev/zero"));
        } else if (setup == "fifo") {
            QVERIFY(file.exists() && !file.isFile() && !file.isDir() && !file.isSymLink());
        } else {
            QVERIFY(file.isFile() && !file.isSymLink());
            QFile::setPermissions("pipes.json", QFile::ReadOwner | QFile::WriteOwner);
            QCOMPARE(TestSupport::readFile("pipes.json"), bytes);
        }
        if (setup == "bak folder")
            QVERIFY(QFileInfo("pipes.json.bak").isDir());
        else if (bak.isNull())
            QVERIFY(!QFileInfo("pipes.json.bak").exists() && !QFileInfo("pipes.json.bak").isSymLink());
        else
            QCOMPARE(TestSupport::readFile("pipes.json.bak"), bak);
        // Nothing of ours is left beside them.
        QCOMPARE(QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size(),
                 1 + int(QFileInfo("pipes.json.bak").exists()) + int(setup.endsWith("link")));
    }

    void recordsBeyondFourStayAsTheyAre()
    {
        // Ids handed out stay clear of theirs, and the four loaded come first in the file, so
        // that the next load takes the same four.
        const QJsonObject fifth{{"id", 9}, {"name", "e"}, {"future", QJsonArray{1, QJsonObject{{"x", true}}}}};
        const QJsonObject sixth{{"id", 1}, {"name", "f"}};
        QJsonArray file{QJsonObject{{"id", 1}}, QJsonObject{{"id", 2}, {"name", "2"}}, QJsonObject{{"id", 3}, {"name", "3"}},
                        QJsonObject{{"id", 4}, {"name", "4"}}, fifth, sixth};
        QPipeMap map(nullptr);
        load(map, QJsonDocument(file).toJson());
        QVERIFY(map.itemById(1) && !map.itemById(9));
        map.deletePipe(1);
        QCOMPARE(map.addPipe(record("new")), 10);
        QVERIFY(map.saveToFile(path("pipes.json")));
        const QJsonArray saved = QJsonDocument::fromJson(read(path("pipes.json"))).array();
        QCOMPARE(saved.size(), 6);
        QCOMPARE(saved.at(4).toObject(), fifth);
        QCOMPARE(saved.at(5).toObject(), sixth);

        QPipeMap again(nullptr);
        load(again, read(path("pipes.json")));
        QStringList names;
        for (QPipeItem *item : again.getList())
            names << item->getName();
        QCOMPARE(names, QStringList({"2", "3", "4", "new"}));
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
