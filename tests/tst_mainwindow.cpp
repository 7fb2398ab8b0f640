// The main window: its frame, the connection commands, start and stop with the worker threads,
// editing, settings and the exit question.
#include "mainwindow.h"
#include "msconfig.h"
#include "qpipemap.h"

#include "guitest.h"
#include "testsupport.h"
#include "windowtest.h"

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPlainTextEdit>
#include <QSemaphore>
#include <QSerialPort>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QLabel>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QThread>
#include <QToolBar>
#include <QtTest>

#include <atomic>
#include <memory>

using namespace GuiTest;
using namespace TestSupport;
using namespace WindowTest;

// Settings, the autostart entry and the virtual-port folder go to private folders.
static const QString kConfigHome = WindowTest::privateXdgFolder("XDG_CONFIG_HOME");
static const QString kRuntimeDir = WindowTest::privateXdgFolder("XDG_RUNTIME_DIR");

// Notes the status line each time a main window under construction takes a child, from the
// moment its status bar is whole.
class StatusWhileBuilt : public QObject
{
public:
    QStringList statuses;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ChildAdded && watched->inherits("MainWindow")) {
            const auto *bar = watched->findChild<QStatusBar *>(QString(), Qt::FindDirectChildrenOnly);
            if (bar && !bar->currentMessage().isEmpty()
                && (statuses.isEmpty() || statuses.last() != bar->currentMessage()))
                statuses << bar->currentMessage();
        }
        return false;
    }
};

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScratchFolder> m_work;
    FakeSetupc m_fake;

    static QStringList column(MainWindow &w, int c)
    {
        QStringList texts;
        for (int r = 0; r < table(w)->rowCount(); ++r)
            texts << (table(w)->item(r, c) ? table(w)->item(r, c)->text() : QString());
        return texts;
    }

    static QList<QThread *> workers(MainWindow &w) { return w.findChildren<QThread *>(); }

    // The log pane's lines that start with prefix.
    static QStringList linesOf(MainWindow &w, const QString &prefix)
    {
        const QStringList all = logText(w).split('\n');
        QStringList mine;
        for (const QString &line : all) {
            if (line.startsWith(prefix))
                mine << line;
        }
        return mine;
    }

    // The tooltip of a row's state picture.
    static QString stateTip(MainWindow &w, int row)
    {
        const QWidget *label = table(w)->cellWidget(row, 2);
        return label ? label->toolTip() : QString();
    }

    // Adds a connection through the dialog with the given name.
    static void addThroughDialog(MainWindow &w, const QString &name)
    {
        clickInModal("btAdd", [name](QWidget *dialog) {
            dialog->findChild<QLineEdit *>("edName")->setText(name);
        });
        action(w, "actAddConnect")->trigger();
    }

private slots:
    void initTestCase()
    {
        // A window closed by a test must not end the test's own event loop.
        QApplication::setQuitOnLastWindowClosed(false);
        watchUnplanned();
    }

    void init()
    {
        m_work = std::make_unique<ScratchFolder>();
        QVERIFY(m_work->isValid());
        clearStoredSettings();
    }

    void cleanup()
    {
        FakeSetupc::remove();
        m_work.reset();
        checkNoUnplanned();
    }

    void frame()
    {
        // The pane's lines go to the logging category too, each with its time.
        QLoggingCategory::setFilterRules("vantrelvcom.log.debug=true");
        MessageLog::install();
        const auto quiet = qScopeGuard([] {
            MessageLog::uninstall();
            QLoggingCategory::setFilterRules(QString());
        });
        auto w = makeWindow();
        QCOMPARE(w->windowTitle(), QString("Vantrel-VCom V1.0.0"));

        QStringList menus;
        for (QAction *menu : w->menuBar()->actions()) {
            QStringList entries;
            for (QAction *a : menu->menu()->actions()) {
                entries << (a->isSeparator() ? "-" : a->text());
                if (!a->isSeparator())
                    QVERIFY2(!a->icon().isNull(), qPrintable(a->text()));
            }
            menus << menu->text() + ": " + entries.join(" | ");
        }
        QCOMPARE(menus, QStringList({
                            "Файл: Монитор... | - | Выйти",
                            "Устройства: Управление виртуальными портами... | - | Удаление всех...",
                            "Соединения: Запусить... | Оставновить... | - | Добавить виртуальное соединение | "
                            "Удалить виртуальное соединение",
                            "Помощь: Помощь... | - | О программе...",
                        }));

        QStringList bars;
        for (QToolBar *bar : w->findChildren<QToolBar *>()) {
            QCOMPARE(bar->iconSize(), QSize(32, 32));
            QStringList entries;
            for (QAction *a : bar->actions()) {
                if (a->isSeparator())
                    entries << "-";
                else if (auto *box = qobject_cast<QCheckBox *>(bar->widgetForAction(a)))
                    entries << "[" + box->text() + "]";
                else
                    entries << a->text();
            }
            bars << bar->windowTitle() + ": " + entries.join(" | ");
        }
        QCOMPARE(bars, QStringList({
                           "Устройства: Управление виртуальными портами...",
                           "Соединения: Добавить виртуальное соединение | Удалить виртуальное соединение",
                           "Работа: Запусить... | Оставновить...",
                           "Инструменты: Монитор... | - | [Авто загрузка]",
                       }));

        QTableWidget *t = table(*w);
        QStringList headers;
        QList<int> widths;
        for (int c = 0; c < t->columnCount(); ++c) {
            headers << t->horizontalHeaderItem(c)->text();
            widths << t->columnWidth(c);
        }
        QCOMPARE(headers, QStringList({"ID", "NAME", "ST", "VCOM_WORK", "VCOM_NULL", "IP", "PORT", "NOTE"}));
        QCOMPARE(widths.mid(0, 7), QList<int>({40, 230, 22, 90, 90, 150, 100}));
        QCOMPARE(t->rowCount(), 0);
        QCOMPARE(t->editTriggers(), QAbstractItemView::NoEditTriggers);

        // first start: no file yet
        QCOMPARE(status(*w), QString("Статус: Error! Pipe collection load"));
        auto *log = w->findChild<QPlainTextEdit *>("plnText");
        QCOMPARE(logText(*w).split('\n').first(), QString("State list..."));
        const QString folder = QDir::toNativeSeparators(QDir::currentPath());
        QVERIFY2(logText(*w).split('\n').contains(
                     QString("В папке %1 ещё нет таблицы соединений (pipes.json): таблица пуста, новая будет сохранена там")
                         .arg(folder)),
                 qPrintable(logText(*w)));
        QStringList categoryLines;
        for (const MessageLog::Entry &m : MessageLog::take()) {
            if (m.category == "vantrelvcom.log")
                categoryLines += m.text.split('\n');
        }
        const QStringList paneLines = log->toPlainText().split('\n');
        QCOMPARE(categoryLines.size(), paneLines.size());
        static const QRegularExpression timed("^\\d\\d:\\d\\d:\\d\\d ");
        for (int i = 0; i < paneLines.size(); ++i) {
            QVERIFY2(timed.match(categoryLines.at(i)).hasMatch(), qPrintable(categoryLines.at(i)));
            QCOMPARE(categoryLines.at(i).mid(9), paneLines.at(i).mid(9));
        }
        QCOMPARE(log->styleSheet(), QString("color:rgb(150,150,150);background-color:rgb(50,50,50);"));

        w.reset();
        QCOMPARE(readFile("pipes.json"), QByteArray("[\n]\n"));
    }

    void addDeleteAndTheLimit()
    {
        auto w = makeWindow();
        for (const char *name : {"one", "two", "three", "four"})
            addThroughDialog(*w, name);
        QCOMPARE(column(*w, 0), QStringList({"1", "2", "3", "4"}));
        QCOMPARE(column(*w, 1), QStringList({"one", "two", "three", "four"}));

        // a fifth is refused before any dialog opens
        Box full;
        answerBox(&full, QMessageBox::Ok);
        action(*w, "actAddConnect")->trigger();
        QVERIFY(full.seen);
        QCOMPARE(full.icon, QMessageBox::Critical);
        QCOMPARE(full.title, QString("Добавить соединение"));
        QCOMPARE(full.text, QString("Невозможно добавить соединение!\nМаксимальное количество 4"));
        QCOMPARE(collection(*w)->count(), 4);

        // delete the second: No keeps it, Yes removes it
        clickRow(*w, 1);
        Box ask;
        answerBox(&ask, QMessageBox::No);
        action(*w, "actDelConnect")->trigger();
        QCOMPARE(ask.icon, QMessageBox::Question);
        QCOMPARE(ask.title, QString("Удаление соединения"));
        QCOMPARE(ask.text, QString("Удалить two ID:2"));
        QCOMPARE(ask.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(collection(*w)->count(), 4);
        answerBox(&ask, QMessageBox::Yes);
        action(*w, "actDelConnect")->trigger();
        QCOMPARE(column(*w, 0), QStringList({"1", "3", "4"}));

        // the selection is stale now
        action(*w, "actDelConnect")->trigger();
        QCOMPARE(status(*w), QString("Статус: неверный индекс"));

        // ids: a removed middle id is not reused, the top one is
        addThroughDialog(*w, "five");
        QCOMPARE(column(*w, 0), QStringList({"1", "3", "4", "5"}));
        clickRow(*w, 3);
        answerBox(&ask, QMessageBox::Yes);
        action(*w, "actDelConnect")->trigger();
        addThroughDialog(*w, "again");
        QCOMPARE(column(*w, 0), QStringList({"1", "3", "4", "5"}));
        QCOMPARE(column(*w, 1).last(), QString("again"));

        // what the user made is in the file at the end
        w.reset();
        const QJsonArray saved = QJsonDocument::fromJson(readFile("pipes.json")).array();
        QCOMPARE(saved.size(), 4);
        QCOMPARE(saved.at(3).toObject().value("name").toString(), QString("again"));
    }

    void refusalsWithoutSelection_data()
    {
        QTest::addColumn<QString>("actionName");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("delete") << "actDelConnect" << int(QMessageBox::Critical) << "Удаление соединений"
                                << "Не выбрано соединение для удаления!";
        QTest::newRow("start") << "actStart" << int(QMessageBox::Warning) << "Запуск соединения"
                               << "Соединение не выбрано или неверный ID!";
        QTest::newRow("stop") << "actStop" << int(QMessageBox::Warning) << "Останов соединения"
                              << "Соединение не не выбрано или неверный ID!";
        QTest::newRow("monitor") << "actMonitor" << int(QMessageBox::Critical) << "Мониторинг соединения"
                                 << "Не выбрано соединение для мониторинга!";
    }

    void refusalsWithoutSelection()
    {
        QFETCH(QString, actionName);
        QFETCH(int, icon);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QVERIFY(writePipes({pipe(1, "/nonexistent/tty", closedPort())}));
        auto w = makeWindow();
        Box box;
        answerBox(&box, QMessageBox::Ok);
        action(*w, qPrintable(actionName))->trigger();
        QVERIFY(box.seen);
        QCOMPARE(int(box.icon), icon);
        QCOMPARE(box.title, title);
        QCOMPARE(box.text, text);
        QCOMPARE(box.buttons, QMessageBox::Ok);
        QVERIFY(workers(*w).isEmpty());
        QCOMPARE(collection(*w)->count(), 1);
    }

    void contextMenu()
    {
        QVERIFY(writePipes({pipe(1, "/nonexistent/tty", closedPort(), "first")}));
        auto w = makeWindow();
        Box box;
        answerBox(&box, QMessageBox::Ok);
        emit table(*w)->customContextMenuRequested(QPoint(5, 5));
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.title, QString("Объект"));
        QCOMPARE(box.text, QString("Объект не выбран или неверный ID!"));

        // with a selection: the three entries, and delete runs from there
        clickRow(*w, 0);
        QStringList entries;
        pickFromMenu("Удалить соединение...", &entries);
        Box ask;
        answerBox(&ask, QMessageBox::Yes);
        emit table(*w)->customContextMenuRequested(QPoint(5, 5));
        QCOMPARE(entries, QStringList({"Запустить соединение VCOM", "Остановить соединение VCOM", "-",
                                       "Удалить соединение..."}));
        QCOMPARE(ask.text, QString("Удалить first ID:1"));
        QCOMPARE(table(*w)->rowCount(), 0);
    }

    void startAndStopARealConnection()
    {
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        TcpPeer peer;
        QVERIFY(peer.listen());
        QVERIFY(writePipes({pipe(1, pair.nullEnd(), peer.port()), pipe(2, "/nonexistent/tty", closedPort())}));
        auto w = makeWindow();
        QCOMPARE(status(*w), QString("Статус: File pipe collection loaded, OK"));

        clickRow(*w, 0);
        action(*w, "actStart")->trigger();
        QCOMPARE(status(*w), QString("Статус: Started thread: 1"));
        QTRY_COMPARE(collection(*w)->itemById(1)->state(), QPipeItem::PipeConnect);
        QTRY_VERIFY(showsConnected(*w, 0));
        QCOMPARE(workers(*w).size(), 1);
        QThread *thread = workers(*w).first();
        QVERIFY(thread->isRunning());
        QCOMPARE(collection(*w)->itemById(1)->thread(), thread);

        // bytes flow while it runs
        QSerialPort work;
        work.setPortName(pair.workEnd());
        QVERIFY(work.open(QIODevice::ReadWrite));
        work.write("ping");
        QTRY_COMPARE(peer.received, QByteArray("ping"));

        // a second start is refused
        Box box;
        answerBox(&box, QMessageBox::Ok);
        action(*w, "actStart")->trigger();
        QCOMPARE(box.text, QString("Не неверный ID или соединение уже запущено!"));

        action(*w, "actStop")->trigger();
        QCOMPARE(status(*w), QString("Статус: Quit & Terminate thread: 1"));
        QCOMPARE(collection(*w)->itemById(1)->state(), QPipeItem::NotConnect);
        QVERIFY(!showsConnected(*w, 0));
        QVERIFY(thread->isFinished());

        // stop of a stopped connection is refused
        answerBox(&box, QMessageBox::Ok);
        action(*w, "actStop")->trigger();
        QCOMPARE(box.title, QString("Останов соединения"));
        QCOMPARE(box.text, QString("Не неверный ID или соединение не запущено!"));

        // start again: the same thread
        action(*w, "actStart")->trigger();
        QTRY_VERIFY(showsConnected(*w, 0));
        QCOMPARE(workers(*w), QList<QThread *>({thread}));
        QVERIFY(thread->isRunning());

        // a start whose both sides fail still makes and starts its thread; it stays stopped
        clickRow(*w, 1);
        action(*w, "actStart")->trigger();
        QCOMPARE(status(*w), QString("Статус: Started thread: 2"));
        QTRY_COMPARE(collection(*w)->itemById(2)->state(), QPipeItem::NotConnect);
        QVERIFY(!showsConnected(*w, 1));
        QCOMPARE(workers(*w).size(), 2);

        // the window goes with a connection running: its threads end first, nothing dies
        w.reset();
        QCOMPARE(QJsonDocument::fromJson(readFile("pipes.json")).array().size(), 2);
    }

    void halfOpenConnectionIsStartedAndStops()
    {
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        QVERIFY(writePipes({pipe(1, pair.nullEnd(), closedPort())}));
        auto w = makeWindow();
        clickRow(*w, 0);
        action(*w, "actStart")->trigger();
        QTRY_COMPARE(collection(*w)->itemById(1)->state(), QPipeItem::SerialConnect);
        QVERIFY(showsPicture(*w, 0, ":/images/delay.png"));
        // started, waiting for its peer: not started twice, not watched, but stopped
        Box box;
        answerBox(&box, QMessageBox::Ok);
        action(*w, "actStart")->trigger();
        QCOMPARE(box.text, QString("Не неверный ID или соединение уже запущено!"));
        answerBox(&box, QMessageBox::Ok);
        action(*w, "actMonitor")->trigger();
        QCOMPARE(box.text, QString("Соединение не установлено!"));
        action(*w, "actStop")->trigger();
        QCOMPARE(status(*w), QString("Статус: Quit & Terminate thread: 1"));
        QCOMPARE(collection(*w)->itemById(1)->state(), QPipeItem::NotConnect);
        QVERIFY(showsPicture(*w, 0, ":/images/discon33.png"));
        QSerialPort again;
        again.setPortName(pair.nullEnd());
        QVERIFY(again.open(QIODevice::ReadWrite));
    }

    void pictureFollowsTheConnection()
    {
        // No command refreshes the table here: the row follows the connection by itself.
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        QTcpServer device;
        QVERIFY(device.listen(QHostAddress::LocalHost));
        writePipes({pipe(1, pair.nullEnd(), device.serverPort())});
        auto w = makeWindow();
        clickRow(*w, 0);
        action(*w, "actStart")->trigger();
        QTRY_VERIFY(showsPicture(*w, 0, ":/images/con33.png"));
        QTRY_VERIFY(device.hasPendingConnections());
        std::unique_ptr<QTcpSocket> client(device.nextPendingConnection());
        client->disconnectFromHost();
        QTRY_VERIFY(showsPicture(*w, 0, ":/images/delay.png"));
        QTRY_VERIFY_WITH_TIMEOUT(device.hasPendingConnections(), 10000);
        client.reset(device.nextPendingConnection());
        QTRY_VERIFY(showsPicture(*w, 0, ":/images/con33.png"));
    }

    void theLogTellsWhyAConnectionWaits()
    {
        // The port is missing and the device refuses; then both come, and bytes are counted.
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        pair.stop();
        const quint16 port = closedPort();
        QVERIFY(writePipes({pipe(1, pair.nullEnd(), port, "Насос")}));
        auto w = makeWindow();
        const auto lines = [&w] { return linesOf(*w, "1 Насос: "); };
        const QString com = pair.nullEnd();
        const QString tcp = QStringLiteral("127.0.0.1:%1").arg(port);
        clickRow(*w, 0);
        action(*w, "actStart")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(lines().size(), 2, 3000);
        QCOMPARE(lines(), QStringList({"1 Насос: " + com + " не работает: не найден; следующая попытка через 1 с",
                                       "1 Насос: " + tcp + " не работает: в подключении отказано; следующая попытка через 1 с"}));
        const QRegularExpression waiting("^" + QRegularExpression::escape(com) + " не работает: не найден, следующая попытка в \\d\\d:\\d\\d:\\d\\d; "
                                         + QRegularExpression::escape(tcp) + " не работает: в подключении отказано, следующая попытка в \\d\\d:\\d\\d:\\d\\d\n"
                                         "в TCP 0 Б, в COM 0 Б; отброшено 0 Б для TCP, 0 Б для COM$");
        QVERIFY2(waiting.match(stateTip(*w, 0)).hasMatch(), qPrintable(stateTip(*w, 0)));

        QVERIFY(pair.start());
        QTcpServer device;
        QVERIFY(device.listen(QHostAddress::LocalHost, port));
        QTRY_COMPARE_WITH_TIMEOUT(lines().size(), 4, 8000);
        QVERIFY(lines().contains("1 Насос: " + com + " работает"));
        QVERIFY(lines().contains("1 Насос: " + tcp + " работает"));
        QTRY_VERIFY(showsConnected(*w, 0));

        QTRY_VERIFY(device.hasPendingConnections());
        std::unique_ptr<QTcpSocket> peer(device.nextPendingConnection());
        QSerialPort work;
        work.setPortName(pair.workEnd());
        QVERIFY(work.open(QIODevice::ReadWrite));
        work.write(QByteArray(1000, 'u'));
        peer->write(QByteArray(700, 'd'));
        QCOMPARE(readAtLeast(*peer, 1000).size(), 1000);
        QCOMPARE(readAtLeast(work, 700).size(), 700);
        QTRY_COMPARE(stateTip(*w, 0), com + " работает; " + tcp + " работает\nв TCP 1000 Б, в COM 700 Б; отброшено 0 Б для TCP, 0 Б для COM");
        action(*w, "actStop")->trigger();
        QTRY_COMPARE(stateTip(*w, 0), QString("Остановлено\nв TCP 1000 Б, в COM 700 Б; отброшено 0 Б для TCP, 0 Б для COM"));
        QCOMPARE(lines().size(), 4);
    }

    void aDeviceSwitchedOffAddsAHandfulOfLines()
    {
        // The same failure is told once, and again only when the tries reach their longest
        // delay (after about 31 s): then every 30 s, adding nothing.
        QVERIFY(writePipes({pipe(1, "/nonexistent/tty", closedPort(), "Насос")}));
        auto w = makeWindow();
        clickRow(*w, 0);
        action(*w, "actStart")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(*w, "1 Насос: ").size(), 2, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(*w, "1 Насос: ").size(), 4, 40000);
        const QStringList last = linesOf(*w, "1 Насос: ").mid(2);
        for (const QString &line : last)
            QVERIFY2(line.endsWith("; следующая попытка через 30 с"), qPrintable(line));
        QVERIFY(last.at(0) != last.at(1));
    }

    void relaysWhileTheWindowIsBusy()
    {
        // A setupc.exe run or any other long step holds this thread up: the relay goes on in
        // its own thread all the same. The echo peer runs in a thread of its own for that reason.
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        QThread echoThread;
        std::atomic<quint16> port{0};
        connect(&echoThread, &QThread::started, [&echoThread, &port] {
            auto *echo = new TcpPeer(true);
            connect(&echoThread, &QThread::finished, echo, &QObject::deleteLater);
            if (echo->listen())
                port = echo->port();
        });
        echoThread.start();
        const auto endEcho = qScopeGuard([&echoThread] {
            echoThread.quit();
            echoThread.wait();
        });
        QTRY_VERIFY(port != 0);
        QVERIFY(writePipes({pipe(1, pair.nullEnd(), port)}));
        auto w = makeWindow();
        clickRow(*w, 0);
        action(*w, "actStart")->trigger();
        QTRY_COMPARE(collection(*w)->itemById(1)->state(), QPipeItem::PipeConnect);
        // The counters are told from the relay's thread: the echo's 4 bytes counted on their
        // way to the port show the relay at work while this thread sleeps.
        std::atomic<bool> echoed{false};
        connect(collection(*w)->itemById(1), &QPipeItem::countersChanged, this,
                [&echoed](qint64, qint64 toSerial) { echoed = echoed || toSerial == 4; }, Qt::DirectConnection);
        QSerialPort work;
        work.setPortName(pair.workEnd());
        QVERIFY(work.open(QIODevice::ReadWrite));
        work.write("ping");
        QVERIFY(work.waitForBytesWritten(1000));
        QThread::msleep(1500);
        QVERIFY2(echoed, "nothing was relayed while the window's thread was busy");
        QCOMPARE(readAtLeast(work, 4), QByteArray("ping"));
        action(*w, "actStop")->trigger();
    }

    void startedConnectionsComeBackAtTheNextStart()
    {
        // However the program ends, what was started is started again; what was stopped is not.
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        TcpPeer peer;
        QVERIFY(peer.listen());
        writePipes({pipe(1, pair.nullEnd(), peer.port()), pipe(2, "/nonexistent/tty", closedPort())});
        {
            auto w = makeWindow();
            for (int row : {0, 1}) {
                clickRow(*w, row);
                action(*w, "actStart")->trigger();
            }
            action(*w, "actStop")->trigger();
            QTRY_COMPARE(peer.clientCount(), 1);
        }
        QCOMPARE(storedSettings().value("Started"), QString("1"));
        QCOMPARE(storedSettings().value("StartedIn"), QDir::currentPath());
        auto w = makeWindow();
        QVERIFY(collection(*w)->itemById(1)->isStarted());
        QVERIFY(!collection(*w)->itemById(2)->isStarted());
        QTRY_VERIFY(showsPicture(*w, 0, ":/images/con33.png"));
        QTRY_COMPARE(peer.clientCount(), 2);
        w.reset();
        // the same list in another folder belongs to another pipes.json
        QTemporaryDir other;
        QVERIFY(QDir::setCurrent(other.path()));
        writePipes({pipe(1, pair.nullEnd(), peer.port())});
        w = makeWindow();
        QVERIFY(!collection(*w)->itemById(1)->isStarted());
        w.reset();
        QVERIFY(QDir::setCurrent(m_work->path()));
    }

    void pipesFileFollowsEveryCommand()
    {
        auto w = makeWindow();
        addThroughDialog(*w, "one");
        QCOMPARE(savedNames(), QStringList({"one"}));
        clickInModal("btAdd", [](QWidget *dialog) { dialog->findChild<QLineEdit *>("edName")->setText("edited"); });
        clickRow(*w, 0, true);
        QCOMPARE(savedNames(), QStringList({"edited"}));
        addThroughDialog(*w, "two");
        clickRow(*w, 0);
        Box ask;
        answerBox(&ask, QMessageBox::Yes);
        action(*w, "actDelConnect")->trigger();
        QCOMPARE(savedNames(), QStringList({"two"}));
    }

    void unwritableFileIsToldAtOnce()
    {
        // What stands in the way here is a folder of that name, which the box names; a folder
        // the user may not write to is told with the plain text.
        QVERIFY(QDir().mkdir("pipes.json"));
        auto w = makeWindow();
        Box box;
        // the box comes once the dialog has gone
        clickInModal("btAdd", [&box](QWidget *) { answerBox(&box, QMessageBox::Ok); });
        action(*w, "actAddConnect")->trigger();
        QVERIFY(box.seen);
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.title, QString("Сохранение соединений"));
        QCOMPARE(box.text, QString("Программа не перезаписывает файл pipes.json в папке\n%1:\nна его месте папка.\n"
                                   "Изменения соединений не сохранены!")
                               .arg(QDir::toNativeSeparators(QDir::currentPath())));
        // and once more at exit, before the window goes
        Box atExit;
        clickInModal("btYes", [&atExit](QWidget *) { answerBox(&atExit, QMessageBox::Ok); });
        QVERIFY(w->close());
        QCOMPARE(atExit.title, QString("Сохранение соединений"));
    }

    void noIdLeftIsAFullTable()
    {
        writePipes({pipe(2147483647, "COM6", 502, "last")});
        auto w = makeWindow();
        Box full;
        answerBox(&full, QMessageBox::Ok);
        action(*w, "actAddConnect")->trigger();
        QCOMPARE(full.text, QString("Невозможно добавить соединение!\nМаксимальное количество 4"));
        QCOMPARE(column(*w, 0), QStringList({"2147483647"}));
    }

    void deletingARunningConnectionStopsIt()
    {
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        TcpPeer peer;
        QVERIFY(peer.listen());
        QVERIFY(writePipes({pipe(1, pair.nullEnd(), peer.port())}));
        auto w = makeWindow();
        clickRow(*w, 0);
        action(*w, "actStart")->trigger();
        QTRY_COMPARE(peer.clientCount(), 1);
        QPipeItem *running = collection(*w)->itemById(1);
        QSignalSpy gone(peer.client(), &QTcpSocket::disconnected);
        QVERIFY(gone.isValid());

        Box ask;
        answerBox(&ask, QMessageBox::Yes);
        action(*w, "actDelConnect")->trigger();
        QCOMPARE(table(*w)->rowCount(), 0);
        QCOMPARE(running->state(), QPipeItem::NotConnect);
        QVERIFY(gone.count() == 1 || gone.wait(3000));
        QVERIFY(workers(*w).first()->isFinished());
        QSerialPort again;
        again.setPortName(pair.nullEnd());
        QVERIFY(again.open(QIODevice::ReadWrite));
    }

    void editByDoubleClick()
    {
        QVERIFY(writePipes({pipe(3, "COM6", 502, "old")}));
        auto w = makeWindow();

        // cancelled: nothing changes
        QVariantMap shown;
        clickInModal("btCancel", [&shown](QWidget *dialog) {
            shown["name"] = dialog->findChild<QLineEdit *>("edName")->text();
            shown["ipport"] = dialog->findChild<QSpinBox *>("edIpPort")->value();
            shown["button"] = dialog->findChild<QAbstractButton *>("btAdd")->text();
        });
        clickRow(*w, 0, true);
        QCOMPARE(shown.value("name").toString(), QString("old"));
        QCOMPARE(shown.value("ipport").toInt(), 502);
        QCOMPARE(shown.value("button").toString(), QString("Изменить"));
        QCOMPARE(column(*w, 1), QStringList({"old"}));

        // accepted: the row shows the new values at once, the id stays
        clickInModal("btAdd", [](QWidget *dialog) {
            dialog->findChild<QLineEdit *>("edName")->setText("new");
            dialog->findChild<QLineEdit *>("edIpAddr")->setText("10.1.2.3");
            dialog->findChild<QSpinBox *>("edIpPort")->setValue(4001);
        });
        clickRow(*w, 0, true);
        QCOMPARE(column(*w, 0), QStringList({"3"}));
        QCOMPARE(column(*w, 1), QStringList({"new"}));
        QCOMPARE(column(*w, 5), QStringList({"10.1.2.3"}));
        QCOMPARE(column(*w, 6), QStringList({"4001"}));
        QCOMPARE(collection(*w)->itemById(3)->getName(), QString("new"));
        // its port is not on this machine now: it stays, in the row and in the file
        QCOMPARE(column(*w, 4), QStringList({"COM6"}));
        QCOMPARE(QJsonDocument::fromJson(readFile("pipes.json")).array().at(0).toObject().value("port_null"), QJsonValue("COM6"));
    }

    void aRecordWithIdZeroGetsOne()
    {
        // 0 is no id: the record is given one, and opens for editing like any other.
        QVERIFY(writePipes({pipe(0, "COM6", 502, "no id")}));
        auto w = makeWindow();
        QCOMPARE(column(*w, 0), QStringList({"1"}));
        clickInModal("btCancel");
        clickRow(*w, 0, true);
    }

    void fiveInTheFileShowFour()
    {
        QJsonArray five;
        for (int id : {5, 1, 4, 2, 3})
            five.append(pipe(id, "COM6", 502, QString("p%1").arg(id)));
        QVERIFY(writePipes(five));
        // The first four of the file load; the fifth never starts, though it is recorded as started.
        QSettings("Vantrel", "Tovimex").setValue("Started", "3");
        QSettings("Vantrel", "Tovimex").setValue("StartedIn", QDir::currentPath());
        auto w = makeWindow();
        QCOMPARE(column(*w, 1), QStringList({"p1", "p2", "p4", "p5"}));
        QVERIFY(!collection(*w)->itemById(3));
    }

    void exitQuestion_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("minimized");
        QTest::newRow("exit") << "btYes" << true << false;
        QTest::newRow("cancel") << "btNo" << false << false;
        QTest::newRow("minimize") << "btMInimize" << false << true;
        QTest::newRow("escape") << "" << false << false;
    }

    void exitQuestion()
    {
        QFETCH(QString, button);
        QFETCH(bool, closed);
        QFETCH(bool, minimized);
        auto w = makeWindow();
        a_boxOf(*w)->setChecked(true);
        QString title;
        whenModal([&](QWidget *dialog) {
            title = dialog->windowTitle();
            if (button.isEmpty())
                QTest::keyClick(dialog, Qt::Key_Escape);
            else
                dialog->findChild<QAbstractButton *>(button)->click();
        });
        // the menu entry and the title bar's button go the same way
        action(*w, "actQuit")->trigger();
        QCOMPARE(title, QString("Выход из программы"));
        QCOMPARE(w->isVisible(), !closed);
        QCOMPARE(w->isMinimized(), minimized);
        // only the exit writes the settings; the logon folder was written when the box was checked
        const QMap<QString, QString> stored = storedSettings();
        QCOMPARE(stored.contains("AutoLoad"), closed);
        QCOMPARE(stored.value("LogonDir"), QDir::currentPath());
        if (closed) {
            QCOMPARE(status(*w), QString("Статус: Save config"));
            QCOMPARE(stored.value("AutoLoad"), QString("true"));
            QCOMPARE(stored.size(), 6);
        }
    }

    void autoLoadComesBack()
    {
        {
            auto w = makeWindow();
            QVERIFY(!a_boxOf(*w)->isChecked());
            a_boxOf(*w)->setChecked(true);
            clickInModal("btYes");
            QVERIFY(w->close());
        }
        const QString logonFolder = QDir::currentPath();
        QVERIFY2(startsIn(logonEntry(), logonFolder), logonEntry().constData());
        setLogonEntry({});
        // the next start, from another folder, shows the box checked and registers the program
        // again, to start where the box was checked
        QTemporaryDir elsewhere;
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        auto w = makeWindow();
        QVERIFY(QDir::setCurrent(logonFolder));
        QVERIFY(a_boxOf(*w)->isChecked());
        QVERIFY2(startsIn(logonEntry(), logonFolder), logonEntry().constData());
        a_boxOf(*w)->setChecked(false);
        QVERIFY(logonEntry().isEmpty());
        clickInModal("btYes");
        QVERIFY(w->close());
        // with the switch off, start-up leaves the entry alone
        w.reset();
        setLogonEntry(kOtherEntry);
        auto w2 = makeWindow();
        QVERIFY(!a_boxOf(*w2)->isChecked());
        QCOMPARE(logonEntry(), kOtherEntry);
    }

#ifdef Q_OS_WIN
    // The Run key starts the program in the system folder; it then works in the folder where
    // start at logon was switched on, with that folder's pipes.json. Started anywhere else, it
    // stays where it was started.
    void logonStartWorksInTheLogonFolder_data()
    {
        QTest::addColumn<bool>("fromSystemFolder");
        QTest::newRow("started by the Run key") << true;
        QTest::newRow("started from elsewhere") << false;
    }

    void logonStartWorksInTheLogonFolder()
    {
        QFETCH(bool, fromSystemFolder);
        const QString logonFolder = QDir::currentPath();
        QVERIFY(writePipes({pipe(1, "COM6", 502, "logon")}));
        QSettings("Vantrel", "Tovimex").setValue("LogonDir", logonFolder);
        ScratchFolder elsewhere;
        QVERIFY(elsewhere.isValid());
        QVERIFY(writePipes({pipe(2, "COM6", 502, "elsewhere")}));
        wchar_t system[MAX_PATH];
        const UINT size = GetSystemDirectoryW(system, MAX_PATH);
        QVERIFY(size > 0 && size < MAX_PATH);
        const QString systemFolder = QString::fromWCharArray(system, int(size));
        // Should the window stay there, it writes its pipes.json there as it goes.
        const QString stray = systemFolder + "/pipes.json";
        const auto removeStray = qScopeGuard([stray, had = QFile::exists(stray)] {
            if (!had)
                QFile::remove(stray);
        });
        if (fromSystemFolder)
            QVERIFY(QDir::setCurrent(systemFolder));
        auto w = makeWindow();
        QCOMPARE(QDir::currentPath(), fromSystemFolder ? logonFolder : elsewhere.path());
        QCOMPARE(column(*w, 1), QStringList{fromSystemFolder ? "logon" : "elsewhere"});
    }
#endif

    // Hovering an entry sends its status tip, and ours are empty: the status line must stay.
    void statusStaysWhileMenusAreBrowsed()
    {
        auto w = makeWindow();
        QCOMPARE(status(*w), QString("Статус: Error! Pipe collection load"));
        QStringList hovered;
        for (QAction *title : w->menuBar()->actions()) {
            QMenu *menu = title->menu();
            QTest::mouseClick(w->menuBar(), Qt::LeftButton, {}, w->menuBar()->actionGeometry(title).center());
            QTRY_VERIFY(menu->isVisible());
            for (QAction *entry : menu->actions()) {
                if (entry->isSeparator())
                    continue;
                menu->setActiveAction(entry);
                hovered << entry->text() + ": " + status(*w);
            }
            QTest::keyClick(menu, Qt::Key_Escape);
            QTRY_VERIFY(!menu->isVisible());
        }
        QCOMPARE(hovered.size(), 10);
        for (const QString &line : qAsConst(hovered))
            QVERIFY2(line.endsWith(": Статус: Error! Pipe collection load"), qPrintable(line));
        QCOMPARE(status(*w), QString("Статус: Error! Pipe collection load"));
    }

    // The status line early in start-up, before the table is loaded: recorded each time the
    // window takes a child while it is built, as the settings object and the actions are made.
    void startUpShowsLoadConfigFirst()
    {
        StatusWhileBuilt seen;
        qApp->installEventFilter(&seen);
        auto w = makeWindow();
        qApp->removeEventFilter(&seen);
        QVERIFY2(!seen.statuses.isEmpty(), "no status was shown while the window was built");
        QCOMPARE(seen.statuses.first(), QString("Статус: Load config"));
        QCOMPARE(status(*w), QString("Статус: Error! Pipe collection load"));
    }

    void aboutFromTheHelpMenu()
    {
        auto w = makeWindow();
        QAction *about = nullptr;
        for (QAction *title : w->menuBar()->actions()) {
            if (title->text() == "Помощь") {
                for (QAction *entry : title->menu()->actions())
                    about = entry->text() == "О программе..." ? entry : about;
            }
        }
        QVERIFY(about);
        QString opened;
        clickInModal("btOk", [&opened](QWidget *dialog) {
            opened = QString(dialog->metaObject()->className()) + ": " + dialog->windowTitle();
        });
        about->trigger();
        QCOMPARE(opened, QString("AboutDialog: О программе..."));
    }

    // The port manager needs the com0com folder beside the program, not setupc.exe in it.
    void portManagerAndItsFolder_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::newRow("no com0com folder") << false;
        QTest::newRow("folder without setupc.exe") << true;
    }

    void portManagerAndItsFolder()
    {
        QFETCH(bool, folder);
        QVERIFY2(!QFileInfo::exists(FakeSetupc::folder()), qPrintable(FakeSetupc::folder() + " is not this test's"));
        if (folder) {
            QVERIFY(m_fake.install());
            QVERIFY(m_fake.removeProgram());
        }
        auto w = makeWindow();
        Box box;
        QString opened;
        if (folder) {
            clickInModal("btCancel", [&opened](QWidget *dialog) {
                opened = QString(dialog->metaObject()->className()) + ": " + dialog->windowTitle();
            });
        } else {
            answerBox(&box, QMessageBox::Ok);
        }
        action(*w, "actDevice")->trigger();
        if (folder) {
            QCOMPARE(opened, QString("DeviceDialog: Управление VCOM"));
            QCOMPARE(status(*w), "Статус: " + FakeSetupc::folder());
        } else {
            QCOMPARE(box.icon, QMessageBox::Critical);
            QCOMPARE(box.title, QString("Порты ввода/вывода"));
            QCOMPARE(box.text, QString("Неверный путь, setupc.exe!"));
            QCOMPARE(box.buttons, QMessageBox::Ok);
            QCOMPARE(status(*w), QString("Статус: Error! Pipe collection load"));
        }
    }

    void removeAllAsksFirst_data()
    {
        QTest::addColumn<bool>("tool");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QList<QStringList>>("calls");
        QTest::addColumn<QStringList>("logged");
        QTest::newRow("No") << true << int(QMessageBox::No) << QList<QStringList>() << QStringList();
        QTest::newRow("Yes") << true << int(QMessageBox::Yes) << QList<QStringList>{{"uninstall"}, {"list"}}
                             << QStringList{"Uninstall all ports...", "Removed CNCA0 PortName=COM5",
                                            "Removed CNCB0 PortName=COM6", "", ""};
        QTest::newRow("Yes, setupc.exe missing")
            << false << int(QMessageBox::Yes) << QList<QStringList>() << QStringList{"setupc.exe not found!"};
    }

    void removeAllAsksFirst()
    {
        QFETCH(bool, tool);
        QFETCH(int, answer);
        QFETCH(QList<QStringList>, calls);
        QFETCH(QStringList, logged);
        QVERIFY2(!QFileInfo::exists(FakeSetupc::folder()), qPrintable(FakeSetupc::folder() + " is not this test's"));
        QVERIFY(m_fake.install());
        QVERIFY(m_fake.setOutput("uninstall", "Removed CNCA0 PortName=COM5\nRemoved CNCB0 PortName=COM6\n"));
        QVERIFY(m_fake.setOutput("list", "CNCA0 PortName=COM5\nCNCB0 PortName=COM6\n", 1));
        auto w = makeWindow();
        // the listing is not waited for: it comes when it is over, after the first start's line
        QTRY_COMPARE(logText(*w), QString("State list...\nВ папке %1 ещё нет таблицы соединений (pipes.json): таблица "
                                          "пуста, новая будет сохранена там\nCNCA0 PortName=COM5\nCNCB0 "
                                          "PortName=COM6\n\nПара 0: COM5-COM6")
                                      .arg(QDir::toNativeSeparators(QDir::currentPath())));
        const QString before = logText(*w);
        const int callsBefore = m_fake.calls().size();
        if (!tool)
            QVERIFY(m_fake.removeProgram());

        Box ask;
        answerBox(&ask, QMessageBox::StandardButton(answer));
        action(*w, "actDeleteAll")->trigger();
        QCOMPARE(ask.icon, QMessageBox::Question);
        QCOMPARE(ask.title, QString("Удаление портов в/в"));
        QCOMPARE(ask.text, QString("Внимание!!!\nВы пытаетесь удалить все виртуальные\nУдалить?"));
        QCOMPARE(ask.buttons, QMessageBox::Yes | QMessageBox::No);
        QTRY_COMPARE(m_fake.calls().mid(callsBefore), calls);
        QTRY_COMPARE(logText(*w), logged.isEmpty() ? before : before + "\n" + logged.join('\n'));
    }

    void untrustedPortFolderIsNamedInTheLog()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows has no virtual-port folder: com0com's ports are the driver's");
#endif
        const QString dir = kRuntimeDir + "/vcom";
        QString failed;
        QVERIFY2(makeVirtualPortDir(dir, "777", &failed), qPrintable(failed));
        const auto remove = qScopeGuard([dir] { QDir(dir).removeRecursively(); });
        QVERIFY(QFile::link("/dev/null", dir + "/COM5"));
        auto w = makeWindow();
        const auto log = [&w] { return logText(*w); };
        QTRY_VERIFY2(log().split('\n').contains("Виртуальные порты не используются: " + dir + " доступна для записи другим пользователям"),
                     qPrintable(log()));
    }

    // The pair listing is only shown: a tool that hangs or prints without end holds up neither
    // the connections started at the last run nor the window's memory, and goes with the window.
    void startUpDoesNotWaitForThePairTool_data()
    {
        QTest::addColumn<QByteArray>("endless");
        QTest::newRow("hangs") << QByteArray("hang");
        QTest::newRow("prints without end") << QByteArray("flood");
    }

    void startUpDoesNotWaitForThePairTool()
    {
        QFETCH(QByteArray, endless);
        PtyPair pair;
        REQUIRE_PTY_PAIR(pair);
        // The device, in a thread of its own: when the relay dials it is told by the device's
        // clock, not by the window's thread, which the tool's output keeps busy (for seconds under
        // the sanitizers and Wine).
        QElapsedTimer clock;
        clock.start();
        std::atomic<int> port{0};
        std::atomic<qint64> dialledMs{-1};
        QByteArray received;
        QSemaphore listening;
        std::unique_ptr<QThread> device(QThread::create([&] {
            QTcpServer server;
            if (server.listen(QHostAddress::LocalHost))
                port = server.serverPort();
            listening.release();
            if (!port || !server.waitForNewConnection(20000))
                return;
            dialledMs = clock.elapsed();
            std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
            while (received.size() < 4 && socket->waitForReadyRead(20000))
                received += socket->readAll();
        }));
        device->start();
        listening.acquire();
        QVERIFY(port != 0);
        QVERIFY(writePipes({pipe(1, pair.nullEnd(), quint16(port))}));
        MsConfig("Vantrel", "Tovimex").setStarted({1}, QDir::currentPath());
        QVERIFY(m_fake.install());
        QVERIFY(m_fake.setEndless("list", endless));
        QSerialPort work;
        work.setPortName(pair.workEnd());
        QVERIFY(work.open(QIODevice::ReadWrite));

        const qint64 before = residentKiB();
        const qint64 startMs = clock.elapsed();
        auto w = makeWindow();
        QTRY_VERIFY_WITH_TIMEOUT(record(*w, 1)->state() == QPipeItem::PipeConnect, 20000);
        work.write("ping");
        QVERIFY(work.waitForBytesWritten(5000));
        QVERIFY(device->wait(20000));
        QCOMPARE(received, QByteArray("ping"));
        // A start that waited for the tool would wait for its time limit, 30 s.
        QVERIFY2(dialledMs - startMs < 2000, qPrintable(QString::number(dialledMs - startMs) + " ms"));
        if (endless == "flood") {
            // 1 MiB of port lines, 26214 pairs in them: the pane keeps the last 5000 lines
            auto *log = w->findChild<QPlainTextEdit *>("plnText");
            QTRY_VERIFY(logText(*w).contains("\nПара 26213: COM5-COM5\nВывод setupc.exe длиннее 1024 КиБ"));
            QCOMPARE(log->document()->blockCount(), 5000);
        }
        QVERIFY2(residentKiB() - before < 128 * 1024, qPrintable(QString::number(residentKiB() - before) + " KiB more"));
        const qint64 tool = m_fake.lastPid("list");
        w.reset();
        QVERIFY2(tool > 0 && !processRunning(tool), "setupc.exe outlived the window");
    }

private:
    static QCheckBox *a_boxOf(MainWindow &w) { return w.findChild<QCheckBox *>(); }

    // Start at logon as the system keeps it, empty when there is none: the Run value on Windows,
    // which starts the program by its path (the folder to work in is the LogonDir setting);
    // elsewhere the autostart entry, which names the folder itself.
#ifdef Q_OS_WIN
    static inline const QByteArray kOtherEntry = "C:\\Other\\program.exe";

    static QByteArray logonEntry()
    {
        return Registry::values(HKEY_CURRENT_USER, runKey()).value(QCoreApplication::applicationName()).toUtf8();
    }
    static void setLogonEntry(const QByteArray &text)
    {
        QSettings run("HKEY_CURRENT_USER\\" + runKey(), QSettings::NativeFormat);
        if (text.isEmpty())
            run.remove(QCoreApplication::applicationName());
        else
            run.setValue(QCoreApplication::applicationName(), QString::fromUtf8(text));
    }
    static bool startsIn(const QByteArray &entry, const QString &folder)
    {
        return entry == QDir::toNativeSeparators(QCoreApplication::applicationFilePath()).toUtf8()
               && storedSettings().value("LogonDir") == folder;
    }
#else
    static inline const QByteArray kOtherEntry = "[Desktop Entry]\nType=Application\nName=other\nExec=/bin/true\n";

    static QString entryPath() { return kConfigHome + "/autostart/" + QCoreApplication::applicationName() + ".desktop"; }
    static QByteArray logonEntry() { return readFile(entryPath()); }
    static void setLogonEntry(const QByteArray &text)
    {
        if (text.isEmpty())
            QFile::remove(entryPath());
        else
            QVERIFY(writeFile(entryPath(), text));
    }
    static bool startsIn(const QByteArray &entry, const QString &folder)
    {
        return entry.contains("\nPath=" + folder.toUtf8() + "\n");
    }
#endif

    static QStringList savedNames()
    {
        QStringList names;
        for (const QJsonValue &v : QJsonDocument::fromJson(readFile("pipes.json")).array())
            names << v.toObject().value("name").toString();
        return names;
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
