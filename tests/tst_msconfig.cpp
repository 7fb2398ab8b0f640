// The settings store: defaults, what is written, and values written by others.
#include "msconfig.h"
#include "windowtest.h"

#include <QtTest>

// The store lives under XDG_CONFIG_HOME, pointed at a private folder.
static const QString kConfigHome = WindowTest::privateXdgFolder("XDG_CONFIG_HOME");

class TestMsConfig : public QObject
{
    Q_OBJECT

private:
    static QString storeFile() { return kConfigHome + "/Vantrel/Tovimex.conf"; }

private slots:
    void init() { QFile::remove(storeFile()); }

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
        QVERIFY2(QFile::exists(storeFile()), qPrintable(storeFile()));
        QSettings raw(storeFile(), QSettings::IniFormat);
        QCOMPARE(raw.allKeys().size(), 5);
        QCOMPARE(raw.value("AutoLoad").toString(), QString("true"));
        QCOMPARE(raw.value("Logic").toString(), QString("true"));
        QCOMPARE(raw.value("AddDevice").toString(), QString("false"));
        QCOMPARE(raw.value("DelDevice").toString(), QString("false"));
        QCOMPARE(raw.value("WorkDir").toString(), QString("C:/Работа"));

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
        QSettings raw(storeFile(), QSettings::IniFormat);
        QCOMPARE(raw.value("Logic").toString(), truth ? QString("true") : QString("false"));
        QCOMPARE(raw.value("WorkDir").toString(), QString("D:\\чужая папка"));
    }
};

QTEST_GUILESS_MAIN(TestMsConfig)
#include "tst_msconfig.moc"
