// Private XDG folders for a test, and driving the main window the way a user does.
#ifndef WINDOWTEST_H
#define WINDOWTEST_H

#include "mainwindow.h"
#include "qpipemap.h"
#include "serialports.h"
#ifdef Q_OS_WIN
#include "testsupport.h"
#endif

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMutex>
#include <QPixmap>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <list>
#include <memory>

namespace WindowTest {

// Points an XDG variable (XDG_CONFIG_HOME, XDG_RUNTIME_DIR) at a folder of the test's own,
// removed when the test ends, and returns its path. Call it from a static initialiser: the
// settings store and the virtual-port folder read the variables once, early.
inline QString privateXdgFolder(const char *variable)
{
    static std::list<QTemporaryDir> folders;
    folders.emplace_back();
    const QString path = folders.back().path();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv(variable, path.toLocal8Bit());
    return path;
}

// COM links of the test's own in the virtual-port folder: a connection's port named the way the
// user picks it, so the edit dialog lists and keeps it. Removed by clear() and with the object.
class ComLinks
{
public:
    ~ComLinks() { clear(); }

    QString make(int number, const QString &target)
    {
#ifdef Q_OS_WIN
        // target is a PtyPair's COM port; the link is a Windows COM port of its own.
        QString why;
        if (!TestSupport::linkComPort(number, target, &why))
            qWarning("cannot make COM%d: %s", number, qPrintable(why));
        m_numbers << number;
        return QStringLiteral("COM%1").arg(number);
#else
        const QString dir = SerialPorts::virtualPortDir();
        QDir().mkpath(dir);
        // Only a folder no one else can write to has ports.
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString name = QStringLiteral("COM%1").arg(number);
        const QString link = dir + QLatin1Char('/') + name;
        QFile::remove(link);
        if (!QFile::link(target, link))
            qWarning("cannot make the link %s", qPrintable(link));
        m_links << link;
        return name;
#endif
    }

    void clear()
    {
        for (const QString &link : qAsConst(m_links))
            QFile::remove(link);
        m_links.clear();
#ifdef Q_OS_WIN
        for (int number : qAsConst(m_numbers))
            TestSupport::unlinkComPort(number);
        m_numbers.clear();
#endif
    }

private:
    QStringList m_links;
#ifdef Q_OS_WIN
    QList<int> m_numbers;
#endif
};

inline QTableWidget *table(MainWindow &w)
{
    return w.findChild<QTableWidget *>("tbView");
}

inline QAction *action(MainWindow &w, const char *name)
{
    return w.findChild<QAction *>(name);
}

inline QString status(MainWindow &w)
{
    return w.statusBar()->currentMessage();
}

inline QPipeMap *collection(MainWindow &w)
{
    return w.findChild<QPipeMap *>();
}

inline QPipeItem *record(MainWindow &w, int id)
{
    return collection(w)->itemById(id);
}

// The blocks a record hands its watchers, heard in the test's thread. A QSignalSpy records in
// the thread that emits, which for a started record is its worker: the spy's list would grow
// there while the test reads it here, and could still be growing while the spy is destroyed.
class Blocks
{
public:
    Blocks(QPipeItem *pipe, void (QPipeItem::*signal)(QByteArray))
        : m_connected(QObject::connect(
            pipe, signal, &m_receiver, [this](const QByteArray &block) { m_blocks << block; },
            Qt::QueuedConnection))
    {
    }
    bool isValid() const { return m_connected; }
    int count() const { return m_blocks.size(); }
    QByteArray at(int i) const { return m_blocks.at(i); }

private:
    QList<QByteArray> m_blocks;
    // Declared after the list, so it is destroyed first: no queued block reaches a list gone.
    QObject m_receiver;
    bool m_connected;
};

// Clicks a row's name cell; twice: a click followed by the double-click event, as a mouse does.
inline void clickRow(MainWindow &w, int row, bool twice = false)
{
    QTableWidget *t = table(w);
    QTableWidgetItem *item = t->item(row, 1);
    QVERIFY(item);
    const QPoint at = t->visualItemRect(item).center();
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, at);
    if (twice)
        QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, at);
}

// Whether the row's state cell shows the picture: con33.png (up on both sides), discon33.png
// (stopped) or delay.png (started, waiting for a side).
inline bool showsPicture(MainWindow &w, int row, const char *picture)
{
    auto *label = qobject_cast<QLabel *>(table(w)->cellWidget(row, 2));
    return label && label->pixmap(Qt::ReturnByValue).toImage() == QPixmap(picture).toImage();
}

inline bool showsConnected(MainWindow &w, int row)
{
    return showsPicture(w, row, ":/images/con33.png");
}

inline std::unique_ptr<MainWindow> makeWindow()
{
    auto w = std::make_unique<MainWindow>();
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        qWarning("window not exposed");
    return w;
}

// Every message Qt and the program print while installed, so a test can tell whether a fault
// was met quietly and whether a thread object was ever destroyed running.
namespace MessageLog {

struct Entry
{
    QtMsgType type;
    QString text;
};

inline QMutex &guard()
{
    static QMutex mutex;
    return mutex;
}

inline QList<Entry> &entries()
{
    static QList<Entry> list;
    return list;
}

inline QtMessageHandler &previous()
{
    static QtMessageHandler handler = nullptr;
    return handler;
}

inline void record(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    {
        QMutexLocker lock(&guard());
        entries().append({type, text});
    }
    if (previous())
        previous()(type, context, text);
}

inline void install()
{
    previous() = qInstallMessageHandler(record);
}

inline void uninstall()
{
    qInstallMessageHandler(previous());
}

inline QList<Entry> take()
{
    QMutexLocker lock(&guard());
    QList<Entry> taken;
    taken.swap(entries());
    return taken;
}

inline QStringList texts(const QList<Entry> &log, bool warningsOnly)
{
    QStringList out;
    for (const Entry &m : log) {
        if (!warningsOnly || m.type == QtWarningMsg || m.type == QtCriticalMsg || m.type == QtFatalMsg)
            out << m.text;
    }
    return out;
}

inline QStringList takeWarnings()
{
    return texts(take(), true);
}

} // namespace MessageLog

} // namespace WindowTest

#endif // WINDOWTEST_H
