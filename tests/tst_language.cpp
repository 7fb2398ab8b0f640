// The window's language: English on an English system, Russian (the texts as written, Qt's own
// in Russian too) on any other; the menus, a dialog, a box and the log pane alike.
#include "language.h"
#include "mainwindow.h"

#include "guitest.h"
#include "testsupport.h"
#include "windowtest.h"

#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QtTest>

#include <memory>

using namespace GuiTest;
using namespace TestSupport;
using namespace WindowTest;

static const QString kConfigHome = WindowTest::privateXdgFolder("XDG_CONFIG_HOME");
static const QString kRuntimeDir = WindowTest::privateXdgFolder("XDG_RUNTIME_DIR");

class TestLanguage : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScratchFolder> m_work;

private slots:
    void initTestCase()
    {
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
        Language::uninstall(qApp);
        m_work.reset();
        checkNoUnplanned();
    }

    void oneLanguageInTheWindow_data()
    {
        QTest::addColumn<int>("system");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<QStringList>("menus");
        QTest::addColumn<QStringList>("dialog"); // the connection dialog's title, then labels it shows
        QTest::addColumn<QStringList>("box");    // the delete question's title and its buttons
        QTest::addColumn<QStringList>("lines");  // the pane's lines of a connection that waits
        const QStringList russianMenus{"Файл", "Устройства", "Соединения", "Помощь"};
        const QStringList russianDialog{"Параметры соединения", "Наименование", "IP адрес", "Скорость"};
        const QStringList russianBox{"Удаление соединения", "&Да", "&Нет"};
        const QStringList russianLines{"1 Насос: /nonexistent/tty не работает: не найден; следующая попытка через 1 с",
                                       "1 Насос: 127.0.0.1:%1 не работает: в подключении отказано; следующая попытка через 1 с"};
        QTest::newRow("English")
            << int(QLocale::English) << int(QLocale::English)
            << QStringList{"File", "Devices", "Connections", "Help"}
            << QStringList{"Connection settings", "Name", "IP address", "Baud rate"}
            << QStringList{"Deleting a connection", "&Yes", "&No"}
            << QStringList{"1 Насос: /nonexistent/tty down: not found; next try in 1 s",
                           "1 Насос: 127.0.0.1:%1 down: refused; next try in 1 s"};
        QTest::newRow("C") << int(QLocale::C) << int(QLocale::Russian) << russianMenus << russianDialog << russianBox
                           << russianLines;
        QTest::newRow("German") << int(QLocale::German) << int(QLocale::Russian) << russianMenus << russianDialog
                                << russianBox << russianLines;
    }

    void oneLanguageInTheWindow()
    {
        QFETCH(int, system);
        QFETCH(int, chosen);
        QFETCH(QStringList, menus);
        QFETCH(QStringList, dialog);
        QFETCH(QStringList, box);
        QFETCH(QStringList, lines);
        QCOMPARE(int(Language::install(qApp, QLocale::Language(system))), chosen);
        const quint16 port = closedPort();
        QVERIFY(writePipes({pipe(1, "/nonexistent/tty", port, "Насос")}));
        auto w = makeWindow();

        QStringList menuTitles;
        for (QAction *menu : w->menuBar()->actions())
            menuTitles << menu->text();
        QCOMPARE(menuTitles, menus);

        QStringList shown;
        whenModal([&shown](QWidget *d) {
            shown << d->windowTitle();
            for (const QLabel *label : d->findChildren<QLabel *>())
                shown << label->text();
            qobject_cast<QDialog *>(d)->reject();
        });
        action(*w, "actAddConnect")->trigger();
        QVERIFY2(!shown.isEmpty(), "no connection dialog came up");
        QCOMPARE(shown.first(), dialog.first());
        for (const QString &label : dialog.mid(1))
            QVERIFY2(shown.contains(label), qPrintable(label + " not in: " + shown.join(" | ")));

        QStringList asked;
        whenModal([&asked](QWidget *m) {
            auto *mb = qobject_cast<QMessageBox *>(m);
            asked << m->windowTitle() << mb->button(QMessageBox::Yes)->text() << mb->button(QMessageBox::No)->text();
            mb->button(QMessageBox::No)->click();
        });
        clickRow(*w, 0);
        action(*w, "actDelConnect")->trigger();
        QCOMPARE(asked, box);

        // The relay's reasons are told in its own thread, in the window's language all the same.
        action(*w, "actStart")->trigger();
        const auto mine = [&w] { return logText(*w).split('\n').filter(QRegularExpression("^1 Насос: ")); };
        QTRY_COMPARE_WITH_TIMEOUT(mine().size(), 2, 3000);
        QCOMPARE(mine(), QStringList({lines.at(0), lines.at(1).arg(port)}));
        action(*w, "actStop")->trigger();
    }
};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
