// Seeded, bounded fuzzing of the two readers of input we do not control: pipes.json, which users
// edit by hand, and the text setupc.exe prints. The seeds are fixed so every run feeds the same
// inputs and a failure can be replayed; the counts keep the whole executable to a few seconds.
#include "qpipemap.h"
#include "setupc.h"
#include "testsupport.h"

#include <QtTest>

#include <array>
#include <cmath>
#include <limits>

using TestSupport::readFile;
using TestSupport::writeFile;

namespace {

const QString kLoaded = QStringLiteral("File pipe collection loaded, OK");
const QString kLoadFailed = QStringLiteral("Error! Pipe collection load");
const QString kSaved = QStringLiteral("File pipe collection saved, OK");

// A failing input is kept where it outlives the test's temporary folder, so it can be replayed.
QString keepInput(const QString &label, const QByteArray &bytes)
{
    QString safe = label;
    safe.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    const QString path = QDir::temp().filePath(QStringLiteral("tst_fuzz-%1.bin").arg(safe));
    writeFile(path, bytes);
    return path;
}

QString shortened(const QByteArray &json)
{
    return json.size() <= 200 ? QString::fromUtf8(json)
                              : QString::fromUtf8(json.left(200)) + QStringLiteral("...");
}

// ---------------------------------------------------------------------------------------------
// pipes.json

// One collection fed file after file, every oracle checked after each load. It owns the records
// the collection holds, since the collection never frees them.
class PipesHarness
{
public:
    explicit PipesHarness(const QString &folder)
        : m_file(folder + QStringLiteral("/pipes.json"))
        , m_copy(folder + QStringLiteral("/roundtrip.json"))
    {
    }
    ~PipesHarness() { qDeleteAll(m_live); }
    PipesHarness(const PipesHarness &) = delete;
    PipesHarness &operator=(const PipesHarness &) = delete;

    // Writes the bytes as pipes.json and loads them. Empty when every oracle held, else what broke.
    QString feed(const QByteArray &bytes)
    {
        if (!writeFile(m_file, bytes))
            return QStringLiteral("could not write %1").arg(m_file);
        return load(m_file, true, bytes);
    }

    // Loads a path that cannot be read as a file (missing, a folder).
    QString feedUnreadable(const QString &path) { return load(path, false, QByteArray()); }

    int loaded = 0;
    int rejected = 0;
    int count() { return m_map.count(); }

    // The collection in a few words: its ids, runs written as "1-4", and, when oddKey is
    // given, the record made from the element holding the odd field (the one named "Pipe 3",
    // or with port 503 when the name is the odd field) with that field as saved.
    QString outcome(const QString &oddKey)
    {
        QStringList runs;
        const QList<QPipeItem *> items = m_map.getList();
        for (int i = 0; i < items.size();) {
            int j = i;
            while (j + 1 < items.size() && items.at(j + 1)->id() == items.at(j)->id() + 1)
                ++j;
            runs << (j > i ? QStringLiteral("%1-%2").arg(items.at(i)->id()).arg(items.at(j)->id())
                           : QString::number(items.at(i)->id()));
            i = j + 1;
        }
        QString text = QStringLiteral("ids ") + runs.join(QLatin1Char(' '));
        if (oddKey.isEmpty())
            return text;
        for (QPipeItem *item : items) {
            const bool odd = oddKey == QLatin1String("name") ? item->getIpPort() == 503
                                                              : item->getName() == QLatin1String("Pipe 3");
            if (!odd)
                continue;
            const QJsonValue value = item->toJson().value(oddKey);
            const QString shown =
                value.isString() && value.toString().size() > 40
                    ? QStringLiteral("%1 of %2 characters, from \"%3\"")
                          .arg(oddKey)
                          .arg(value.toString().size())
                          .arg(value.toString().left(8))
                    : QString::fromUtf8(QJsonDocument(QJsonObject{{oddKey, value}}).toJson(QJsonDocument::Compact));
            return text + QStringLiteral("; record %1: %2").arg(item->id()).arg(shown);
        }
        return text + QStringLiteral("; no record of the odd element");
    }

private:
    QString load(const QString &path, bool readable, const QByteArray &bytes)
    {
        const QString backup = path + QStringLiteral(".bak");
        // A copy left by the previous input must not pass for this one's.
        QFile::remove(backup);
        if (QFile::exists(backup))
            return QStringLiteral("could not remove the old %1").arg(backup);

        const QList<QPipeItem *> before = m_map.getList();
        QList<QJsonObject> beforeJson;
        for (QPipeItem *item : before)
            beforeJson << item->toJson();

        QSignalSpy status(&m_map, &QPipeMap::sendStatus);
        m_map.loadFromFile(path);
        if (status.count() != 1)
            return QStringLiteral("%1 status signals for one load").arg(status.count());
        const QString text = status.at(0).at(0).toString();

        QJsonArray array;
        bool isArray = false;
        // A file larger than 4 MiB is refused unread.
        if (readable && bytes.size() <= 4 * 1024 * 1024) {
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
            isArray = error.error == QJsonParseError::NoError && doc.isArray();
            if (isArray)
                array = doc.array();
        }

        if (text == kLoadFailed) {
            ++rejected;
            if (isArray)
                return QStringLiteral("a JSON array was rejected");
            if (m_map.getList() != before)
                return QStringLiteral("a failed load changed the collection");
            for (int i = 0; i < before.size(); ++i) {
                if (before.at(i)->toJson() != beforeJson.at(i))
                    return QStringLiteral("a failed load changed record %1").arg(before.at(i)->id());
            }
            if (!readable)
                return QFile::exists(backup)
                           ? QStringLiteral("a .bak appeared for a path that is no readable file")
                           : QString();
            if (!QFile::exists(backup))
                return QStringLiteral("no .bak kept of the rejected file");
            if (readFile(backup) != bytes)
                return QStringLiteral("the .bak differs from the rejected file");
            return QString();
        }
        if (text != kLoaded)
            return QStringLiteral("unknown status \"%1\"").arg(text);

        ++loaded;
        if (!isArray)
            return QStringLiteral("accepted a file that is no JSON array");
        const QList<QPipeItem *> now = m_map.getList();
        const QSet<QPipeItem *> kept(now.cbegin(), now.cend());
        // The records of the last load are out of the collection now and nobody else knows them.
        for (QPipeItem *old : qAsConst(m_live)) {
            if (!kept.contains(old))
                delete old;
        }
        m_live = now;

        // Elements with one id make one record; which values a record takes is for the
        // hand-made files, whose outcomes are written out.
        // Each of the first four elements makes a record, and the rest stay in the file.
        if (m_map.count() != qMin(array.size(), 4))
            return QStringLiteral("%1 records from %2 elements").arg(m_map.count()).arg(array.size());
        return checkRoundTrip(array);
    }

    // What was loaded, saved and loaded again must come back the same, and what was not loaded
    // is saved as it came.
    QString checkRoundTrip(const QJsonArray &input)
    {
        QSignalSpy saved(&m_map, &QPipeMap::sendStatus);
        m_map.saveToFile(m_copy);
        if (saved.count() != 1 || saved.at(0).at(0).toString() != kSaved)
            return QStringLiteral("the loaded collection could not be saved");
        const QJsonArray written = QJsonDocument::fromJson(readFile(m_copy)).array();
        if (written.size() != input.size())
            return QStringLiteral("%1 elements saved of %2").arg(written.size()).arg(input.size());
        // Compared as Qt writes JSON, which turns an integer beyond 2^53 into the nearest double.
        const QJsonArray asWritten = QJsonDocument::fromJson(QJsonDocument(input).toJson()).array();
        for (int i = 4; i < input.size(); ++i) {
            if (written.at(i) != asWritten.at(i))
                return QStringLiteral("element %1, not loaded, was saved otherwise").arg(i + 1);
        }

        QPipeMap second;
        QSignalSpy status(&second, &QPipeMap::sendStatus);
        second.loadFromFile(m_copy);
        const QList<QPipeItem *> copies = second.getList();
        const auto freeCopies = qScopeGuard([&copies] { qDeleteAll(copies); });
        if (status.count() != 1 || status.at(0).at(0).toString() != kLoaded)
            return QStringLiteral("the saved collection did not load back");
        if (copies.size() != m_map.count())
            return QStringLiteral("%1 records saved, %2 loaded back").arg(m_map.count()).arg(copies.size());
        for (QPipeItem *item : m_map.getList()) {
            const QPipeItem *copy = second.itemById(item->id());
            if (!copy)
                return QStringLiteral("record %1 did not come back").arg(item->id());
            const QJsonObject was = item->toJson();
            const QJsonObject is = copy->toJson();
            if (was != is) {
                return QStringLiteral("record %1 came back as %2, was %3")
                    .arg(item->id())
                    .arg(shortened(QJsonDocument(is).toJson(QJsonDocument::Compact)),
                         shortened(QJsonDocument(was).toJson(QJsonDocument::Compact)));
            }
        }
        return QString();
    }

    const QString m_file;
    const QString m_copy;
    QPipeMap m_map;
    QList<QPipeItem *> m_live;
};

// One element written by hand, with one field's JSON text replaced: by hand so it can hold what
// QJsonDocument never writes (duplicate keys, odd numbers, bad bytes).
QByteArray element(int id, const QByteArray &key = QByteArray(), const QByteArray &token = QByteArray())
{
    const QList<QPair<QByteArray, QByteArray>> fields = {
        {"id", QByteArray::number(id)},
        {"name", "\"Pipe " + QByteArray::number(id) + '"'},
        {"note", "\"\""},
        {"port_work", "\"COM" + QByteArray::number(2 * id - 1) + '"'},
        {"port_null", "\"COM" + QByteArray::number(2 * id) + '"'},
        {"ipaddr", "\"127.0.0.1\""},
        {"ipport", QByteArray::number(500 + id)},
    };
    QByteArray out = "{";
    for (const auto &field : fields) {
        if (out.size() > 1)
            out += ',';
        out += '"' + field.first + "\":" + (field.first == key ? token : field.second);
    }
    return out + '}';
}

QByteArray arrayOf(const QList<QByteArray> &elements)
{
    QByteArray out = "[";
    for (int i = 0; i < elements.size(); ++i) {
        if (i)
            out += ',';
        out += elements.at(i);
    }
    return out + ']';
}

// Four elements, the third with the odd field.
QByteArray withField(const QByteArray &key, const QByteArray &token)
{
    return arrayOf({element(1), element(2), element(3, key, token), element(4)});
}

QByteArray nestedArrays(int depth)
{
    return QByteArray(depth, '[') + QByteArray(depth, ']');
}

QByteArray nestedObjects(int depth)
{
    QByteArray out;
    out.reserve(depth * 6 + 1);
    for (int i = 0; i < depth; ++i)
        out += "{\"a\":";
    out += '1';
    return out + QByteArray(depth, '}');
}

const QByteArray kJsonBytes = QByteArrayLiteral("[[[]]]{{}}\"\"\"\",,::0123456789-+.eE \n\t\\/u"
                                                "truefalsenullidnameipport");

QByteArray randomBytes(QRandomGenerator &rng, int length, const QByteArray &alphabet)
{
    QByteArray out(length, '\0');
    for (int i = 0; i < length; ++i)
        out[i] = alphabet.isEmpty() ? char(rng.bounded(256)) : alphabet.at(rng.bounded(alphabet.size()));
    return out;
}

// Mostly short inputs, some up to 4 KB.
int randomLength(QRandomGenerator &rng)
{
    switch (rng.bounded(3)) {
    case 0:
        return rng.bounded(17);
    case 1:
        return rng.bounded(257);
    default:
        return rng.bounded(4097);
    }
}

// A random JSON value as text, biased towards what a record holds and what it must survive.
QByteArray randomValue(QRandomGenerator &rng, int depth)
{
    static const QList<QByteArray> numbers = {
        "0", "-0", "1", "502", "65535", "65536", "-1", "2.5", "1e2", "1e308", "-1e308", "1e-300",
        "2147483647", "2147483648", "-2147483648", "-2147483649", "9223372036854775807", "4294967297"};
    static const QList<QByteArray> strings = {
        "\"\"", "\"COM1\"", "\"COM2\"", "\"127.0.0.1\"", "\"Pipe\"", "\"\\u00e9\\n\\t\\\"\"",
        "\"\xc3\xa9\xe2\x82\xac\"", "\"\\ud83d\\ude00\"", "\"\\u0000\"", "\"502\""};
    switch (rng.bounded(depth > 3 ? 5 : 7)) {
    case 0:
        return numbers.at(rng.bounded(numbers.size()));
    case 1:
        return strings.at(rng.bounded(strings.size()));
    case 2:
        return QByteArray::number(int(rng.generate()) % 100);
    case 3: {
        static const QList<QByteArray> literals = {"true", "false", "null"};
        return literals.at(rng.bounded(literals.size()));
    }
    case 4:
        return QByteArray::number(rng.bounded(10));
    case 5: {
        QList<QByteArray> items;
        for (int i = rng.bounded(4); i > 0; --i)
            items << randomValue(rng, depth + 1);
        return arrayOf(items);
    }
    default:
        break;
    }
    static const QList<QByteArray> keys = {"id", "name", "note", "port_work", "port_null",
                                           "ipaddr", "ipport", "", "ID", "extra"};
    QByteArray out = "{";
    // Keys may repeat: a hand-edited file can have them twice.
    for (int i = rng.bounded(9); i > 0; --i) {
        if (out.size() > 1)
            out += ',';
        out += '"' + keys.at(rng.bounded(keys.size())) + "\":" + randomValue(rng, depth + 1);
    }
    return out + '}';
}

QByteArray randomJsonArray(QRandomGenerator &rng)
{
    QList<QByteArray> items;
    for (int i = rng.bounded(12); i > 0; --i)
        items << (rng.bounded(6) ? randomValue(rng, 5) : randomValue(rng, 0));
    return arrayOf(items);
}

QByteArray mutate(QRandomGenerator &rng, QByteArray bytes)
{
    // Few edits per input: most files stay JSON arrays with changed values, which is where the
    // records' content gets exercised; the rest test the rejection.
    for (int n = rng.bounded(3) ? 1 : 1 + rng.bounded(6); n > 0; --n) {
        const int size = bytes.size();
        const int at = size ? rng.bounded(size) : 0;
        switch (rng.bounded(14)) {
        case 0:
            if (size)
                bytes[at] = char(bytes.at(at) ^ (1 << rng.bounded(8)));
            break;
        case 1:
            if (size)
                bytes[at] = char(rng.bounded(256));
            break;
        case 2:
        case 3:
            if (size)
                bytes[at] = kJsonBytes.at(rng.bounded(kJsonBytes.size()));
            break;
        case 4:
        case 5:
        case 6: {
            // A digit changed or added: ids collide or grow out of range, ports leave theirs.
            const int digit = bytes.indexOf(QByteArray::number(rng.bounded(10)), at);
            if (digit >= 0) {
                if (rng.bounded(2))
                    bytes[digit] = char('0' + rng.bounded(10));
                else
                    bytes.insert(digit, QByteArray(1 + rng.bounded(12), char('0' + rng.bounded(10))));
            }
            break;
        }
        case 7:
            bytes.insert(at, randomBytes(rng, 1 + rng.bounded(8), rng.bounded(2) ? kJsonBytes : QByteArray()));
            break;
        case 8:
            bytes.remove(at, 1 + rng.bounded(16));
            break;
        case 9:
        case 10: {
            // An element repeated: its id then appears twice in one file.
            const int open = bytes.lastIndexOf('{', at);
            const int close = open >= 0 ? bytes.indexOf('}', open) : -1;
            if (close > open)
                bytes.insert(close + 1, ',' + bytes.mid(open, close - open + 1));
            break;
        }
        case 11:
        case 12:
            // A slice of the file repeated elsewhere.
            if (size)
                bytes.insert(rng.bounded(size + 1), bytes.mid(at, 1 + rng.bounded(120)));
            break;
        default:
            bytes.truncate(size ? rng.bounded(size + 1) : 0);
            break;
        }
    }
    return bytes;
}

// ---------------------------------------------------------------------------------------------
// setupc.exe output

QString checkPairs(const QStringList &names)
{
    const QList<QPair<QString, QString>> pairs = Setupc::pairs(names);
    if (pairs.size() != names.size() / 2)
        return QStringLiteral("%1 pairs from %2 names").arg(pairs.size()).arg(names.size());
    for (int i = 0; i < pairs.size(); ++i) {
        if (pairs.at(i).first != names.at(2 * i) || pairs.at(i).second != names.at(2 * i + 1))
            return QStringLiteral("pair %1 is (%2, %3), names are %4 and %5")
                .arg(i)
                .arg(pairs.at(i).first, pairs.at(i).second, names.at(2 * i), names.at(2 * i + 1));
    }
    return QString();
}

// What any reading of the output must give, checked without reading it a second way: each
// name is "COM" and digits and stands whole in the text (no digit after it), the names come in
// the order they stand there, and a text without "COM" has none.
QString checkOutput(const QString &text)
{
    const QStringList names = Setupc::portNames(text);
    if (!text.contains(QLatin1String("COM")) && !names.isEmpty())
        return QStringLiteral("names from a text without COM");
    if (names.size() > text.count(QLatin1String("COM")))
        return QStringLiteral("%1 names from %2 COMs").arg(names.size()).arg(text.count(QLatin1String("COM")));
    static const QRegularExpression shape(QStringLiteral("^COM[0-9]+$"));
    int from = 0;
    for (int i = 0; i < names.size(); ++i) {
        const QString &name = names.at(i);
        if (!shape.match(name).hasMatch())
            return QStringLiteral("name %1 is no port name: %2").arg(i).arg(name.left(40));
        const int at = text.indexOf(name, from);
        if (at < 0)
            return QStringLiteral("name %1 (%2) does not follow the one before it").arg(i).arg(name.left(40));
        from = at + name.size();
        if (from < text.size() && text.at(from) >= QLatin1Char('0') && text.at(from) <= QLatin1Char('9'))
            return QStringLiteral("name %1 (%2) is cut short of its digits").arg(i).arg(name.left(40));
    }
    return checkPairs(names);
}

// Pieces that make names, near-names and overlaps likely in random text.
const QStringList kOutputPieces = {
    QStringLiteral("COM"), QStringLiteral("COM"), QStringLiteral("CO"), QStringLiteral("OM"),
    QStringLiteral("C"), QStringLiteral("M"), QStringLiteral("1"), QStringLiteral("09"),
    QStringLiteral("255"), QStringLiteral("COMCOM"), QStringLiteral(" PortName="),
    QStringLiteral(",EmuBR=yes"), QStringLiteral("\r\n"), QStringLiteral("CNCA0"),
    QStringLiteral("com"), QStringLiteral(" "), QStringLiteral("\t")};

QString randomOutput(QRandomGenerator &rng, bool latin1)
{
    QString text;
    const int parts = rng.bounded(60);
    for (int p = 0; p < parts; ++p) {
        if (rng.bounded(2)) {
            text += kOutputPieces.at(rng.bounded(kOutputPieces.size()));
            continue;
        }
        // Latin-1 bytes as setupc.exe's output is read: any byte, NUL included, is one character.
        QByteArray bytes = randomBytes(rng, rng.bounded(40), QByteArray());
        if (!latin1) {
            for (char &c : bytes)
                c = char(0x20 + (uchar(c) % 0x5f));
        }
        text += QString::fromLatin1(bytes.constData(), bytes.size());
    }
    return text;
}

QString setupcListing(QRandomGenerator &rng)
{
    QString text;
    for (int pair = rng.bounded(12); pair >= 0; --pair) {
        for (const char *side : {"A", "B"}) {
            if (rng.bounded(10) == 0)
                continue; // a side missing: the names are odd in number
            text += QStringLiteral("       CNC%1%2 PortName=COM%3,EmuBR=yes\r\n")
                        .arg(QLatin1String(side))
                        .arg(pair)
                        .arg(rng.bounded(1000));
        }
    }
    return text;
}

// Thousands of names with separators that hold neither digits nor "COM": the names put in are
// exactly the names to be read.
QString manyNames(QRandomGenerator &rng, int count, QStringList *names)
{
    static const QStringList separators = {
        QStringLiteral(" "), QStringLiteral("\r\n"), QStringLiteral(", "), QStringLiteral(" PortName="),
        QStringLiteral("CO"), QStringLiteral("C"), QString(QChar(0xe9)), QString(QChar(0))};
    QString text;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("COM") + QString::number(rng.bounded(100000));
        *names << name;
        text += separators.at(rng.bounded(separators.size())) + name;
    }
    return text;
}

// Every load and save syncs a file to disk (QFile::copy for the .bak, QSaveFile on save); on a
// disk shared with builds those thousands of syncs alone take a minute. Memory-backed storage,
// where the system has it, keeps the run to seconds without changing what the code does.
QString workFolderTemplate()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QString root = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
    return root + QStringLiteral("/tst_fuzz-XXXXXX");
}

} // namespace

class TestFuzz : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir{workFolderTemplate()};
    QByteArray m_valid; // four records as QPipeMap::saveToFile writes them
    int m_pipesCrafted = 0;
    int m_pipesCraftedLoaded = 0;
    int m_outputCrafted = 0;

    QString folder(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        QDir(path).removeRecursively();
        QDir().mkpath(path);
        return path;
    }

    // Starts from the valid file, so a failed load has a collection to leave alone.
    static QString primed(PipesHarness &harness, const QByteArray &valid)
    {
        const QString why = harness.feed(valid);
        if (!why.isEmpty())
            return QStringLiteral("the valid file: ") + why;
        if (harness.count() != 4)
            return QStringLiteral("the valid file gave %1 records").arg(harness.count());
        return QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QPipeMap map;
        const QList<QVariantMap> records = {
            {{"name", "Pump station"}, {"note", "line 1\nline 2 \"quoted\""}, {"port_work", "COM1"},
             {"port_null", "COM2"}, {"ipaddr", "127.0.0.1"}, {"ipport", 502}},
            {{"name", QString::fromUtf8("\xd0\x9d\xd0\xb0\xd1\x81\xd0\xbe\xd1\x81 \xe2\x84\x96" "2")},
             {"note", "tab\there"}, {"port_work", "COM3"}, {"port_null", "COM4"},
             {"ipaddr", "localhost"}, {"ipport", 65535}},
            {{"name", ""}, {"note", "back\\slash"}, {"port_work", "COM10"}, {"port_null", "COM11"},
             {"ipaddr", "::1"}, {"ipport", 1}},
            {{"name", QString::fromUtf8("Emoji \xf0\x9f\x98\x80")}, {"note", ""}, {"port_work", "COM255"},
             {"port_null", "COM256"}, {"ipaddr", "127.0.0.2"}, {"ipport", 4001}},
        };
        QList<QPipeItem *> items;
        for (const QVariantMap &record : records) {
            auto *item = new QPipeItem(QStringLiteral("Pipe"));
            item->setPropertyMap(record);
            map.addPipe(item);
            items << item;
        }
        const QString file = m_dir.filePath(QStringLiteral("valid.json"));
        QSignalSpy status(&map, &QPipeMap::sendStatus);
        map.saveToFile(file);
        qDeleteAll(items);
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toString(), kSaved);
        m_valid = readFile(file);
        QVERIFY(QJsonDocument::fromJson(m_valid).isArray());
        QCOMPARE(QJsonDocument::fromJson(m_valid).array().size(), 4);
    }

    void cleanupTestCase()
    {
        qInfo("pipes.json hand-made files: %d inputs, %d loaded, %d rejected", m_pipesCrafted,
              m_pipesCraftedLoaded, m_pipesCrafted - m_pipesCraftedLoaded);
        qInfo("setupc output hand-made texts: %d inputs", m_outputCrafted);
    }

    // Generated files, many per case, all through one collection so each load starts from
    // whatever the last one left.
    void pipesFuzz_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<int>("count");
        QTest::newRow("random bytes") << "bytes" << 0x51ED0001u << 1500;
        QTest::newRow("random JSON-alphabet bytes") << "alphabet" << 0x51ED0002u << 1500;
        QTest::newRow("random JSON arrays") << "json" << 0x51ED0003u << 1500;
        QTest::newRow("mutated valid file") << "mutate" << 0x51ED0004u << 3000;
        // Every cut point, each once plain and once with another part of the file after it.
        QTest::newRow("valid file cut and spliced") << "cut" << 0x51ED0005u << 2 * (m_valid.size() + 1);
    }

    void pipesFuzz()
    {
        QFETCH(QString, kind);
        QFETCH(quint32, seed);
        QFETCH(int, count);
        QRandomGenerator rng(seed);
        PipesHarness harness(folder(QStringLiteral("fuzz")));
        const QString start = primed(harness, m_valid);
        QVERIFY2(start.isEmpty(), qPrintable(start));
        for (int i = 0; i < count; ++i) {
            QByteArray input;
            if (kind == QLatin1String("bytes"))
                input = randomBytes(rng, randomLength(rng), QByteArray());
            else if (kind == QLatin1String("alphabet"))
                input = randomBytes(rng, randomLength(rng), kJsonBytes);
            else if (kind == QLatin1String("json"))
                input = randomJsonArray(rng);
            else if (kind == QLatin1String("mutate"))
                input = mutate(rng, m_valid);
            else if (kind == QLatin1String("cut"))
                input = m_valid.left(i / 2) + (i % 2 ? m_valid.mid(rng.bounded(m_valid.size() + 1)) : QByteArray());
            else
                QFAIL("unknown kind of input");
            const QString why = harness.feed(input);
            if (!why.isEmpty()) {
                const QString label = QStringLiteral("%1-%2").arg(QLatin1String(QTest::currentDataTag())).arg(i);
                QFAIL(qPrintable(QStringLiteral("input %1 (kept as %2): %3").arg(i).arg(keepInput(label, input), why)));
            }
        }
        qInfo("pipes.json %s (seed 0x%08x): %d inputs, %d loaded, %d rejected", QTest::currentDataTag(),
              seed, count, harness.loaded - 1, harness.rejected);
        // A case whose inputs all end alike tests half of what it claims.
        if (kind == QLatin1String("mutate") || kind == QLatin1String("cut"))
            QVERIFY2(harness.loaded > 1 && harness.rejected > 0, "inputs did not reach both outcomes");
    }

    // Hand-made files for what random bytes rarely hit, each with the outcome it has: "rejected"
    // (the collection stays as it was), or what PipesHarness::outcome says of the collection.
    void pipesCrafted_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("oddKey"); // the field of the third element that is odd
        QTest::addColumn<QString>("expected");
        const auto odd = [](const QString &tag, const char *key, const QByteArray &token, const QString &expected) {
            QTest::newRow(qPrintable(tag)) << withField(key, token) << QString(key) << expected;
        };
        const auto whole = [](const char *tag, const QByteArray &input, const QString &expected) {
            QTest::newRow(tag) << input << QString() << expected;
        };
        const QString r = QStringLiteral("rejected");
        // An id that cannot be used, or that an earlier record holds, is replaced by one above
        // every id in the file.
        const char *const renumbered = "ids 1-2 4-5; record 5: {\"id\":5}";
        const QString newId = QString::fromLatin1(renumbered);
        const QString zeroPort = QStringLiteral("ids 1-4; record 3: {\"ipport\":0}");

        // A number is a record's id or port only when it is whole and within int.
        const QList<std::array<const char *, 3>> numbers = {
            {"1e308", renumbered, "ids 1-4; record 3: {\"ipport\":0}"},
            {"-1e308", renumbered, "ids 1-4; record 3: {\"ipport\":0}"},
            {"1e400", "rejected", "rejected"},
            {"-1e400", "rejected", "rejected"},
            {"9223372036854775807", renumbered, "ids 1-4; record 3: {\"ipport\":0}"},
            {"-9223372036854775808", renumbered, "ids 1-4; record 3: {\"ipport\":0}"},
            {"-0", renumbered, "ids 1-4; record 3: {\"ipport\":0}"},
            {"-0.0", renumbered, "ids 1-4; record 3: {\"ipport\":0}"},
            {"1e-400", "rejected", "rejected"},
            {"2147483647", "ids 1-2 4 2147483647; record 2147483647: {\"id\":2147483647}",
             "ids 1-4; record 3: {\"ipport\":2147483647}"},
            {"2147483648", renumbered, "ids 1-4; record 3: {\"ipport\":0}"},
            {"-2147483648", renumbered,
             "ids 1-4; record 3: {\"ipport\":-2147483648}"},
            {"-2147483649", renumbered, "ids 1-4; record 3: {\"ipport\":0}"},
            {"4294967297", renumbered, "ids 1-4; record 3: {\"ipport\":0}"},
            {"1.0", renumbered, "ids 1-4; record 3: {\"ipport\":1}"},
            {"1e2", "ids 1-2 4 100; record 100: {\"id\":100}", "ids 1-4; record 3: {\"ipport\":100}"},
            {"0.5", renumbered, "ids 1-4; record 3: {\"ipport\":0}"},
            {"65536", "ids 1-2 4 65536; record 65536: {\"id\":65536}", "ids 1-4; record 3: {\"ipport\":65536}"},
            {"-1", renumbered, "ids 1-4; record 3: {\"ipport\":-1}"}};
        for (const auto &n : numbers) {
            odd(QStringLiteral("id = %1").arg(n[0]), "id", n[0], n[1]);
            odd(QStringLiteral("ipport = %1").arg(n[0]), "ipport", n[0], n[2]);
        }
        whole("every id 1e308",
              arrayOf({element(1, "id", "1e308"), element(2, "id", "1e308"), element(3, "id", "-1e308")}), "ids 1-3");

        // Any other type is 0 for a number; for a text field, "" - but a port name keeps what
        // the variant makes of a bool or a number.
        const QList<QPair<const char *, QByteArray>> notNumbers = {
            {"null", "null"}, {"true", "true"}, {"false", "false"}, {"empty array", "[]"},
            {"array", "[1,2]"}, {"empty object", "{}"}, {"object", "{\"id\":1}"}, {"string", "\"7\""},
            {"empty string", "\"\""}, {"fraction", "7.5"}};
        for (const auto &type : notNumbers) {
            odd(QStringLiteral("id as %1").arg(type.first), "id", type.second, newId);
            odd(QStringLiteral("ipport as %1").arg(type.first), "ipport", type.second, zeroPort);
        }
        const QList<std::array<const char *, 3>> notStrings = {
            {"null", "null", ""}, {"true", "true", "true"}, {"false", "false", "false"},
            {"empty array", "[]", ""}, {"array", "[\"COM1\"]", ""}, {"empty object", "{}", ""},
            {"object", "{\"a\":\"b\"}", ""}, {"number", "7", "7"}, {"fraction", "-1.5", "-1.5"},
            {"huge number", "1e308", "1e+308"}};
        for (const char *key : {"name", "note", "ipaddr", "port_work", "port_null"}) {
            const bool port = QByteArray(key).startsWith("port_");
            for (const auto &type : notStrings)
                odd(QStringLiteral("%1 as %2").arg(key, type[0]), key, type[1],
                    QStringLiteral("ids 1-4; record 3: {\"%1\":\"%2\"}").arg(key, port ? type[2] : ""));
        }
        // The first four are read as empty records, numbered above the 4 the file holds; the
        // rest stay in the file unread.
        whole("elements of other types", "[1, \"two\", null, true, [], [{\"id\":3}], {\"id\":4}]", "ids 5-8");

        for (int depth : {10, 1000}) {
            QTest::addRow("arrays %d deep", depth) << nestedArrays(depth) << QString() << "ids 1";
            QTest::addRow("objects %d deep as element", depth) << '[' + nestedObjects(depth) + ']' << QString() << "ids 1";
            QTest::addRow("objects %d deep at top", depth) << nestedObjects(depth) << QString() << r;
            odd(QStringLiteral("arrays %1 deep as name").arg(depth), "name", nestedArrays(depth),
                "ids 1-4; record 3: {\"name\":\"\"}");
            odd(QStringLiteral("objects %1 deep as id").arg(depth), "id", nestedObjects(depth), newId);
            QTest::addRow("arrays %d deep, never closed", depth) << QByteArray(depth, '[') << QString() << r;
        }
        // Deeper than the parser goes: refused whole, whatever the shape.
        whole("arrays 100000 deep", nestedArrays(100000), r);
        whole("objects 100000 deep as element", '[' + nestedObjects(100000) + ']', r);
        whole("objects 100000 deep at top", nestedObjects(100000), r);
        whole("arrays 100000 deep as name", withField("name", nestedArrays(100000)), r);
        whole("objects 100000 deep as id", withField("id", nestedObjects(100000)), r);
        whole("arrays 100000 deep, never closed", QByteArray(100000, '['), r);

        const int mb = 1 << 20;
        odd("1 MB name", "name", '"' + QByteArray(mb, 'n') + '"',
            "ids 1-4; record 3: name of 1048576 characters, from \"nnnnnnnn\"");
        odd("1 MB non-ASCII name", "name", '"' + QByteArray("\xc3\xa9").repeated(mb) + '"',
            "ids 1-4; record 3: name of 1048576 characters, from \"éééééééé\"");
        odd("512 K note of escapes", "note", '"' + QByteArray("\\n\\u0041").repeated(mb / 4) + '"',
            "ids 1-4; record 3: note of 524288 characters, from \"\nA\nA\nA\nA\"");
        odd("1 MB port_work", "port_work", '"' + QByteArray(mb, '7') + '"',
            "ids 1-4; record 3: port_work of 1048576 characters, from \"77777777\"");
        odd("1 MB ipaddr", "ipaddr", '"' + QByteArray(mb, '1') + '"',
            "ids 1-4; record 3: ipaddr of 1048576 characters, from \"11111111\"");
        odd("1 MB key", "note", "\"\",\"" + QByteArray(mb, 'k') + "\":1", "ids 1-4; record 3: {\"note\":\"\"}");
        whole("1 MB string, never closed", withField("name", '"' + QByteArray(mb, 'n')), r);
        // 4 MiB is the most that is read; a larger file is refused whole, however valid.
        const QByteArray padded = m_valid.chopped(2) + QByteArray(4 * mb - m_valid.size(), ' ') + "]\n";
        whole("valid file of exactly 4 MiB", padded, "ids 1-4");
        whole("valid file a byte over 4 MiB", padded + ' ', r);

        QList<QByteArray> distinct, same, modulo, empties, plain;
        for (int i = 1; i <= 10000; ++i) {
            distinct << element(i);
            same << element(1, "name", "\"Pipe " + QByteArray::number(i) + '"');
            modulo << element(i % 97);
            empties << "{}";
            plain << QByteArray::number(i);
        }
        // Four are loaded, whatever the rest hold.
        whole("10000 elements, distinct ids", arrayOf(distinct), "ids 1-4");
        whole("10000 elements, one id", arrayOf(same), "ids 1-4");
        whole("10000 elements, 97 ids", arrayOf(modulo), "ids 1-4");
        whole("10000 empty objects", arrayOf(empties), "ids 1-4");
        whole("10000 numbers", arrayOf(plain), "ids 1-4");

        // A key given twice: the last one counts.
        odd("id twice", "id", "3,\"id\":9", "ids 1-2 4 9; record 9: {\"id\":9}");
        odd("id twice, number then string", "id", "3,\"id\":\"9\"", newId);
        odd("id twice, number then null", "id", "3,\"id\":null", newId);
        odd("name twice", "name", "\"first\",\"name\":\"second\"", "ids 1-4; record 3: {\"name\":\"second\"}");
        odd("name twice, first an object", "name", "{\"a\":[1]},\"name\":\"second\"",
            "ids 1-4; record 3: {\"name\":\"second\"}");
        odd("id twice, first an array", "id", "[3],\"id\":9", "ids 1-2 4 9; record 9: {\"id\":9}");
        odd("ipport three times", "ipport", "1,\"ipport\":2,\"ipport\":3", "ids 1-4; record 3: {\"ipport\":3}");
        whole("every key twice", arrayOf({element(1).chopped(1) + ',' + element(7).mid(1), element(2)}), "ids 2 7");
        whole("id of the second element repeated", arrayOf({element(1), element(2), element(2)}), "ids 1-3");

        const QList<QPair<const char *, QByteArray>> badUtf8 = {
            {"FF", "\xff"}, {"FE FF", "\xfe\xff"}, {"lone continuation", "\x80"},
            {"overlong NUL", "\xc0\x80"}, {"overlong slash", "\xe0\x80\xaf"},
            {"cut 2-byte", "\xc3"}, {"cut 3-byte", "\xe2\x82"}, {"cut 4-byte", "\xf0\x9f\x98"},
            {"encoded surrogate", "\xed\xa0\x80"}, {"above U+10FFFF", "\xf4\x90\x80\x80"},
            {"5-byte form", "\xf8\x88\x80\x80\x80"}};
        for (const auto &bad : badUtf8) {
            odd(QStringLiteral("invalid UTF-8 in name: %1").arg(bad.first), "name", "\"a" + bad.second + '"', r);
            odd(QStringLiteral("invalid UTF-8 in a key: %1").arg(bad.first), "note", "\"\",\"k" + bad.second + "\":1", r);
        }
        odd("invalid UTF-8 between tokens", "note", "\"\"\xff", r);
        odd("valid non-ASCII name", "name", "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"",
            "ids 1-4; record 3: {\"name\":\"é€😀\"}");
        odd("lone high surrogate escape", "name", "\"\\ud800\"", "ids 1-4; record 3: {\"name\":\"\\ud800\"}");
        odd("lone low surrogate escape", "name", "\"\\udc00x\"", "ids 1-4; record 3: {\"name\":\"\\udc00x\"}");
        odd("surrogates reversed", "name", "\"\\udc00\\ud800\"",
            "ids 1-4; record 3: {\"name\":\"\\udc00\\ud800\"}");
        odd("NUL escape", "port_work", "\"COM\\u00001\"", "ids 1-4; record 3: {\"port_work\":\"COM\\u00001\"}");
        odd("raw NUL in a string", "name", QByteArray("\"a\0b\"", 5), "ids 1-4; record 3: {\"name\":\"a\\u0000b\"}");
        // Qt drops the backslash of an escape it does not know.
        odd("bad escape", "name", "\"\\x41\"", "ids 1-4; record 3: {\"name\":\"x41\"}");
        odd("short unicode escape", "name", "\"\\u12\"", r);

        const QByteArray bom = "\xef\xbb\xbf";
        whole("UTF-8 BOM", bom + m_valid, "ids 1-4");
        whole("two BOMs", bom + bom + m_valid, r);
        whole("BOM after blanks", "  \n" + bom + m_valid, r);
        whole("BOM inside the array", '[' + bom + element(1) + ']', r);
        whole("BOM alone", bom, r);
        QByteArray utf16 = QByteArray("\xff\xfe");
        const QString text = QString::fromUtf8(m_valid);
        utf16.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
        whole("UTF-16 with BOM", utf16, r);

        whole("empty file", QByteArray(), r);
        whole("blanks only", " \r\n\t", r);
        whole("null", "null", r);
        whole("object at top", "{\"pipes\":" + m_valid + '}', r);
        whole("number at top", "5", r);
        whole("string at top", "\"[]\"", r);
        whole("empty array", "[]", "ids ");
        whole("array and garbage", m_valid + "x", r);
        whole("array and NUL", m_valid + QByteArray(1, '\0'), r);
        whole("two arrays", m_valid + m_valid, r);
        whole("trailing comma", "[" + element(1) + ",]", r);
        whole("comment", "// pipes\n" + m_valid, r);
    }

    void pipesCrafted()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, oddKey);
        QFETCH(QString, expected);
        PipesHarness harness(folder(QStringLiteral("crafted")));
        const QString start = primed(harness, m_valid);
        QVERIFY2(start.isEmpty(), qPrintable(start));
        const QString why = harness.feed(input);
        if (!why.isEmpty()) {
            const QString kept = keepInput(QLatin1String(QTest::currentDataTag()), input);
            QFAIL(qPrintable(QStringLiteral("(input kept as %1): %2").arg(kept, why)));
        }
        QCOMPARE(harness.loaded > 1 ? harness.outcome(oddKey) : QStringLiteral("rejected"), expected);
        ++m_pipesCrafted;
        m_pipesCraftedLoaded += harness.loaded - 1;
    }

    void pipesUnreadable_data()
    {
        QTest::addColumn<bool>("folderInstead");
        QTest::newRow("missing file") << false;
        QTest::newRow("a folder by that name") << true;
    }

    void pipesUnreadable()
    {
        QFETCH(bool, folderInstead);
        const QString where = folder(QStringLiteral("unreadable"));
        PipesHarness harness(where);
        const QString start = primed(harness, m_valid);
        QVERIFY2(start.isEmpty(), qPrintable(start));
        const QString path = where + QStringLiteral("/absent.json");
        if (folderInstead)
            QVERIFY(QDir().mkpath(path));
        const QString why = harness.feedUnreadable(path);
        QVERIFY2(why.isEmpty(), qPrintable(why));
    }

    // Generated setupc.exe output, many texts per case.
    void outputFuzz_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<int>("count");
        QTest::newRow("ASCII text") << "ascii" << 0xC0A10001u << 4000;
        QTest::newRow("Latin-1 bytes") << "latin1" << 0xC0A10002u << 4000;
        QTest::newRow("setupc-like listing") << "listing" << 0xC0A10003u << 2000;
        QTest::newRow("text without COM") << "nocom" << 0xC0A10004u << 2000;
    }

    void outputFuzz()
    {
        QFETCH(QString, kind);
        QFETCH(quint32, seed);
        QFETCH(int, count);
        QRandomGenerator rng(seed);
        int names = 0;
        for (int i = 0; i < count; ++i) {
            QString text;
            if (kind == QLatin1String("ascii") || kind == QLatin1String("nocom")) {
                text = randomOutput(rng, false);
            } else if (kind == QLatin1String("latin1")) {
                text = randomOutput(rng, true);
            } else if (kind == QLatin1String("listing")) {
                text = setupcListing(rng);
            } else {
                QFAIL("unknown kind of input");
            }
            if (kind == QLatin1String("nocom")) {
                // Taking out one "COM" can join its neighbours into a new one: repeat.
                while (text.contains(QLatin1String("COM")))
                    text.remove(QLatin1String("COM"));
                if (!Setupc::portNames(text).isEmpty())
                    QFAIL(qPrintable(QStringLiteral("input %1: names from a text without COM").arg(i)));
            }
            const QString why = checkOutput(text);
            if (!why.isEmpty()) {
                const QString label = QStringLiteral("%1-%2").arg(QLatin1String(QTest::currentDataTag())).arg(i);
                QFAIL(qPrintable(QStringLiteral("input %1 (kept as Latin-1 in %2): %3")
                                     .arg(i)
                                     .arg(keepInput(label, text.toLatin1()), why)));
            }
            names += Setupc::portNames(text).size();
        }
        qInfo("setupc output %s (seed 0x%08x): %d inputs, %d names in all", QTest::currentDataTag(), seed,
              count, names);
        if (kind != QLatin1String("nocom"))
            QVERIFY2(names > 0, "no input held a name");
    }

    void outputCrafted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");

        QRandomGenerator rng(0xC0A10005u);
        for (int count : {10000, 10001, 2, 1, 0}) {
            QStringList names;
            const QString text = manyNames(rng, count, &names);
            QTest::addRow("%d names", count) << text << names;
        }
        const QString digits500 = QString(500, QLatin1Char('7'));
        QTest::newRow("500-digit name") << "COM" + digits500 << QStringList{"COM" + digits500};
        QTest::newRow("500-digit names, two")
            << "x COM" + digits500 + " COM0" + digits500 << QStringList{"COM" + digits500, "COM0" + digits500};
        QTest::newRow("COM at the very end") << "COM1 COM2 COM" << QStringList{"COM1", "COM2"};
        QTest::newRow("CO at the very end") << "COM3 CO" << QStringList{"COM3"};
        QTest::newRow("COM alone") << "COM" << QStringList();
        QTest::newRow("name at the very end") << "ports: COM9" << QStringList{"COM9"};
        QTest::newRow("COMCOM1") << "COMCOM1" << QStringList{"COM1"};
        QTest::newRow("COM1COM2") << "COM1COM2" << QStringList{"COM1", "COM2"};
        QTest::newRow("CCOOMCOM5") << "CCOOMCOM5" << QStringList{"COM5"};
        QTest::newRow("COMCOMCOM") << "COMCOMCOM" << QStringList();
        QTest::newRow("COM12COM") << "COM12COM" << QStringList{"COM12"};
        QTest::newRow("inside words") << "XCOM1Y_COM02z" << QStringList{"COM1", "COM02"};
        QTest::newRow("blank after COM") << "COM 1" << QStringList();
        QTest::newRow("lower case") << "com1 Com2 cOM3" << QStringList();
        QTest::newRow("superscript digit") << QString::fromLatin1("COM\xb9 COM\xb2") << QStringList();
        QTest::newRow("NUL between") << QString::fromLatin1("COM1\0COM2", 9) << QStringList{"COM1", "COM2"};
        QTest::newRow("empty") << QString() << QStringList();
        QTest::newRow("listing")
            << "       CNCA0 PortName=COM5,EmuBR=yes\r\n       CNCB0 PortName=COM6\r\n"
            << QStringList{"COM5", "COM6"};
    }

    void outputCrafted()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        const QStringList names = Setupc::portNames(text);
        QCOMPARE(names.size(), expected.size());
        QCOMPARE(names, expected);
        const QString why = checkPairs(names);
        QVERIFY2(why.isEmpty(), qPrintable(why));
        ++m_outputCrafted;
    }

    // Lists of any strings, not only port names: pairing must not care what they hold.
    void pairsFuzz()
    {
        const quint32 seed = 0xC0A10006u;
        const int count = 2000;
        QRandomGenerator rng(seed);
        for (int i = 0; i < count; ++i) {
            QStringList names;
            for (int n = rng.bounded(i < 100 ? 4 : 60); n > 0; --n)
                names << (rng.bounded(5) ? QStringLiteral("COM%1").arg(rng.bounded(50)) : QString());
            const QString why = checkPairs(names);
            if (!why.isEmpty())
                QFAIL(qPrintable(QStringLiteral("list %1 (%2): %3").arg(i).arg(names.join(u','), why)));
        }
        qInfo("setupc pairs of random lists (seed 0x%08x): %d inputs", seed, count);
    }
};

QTEST_GUILESS_MAIN(TestFuzz)
#include "tst_fuzz.moc"
