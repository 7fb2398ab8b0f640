// The virtual port manager dialog, driven through its buttons against a fake setupc.exe that
// records every call and prints the output each test chooses.
#include "devicedialog.h"
#include "serialports.h"

#include "guitest.h"
#include "testsupport.h"

#include <QtTest>
#include <QtWidgets>

using TestSupport::FakeSetupc;

namespace {

const QString Initial = QStringLiteral("Список портов");

QStringList rowTexts(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

// A listing of n pairs COM1<->COM2, COM3<->COM4, ...
QByteArray listing(int pairs)
{
    QByteArray out;
    for (int i = 0; i < pairs; ++i) {
        out += QByteArray("CNCA") + QByteArray::number(i) + " PortName=COM" + QByteArray::number(2 * i + 1) + '\n';
        out += QByteArray("CNCB") + QByteArray::number(i) + " PortName=COM" + QByteArray::number(2 * i + 2) + '\n';
    }
    return out;
}

const QByteArray TwoPairs = "       CNCA0 PortName=COM5\n       CNCB0 PortName=COM6\n"
                            "       CNCA1 PortName=COM7\n       CNCB1 PortName=COM8\n";

} // namespace

class TestDeviceDialog : public QObject
{
    Q_OBJECT

private:
    FakeSetupc m_fake;
    TestSupport::ListedPorts m_ports;
    QScopedPointer<QTemporaryDir> m_tmp;
    QByteArray m_savedRuntime;
    DeviceDialog *m_dialog = nullptr;
    QSignalSpy *m_status = nullptr;
    QList<GuiTest::Box> m_boxes;

    static QString folder() { return FakeSetupc::folder(); }
    static QString program() { return FakeSetupc::program(); }

    void setOutput(const QString &request, const QByteArray &bytes, int call = 0)
    {
        QVERIFY(m_fake.setOutput(request, bytes, call));
    }
    QList<QStringList> calls() const { return m_fake.calls(); }

    QStringList statuses() const
    {
        QStringList texts;
        for (const QList<QVariant> &args : *m_status)
            texts << args.at(0).toString();
        return texts;
    }

    QListWidget *list() const { return m_dialog->findChild<QListWidget *>(QStringLiteral("lwCOM")); }
    QSpinBox *pairBox() const { return m_dialog->findChild<QSpinBox *>(QStringLiteral("edPara")); }

    // Every message box that comes up is recorded and answered with the next planned answer; one
    // that was not planned is closed, so a wrong box fails the checks instead of hanging the run.
    void press(const QString &name, const QList<QMessageBox::StandardButton> &answers = {})
    {
        auto *button = m_dialog->findChild<QPushButton *>(name);
        QVERIFY2(button, qPrintable(name + " is missing"));
        GuiTest::Answers boxes(answers);
        button->click();
        m_boxes << boxes.boxes;
        QVERIFY2(boxes.planUsed(), "a planned message box did not come up");
    }

    void refresh(const QByteArray &output)
    {
        setOutput(QStringLiteral("list"), output);
        press(QStringLiteral("btList"));
    }

    void clickRow(int row)
    {
        QListWidget *widget = list();
        QVERIFY(row < widget->count());
        if (!m_dialog->isVisible()) {
            m_dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
        }
        QListWidgetItem *item = widget->item(row);
        widget->scrollToItem(item);
        const QRect rect = widget->visualItemRect(item);
        QVERIFY(!rect.isEmpty());
        QTest::mouseClick(widget->viewport(), Qt::LeftButton, {}, rect.center());
    }

    // The names an add must propose: above the highest number among the ports this machine has.
    static QPair<QString, QString> proposedNames()
    {
        static const QRegularExpression digits(QStringLiteral("\\d+"));
        int highest = 1;
        for (const QString &name : SerialPorts::portNames())
            highest = qMax(highest, digits.match(name).captured(0).toInt());
        return {QStringLiteral("COM%1").arg(highest + 1), QStringLiteral("COM%1").arg(highest + 2)};
    }

    void makeVirtualPorts(const QStringList &names)
    {
        for (const QString &name : names) {
            QString why;
            QVERIFY2(m_ports.add(name, &why), qPrintable(why));
        }
    }

private slots:
    void initTestCase()
    {
        m_savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        GuiTest::watchUnplanned();
    }

    void cleanupTestCase()
    {
        if (m_savedRuntime.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", m_savedRuntime);
    }

    void init()
    {
        m_tmp.reset(new QTemporaryDir);
        QVERIFY(m_tmp->isValid());
        // Virtual ports of this machine would change what an add proposes; each test sees its own.
        const QString runtime = m_tmp->filePath(QStringLiteral("runtime"));
        QVERIFY(QDir().mkpath(runtime));
        QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        QString why;
        QVERIFY2(m_fake.install(&why), qPrintable(why));

        m_boxes.clear();
        m_dialog = new DeviceDialog(nullptr);
        m_status = new QSignalSpy(m_dialog, &DeviceDialog::sendStatus);
        QVERIFY(m_status->isValid());
    }

    void cleanup()
    {
        delete m_status;
        m_status = nullptr;
        delete m_dialog;
        m_dialog = nullptr;
        FakeSetupc::remove();
        m_ports.clear();
        m_tmp.reset();
        GuiTest::checkNoUnplanned();
    }

    void opensWithoutListing()
    {
        QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Управление VCOM"));
        QCOMPARE(rowTexts(list()), QStringList{Initial});
        QVERIFY(calls().isEmpty());
        QCOMPARE(m_status->count(), 0);
    }

    void refreshShowsOutputAndPairs_data()
    {
        QTest::addColumn<bool>("tool");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QStringList>("rows");

        QTest::newRow("two pairs") << true << QByteArray("Liste \xe9tendue\n") + TwoPairs
                                   << QStringList{QString::fromLatin1("Liste \xe9tendue\n") + QString::fromLatin1(TwoPairs),
                                                  "Порты 0: COM5<->COM6", "Порты 1: COM7<->COM8"};
        QTest::newRow("names on one line") << true << QByteArray("COM10 COM11COM12 COM13")
                                           << QStringList{"COM10 COM11COM12 COM13", "Порты 0: COM10<->COM11",
                                                          "Порты 1: COM12<->COM13"};
        QTest::newRow("odd count") << true << QByteArray("COM1 COM2 COM3\n")
                                   << QStringList{"COM1 COM2 COM3\n", "Порты 0: COM1<->COM2"};
        QTest::newRow("single name") << true << QByteArray("CNCA0 PortName=COM4\n")
                                     << QStringList{"CNCA0 PortName=COM4\n"};
        QTest::newRow("lower case") << true << QByteArray("com1 com2\n") << QStringList{"com1 com2\n"};
        QTest::newRow("nothing printed") << true << QByteArray() << QStringList{QString()};
        QTest::newRow("tool missing") << false << QByteArray("COM1 COM2\n") << QStringList{QString()};
    }

    void refreshShowsOutputAndPairs()
    {
        QFETCH(bool, tool);
        QFETCH(QByteArray, output);
        QFETCH(QStringList, rows);
        if (!tool)
            QVERIFY(m_fake.removeProgram());

        // A second refresh replaces the first one's rows instead of adding to them.
        for (int round = 1; round <= 2; ++round) {
            refresh(output);
            QCOMPARE(rowTexts(list()), rows);
            for (int row = 1; row < list()->count(); ++row)
                QCOMPARE(list()->item(row)->data(Qt::UserRole), QVariant(row - 1));
            QVERIFY(!list()->item(0)->data(Qt::UserRole).isValid());
            QList<QStringList> listCalls;
            QStringList listStatuses;
            for (int i = 0; i < round; ++i) {
                if (tool)
                    listCalls << QStringList{"list"};
                listStatuses << program();
            }
            QCOMPARE(calls(), listCalls);
            QCOMPARE(statuses(), listStatuses);
        }
    }

    // 1 MiB of 20-byte port lines, the last one cut: 52428 names, 26214 pairs.
    void refreshOfAToolThatPrintsWithoutEnd()
    {
        QVERIFY(m_fake.setEndless("list", "flood"));
        press(QStringLiteral("btList"));
        QCOMPARE(list()->count(), 2 + 26214);
        QCOMPARE(list()->item(0)->text(),
                 QStringLiteral("Вывод setupc.exe длиннее 1024 КиБ: остальное отброшено, setupc.exe остановлен"));
        QCOMPARE(list()->item(1)->text().size(), 1 << 20);
    }

    void rowClickSetsPairNumber_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("pair");

        QTest::newRow("output row") << TwoPairs << 0 << 0;
        QTest::newRow("first pair") << TwoPairs << 1 << 0;
        QTest::newRow("second pair") << TwoPairs << 2 << 1;
        QTest::newRow("pair 10") << listing(13) << 11 << 10;
        QTest::newRow("pair 12") << listing(13) << 13 << 12;
    }

    void rowClickSetsPairNumber()
    {
        QFETCH(QByteArray, output);
        QFETCH(int, row);
        QFETCH(int, pair);

        refresh(output);
        // Start from a value the click has to change.
        pairBox()->setValue(pair == 1 ? 0 : 1);
        QVERIFY(pairBox()->value() != pair);
        clickRow(row);
        QCOMPARE(pairBox()->value(), pair);
    }

    void addProposesNamesAboveEveryPort_data()
    {
        QTest::addColumn<QStringList>("virtualPorts");

        QTest::newRow("system ports only") << QStringList();
        QTest::newRow("COM1 and COM12") << QStringList{"COM1", "COM12"};
        QTest::newRow("COM150") << QStringList{"COM3", "COM150"};
    }

    void addProposesNamesAboveEveryPort()
    {
        QFETCH(QStringList, virtualPorts);
        makeVirtualPorts(virtualPorts);
        for (const QString &name : virtualPorts)
            QVERIFY2(SerialPorts::portNames().contains(name), qPrintable(name + " is not among the ports"));

        const QPair<QString, QString> names = proposedNames();
        press(QStringLiteral("btAdd"), {QMessageBox::No});

        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.at(0).title, QStringLiteral("Установка виртуальных устройств"));
        QCOMPARE(m_boxes.at(0).text,
                 QStringLiteral("Добавить новою пару портов\nввода/вывода?\n") + names.first + " <-> " + names.second);
        QCOMPARE(m_boxes.at(0).buttons, QMessageBox::Yes | QMessageBox::No);
        // Answered No: nothing is run and the list is as it was.
        QVERIFY(calls().isEmpty());
        QCOMPARE(rowTexts(list()), QStringList{Initial});
        QCOMPARE(m_status->count(), 0);
    }

    void addOutcome_data()
    {
        QTest::addColumn<bool>("tool");
        QTest::addColumn<QByteArray>("installOutput");
        QTest::addColumn<bool>("added");

        const QByteArray made = "       CNCA2 PortName=COM40\n       CNCB2 PortName=COM41\n";
        QTest::newRow("added") << true << made + "ComDB: COM40 - logged as \"in use\"\n" << true;
        QTest::newRow("marker without quotes") << true << made + "ComDB: COM40 - logged as in use\n" << false;
        QTest::newRow("marker in other case") << true << made + "ComDB: COM40 - Logged as \"In use\"\n" << false;
        QTest::newRow("nothing printed") << true << QByteArray() << false;
        QTest::newRow("tool missing") << false << QByteArray() << false;
    }

    void addOutcome()
    {
        QFETCH(bool, tool);
        QFETCH(QByteArray, installOutput);
        QFETCH(bool, added);

        // What the add writes goes below what the list already shows.
        refresh(TwoPairs);
        const QStringList before = rowTexts(list());
        m_status->clear();
        setOutput(QStringLiteral("install"), installOutput);
        const QByteArray relisted = TwoPairs + "       CNCA2 PortName=COM40\n       CNCB2 PortName=COM41\n";
        setOutput(QStringLiteral("list"), relisted);
        if (!tool)
            QVERIFY(m_fake.removeProgram());

        const QPair<QString, QString> names = proposedNames();
        QList<QMessageBox::StandardButton> answers{QMessageBox::Yes};
        if (!added)
            answers << QMessageBox::Ok;
        press(QStringLiteral("btAdd"), answers);

        QStringList rows = before;
        QList<QStringList> expectedCalls{{"list"}};
        QStringList expectedStatuses;
        if (!tool) {
            rows << "setupc.exe not found!";
        } else {
            rows << "Add ports" << "Path: " + folder() << QString::fromLatin1(installOutput);
            expectedCalls << QStringList{"install PortName=" + names.first + " PortName=" + names.second};
            expectedStatuses << folder();
            if (added) {
                rows << QString::fromLatin1(relisted) << "Порты 0: COM5<->COM6" << "Порты 1: COM7<->COM8"
                     << "Порты 2: COM40<->COM41";
                expectedCalls << QStringList{"list"};
                expectedStatuses << program();
            } else {
                rows << "setupc.exe install ports error!";
            }
        }
        QCOMPARE(rowTexts(list()), rows);
        QCOMPARE(calls(), expectedCalls);
        QCOMPARE(statuses(), expectedStatuses);

        QCOMPARE(m_boxes.size(), added ? 1 : 2);
        if (!added) {
            QCOMPARE(m_boxes.at(1).title, QStringLiteral("Добавление VCOM"));
            QCOMPARE(m_boxes.at(1).text, QStringLiteral("НЕ! удалось добавить виртуальные порты!"));
            QCOMPARE(m_boxes.at(1).icon, QMessageBox::Warning);
            QCOMPARE(m_boxes.at(1).buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
    }

    void remove_data()
    {
        QTest::addColumn<QByteArray>("output"); // empty: no refresh before the click
        QTest::addColumn<int>("row");           // the row clicked first, -1 for none
        QTest::addColumn<bool>("tool");
        QTest::addColumn<int>("answer"); // NoButton: no question expected
        QTest::addColumn<QString>("question");
        QTest::addColumn<int>("pair"); // -1: nothing is removed

        QTest::newRow("before any listing") << QByteArray() << -1 << true << int(QMessageBox::NoButton) << QString() << -1;
        QTest::newRow("listing without pairs") << QByteArray("no ports\n") << 0 << true << int(QMessageBox::NoButton)
                                               << QString() << -1;
        QTest::newRow("first pair") << TwoPairs << 1 << true << int(QMessageBox::Yes)
                                    << "COM5 <-> COM6, Удалить порты ?" << 0;
        QTest::newRow("second pair") << TwoPairs << 2 << true << int(QMessageBox::Yes)
                                     << "COM7 <-> COM8, Удалить порты ?" << 1;
        QTest::newRow("output row picks pair 0") << TwoPairs << 0 << true << int(QMessageBox::Yes)
                                                 << "COM5 <-> COM6, Удалить порты ?" << 0;
        QTest::newRow("pair 12") << listing(13) << 13 << true << int(QMessageBox::Yes)
                                 << "COM25 <-> COM26, Удалить порты ?" << 12;
        QTest::newRow("answer No") << TwoPairs << 2 << true << int(QMessageBox::No) << "COM7 <-> COM8, Удалить порты ?"
                                   << -1;
        QTest::newRow("tool missing") << TwoPairs << 1 << false << int(QMessageBox::Yes)
                                      << "COM5 <-> COM6, Удалить порты ?" << -1;
    }

    void remove()
    {
        QFETCH(QByteArray, output);
        QFETCH(int, row);
        QFETCH(bool, tool);
        QFETCH(int, answer);
        QFETCH(QString, question);
        QFETCH(int, pair);

        if (!output.isEmpty())
            refresh(output);
        if (row >= 0) {
            // From the far end, so the click has to bring the pair number where the row says.
            pairBox()->setValue(pairBox()->maximum());
            clickRow(row);
        }
        const QStringList before = rowTexts(list());
        const int callsBefore = calls().size();
        m_status->clear();
        const QByteArray removed = "Removed CNCA0 PortName=COM5\nRemoved CNCB0 PortName=COM6\n";
        setOutput(QStringLiteral("remove"), removed);
        // The listing just before the removal is the one the refresh showed; after it, another.
        const QByteArray after = "CNCA0 PortName=COM9\nCNCB0 PortName=COM10\n";
        setOutput(QStringLiteral("list"), after, 3);
        if (!tool)
            QVERIFY(m_fake.removeProgram());

        QList<QMessageBox::StandardButton> answers;
        if (answer != QMessageBox::NoButton)
            answers << QMessageBox::StandardButton(answer);
        press(QStringLiteral("btDel"), answers);

        if (question.isEmpty()) {
            QCOMPARE(m_boxes.size(), 0);
        } else {
            QCOMPARE(m_boxes.size(), 1);
            QCOMPARE(m_boxes.at(0).title, QStringLiteral("Удаление пары портов"));
            QCOMPARE(m_boxes.at(0).text, question);
            QCOMPARE(m_boxes.at(0).buttons, QMessageBox::Yes | QMessageBox::No);
        }

        const QList<QStringList> made = calls().mid(callsBefore);
        if (pair >= 0) {
            QCOMPARE(made, (QList<QStringList>{{"list"}, {"remove", QString::number(pair)}, {"list"}}));
            QCOMPARE(rowTexts(list()),
                     (QStringList{"Delete...", "Command: remove " + QString::number(pair), QString::fromLatin1(removed),
                                  QString::fromLatin1(after), "Порты 0: COM9<->COM10"}));
            QCOMPARE(statuses(), (QStringList{program() + " delete device", program()}));
        } else {
            QVERIFY(made.isEmpty());
            QCOMPARE(statuses(), QStringList());
            if (answer == QMessageBox::Yes)
                QCOMPARE(rowTexts(list()), QStringList{"Неверный путь setupc.exe..."});
            else
                QCOMPARE(rowTexts(list()), before);
        }
    }

    // The pairs after a removed one move up a place: a second remove, without a refresh, must
    // ask about the pair that now has the number, not the one just removed.
    void removeListsThePairsAgain()
    {
        refresh(TwoPairs);
        clickRow(1);
        setOutput(QStringLiteral("list"), "CNCA0 PortName=COM7\nCNCB0 PortName=COM8\n", 3);
        press(QStringLiteral("btDel"), {QMessageBox::Yes});
        press(QStringLiteral("btDel"), {QMessageBox::No});
        QCOMPARE(m_boxes.size(), 2);
        QCOMPARE(m_boxes.at(0).text, QStringLiteral("COM5 <-> COM6, Удалить порты ?"));
        QCOMPARE(m_boxes.at(1).text, QStringLiteral("COM7 <-> COM8, Удалить порты ?"));
    }

    // A pair that ended between the refresh and the click has moved the others: the number the
    // user chose now names another pair, or none, and nothing may be removed.
    void removeRefusesAStaleListing_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("the next pair took its number") << 1 << "COM5<->COM6 уже не пара 0: ничего не удалено";
        QTest::newRow("its number is gone") << 2 << "COM7<->COM8 уже не пара 1: ничего не удалено";
    }

    void removeRefusesAStaleListing()
    {
        QFETCH(int, row);
        QFETCH(QString, refusal);
        refresh(TwoPairs);
        clickRow(row);
        const QByteArray now = "CNCA0 PortName=COM7\nCNCB0 PortName=COM8\n";
        setOutput(QStringLiteral("list"), now, 2);
        press(QStringLiteral("btDel"), {QMessageBox::Yes});
        QCOMPARE(calls(), (QList<QStringList>{{"list"}, {"list"}}));
        QCOMPARE(rowTexts(list()), (QStringList{"Delete...", refusal, QString::fromLatin1(now), "Порты 0: COM7<->COM8"}));
    }

    void exitEndsTheModalRun()
    {
        auto *quit = m_dialog->findChild<QPushButton *>(QStringLiteral("btCancel"));
        QVERIFY(quit);
        GuiTest::clickInModal(QStringLiteral("btCancel"));
        QCOMPARE(m_dialog->exec(), int(QDialog::Rejected));
        QVERIFY(!m_dialog->isVisible());
        QVERIFY(calls().isEmpty());
    }
};

QTEST_MAIN(TestDeviceDialog)
#include "tst_devicedialog.moc"
