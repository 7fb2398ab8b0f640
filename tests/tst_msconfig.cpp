// The settings store: defaults, what is written, and values written by others.
#include "msconfig.h"
#include "windowtest.h"
#include "wintools/registry.h"

#include <QtTest>

#include <memory>

#ifdef Q_OS_WIN
// The program's own key, the user's real settings: saved before the first test, put back after
// the last.
static const QString kKey = QStringLiteral("Software\\Vantrel\\Tovimex");
#else
// The store lives under XDG_CONFIG_HOME, pointed at a private folder.
static const QString kConfigHome = WindowTest::privateXdgFolder("XDG_CONFIG_HOME");
#endif

class TestMsConfig : public QObject
{
    Q_OBJECT

private:
#ifdef Q_OS_WIN
    std::unique_ptr<Registry::Backup> m_userSettings;

    // The key's values as the registry holds them; a value that is no string shows its type.
    static QMap<QString, QString> inStore() { return Registry::values(HKEY_CURRENT_USER, kKey); }
    static void removeStore() { Registry::removeKey(HKEY_CURRENT_USER, kKey); }
#else
    static QString storeFile() { return kConfigHome + "/Vantrel/Tovimex.conf"; }

    static QMap<QString, QString> inStore()
    {
        QMap<QString, QString> values;
        const QSettings raw(storeFile(), QSettings::IniFormat);
        for (const QString &key : raw.allKeys())
            values.insert(key, raw.value(key).toString());
        return values;
    }
    static void removeStore() { QFile::remove(storeFile()); }
#endif

private slots:
#ifdef Q_OS_WIN
    void initTestCase() { m_userSettings.reset(new Registry::Backup(HKEY_CURRENT_USER, kKey)); }
    void cleanupTestCase() { m_userSettings->restore(); }
#endif
    void init() { removeStore(); }

    void firstStartDefaults()
    {
        MsConfig config("Vantrel", "Tovimex");
        config.autoLoad = config.writeLog = config.addDevice = config.delDevice = true;
        config.read();
        QVERIFY(!config.autoLoad);
        QVERIFY(!config.writeLog);
        QVERIFY(!config.addDevice);
        QVERIFY(!config.delDevice);
        QCOMPARE(config.workDir, QString());
    }

    void saveWritesEveryKey()
    {
        {
            MsConfig config("Vantrel", "Tovimex");
            config.read();
            config.autoLoad = true;
            config.writeLog = true;
            config.workDir = "C:/Работа";
            config.save();
        }
        // five values at the top of the store, the switches as the texts true and false
        const QMap<QString, QString> expected{{"AutoLoad", "true"},
                                              {"Logic", "true"},
                                              {"AddDevice", "false"},
                                              {"DelDevice", "false"},
                                              {"WorkDir", "C:/Работа"}};
        QCOMPARE(inStore(), expected);

        MsConfig again("Vantrel", "Tovimex");
        again.read();
        QVERIFY(again.autoLoad);
        QVERIFY(again.writeLog);
        QVERIFY(!again.addDevice);
        QCOMPARE(again.workDir, QString("C:/Работа"));
    }

    void valuesOfOtherForms_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("truth");
        QTest::newRow("number 1") << QVariant(1) << true;
        QTest::newRow("number 0") << QVariant(0) << false;
        QTest::newRow("text FALSE") << QVariant("FALSE") << false;
        QTest::newRow("text 0") << QVariant("0") << false;
        QTest::newRow("empty text") << QVariant("") << false;
        QTest::newRow("text yes") << QVariant("yes") << true;
        QTest::newRow("text 2") << QVariant("2") << true;
    }

    void valuesOfOtherForms()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, truth);
        {
            QSettings other("Vantrel", "Tovimex");
            other.setValue("Logic", stored);
            other.setValue("WorkDir", "D:\\чужая папка");
        }
        MsConfig config("Vantrel", "Tovimex");
        config.read();
        QCOMPARE(config.writeLog, truth);
        config.save();
        // written back as a boolean of the same truth, the folder unchanged
        QCOMPARE(inStore().value("Logic"), truth ? QString("true") : QString("false"));
        QCOMPARE(inStore().value("WorkDir"), QString("D:\\чужая папка"));
    }
};

QTEST_GUILESS_MAIN(TestMsConfig)
#include "tst_msconfig.moc"
