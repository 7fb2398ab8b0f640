// Private XDG folders for a test (on Windows: the user's settings, saved and put back), and
// driving the main window the way a user does.
#ifndef WINDOWTEST_H
#define WINDOWTEST_H

#include "mainwindow.h"
#include "qpipemap.h"
#include "serialports.h"
#include "wintools/registry.h"
#ifdef Q_OS_WIN
#include "testsupport.h"
#endif

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMutex>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <list>
#include <memory>

namespace WindowTest {

// ---- The window's settings store and start at logon ----------------------------------------

#ifdef Q_OS_WIN
// Under HKEY_CURRENT_USER.
inline QString settingsKey() { return QStringLiteral("Software\\Vantrel\\Tovimex"); }
inline QString runKey() { return QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run"); }

// On Windows the window always keeps its settings in the user's own key, and start at logon in
// the Run key. A test program that includes this header saves, as it starts, that key whole and
// the Run values of this program and of VantrelVCom, removes the key (so the program starts as
// a first start does, like the empty settings folder of a test elsewhere), and puts all of it
// back as it ends. A program started by a test that holds them already leaves them to it.
class UserSettingsGuard
{
public:
    UserSettingsGuard()
        : m_held(!qEnvironmentVariableIsSet(kHeld))
        , m_vendorExisted(Registry::keyExists(HKEY_CURRENT_USER, vendorKey()))
        , m_settings(HKEY_CURRENT_USER, settingsKey())
        , m_ownRun(HKEY_CURRENT_USER, runKey(), ownName())
        , m_programRun(HKEY_CURRENT_USER, runKey(), QStringLiteral("VantrelVCom"))
    {
        if (!m_held)
            return;
        qputenv(kHeld, "1");
        Registry::removeKey(HKEY_CURRENT_USER, settingsKey());
    }

    ~UserSettingsGuard()
    {
        if (!m_held)
            return;
        m_settings.restore();
        m_ownRun.restore();
        m_programRun.restore();
        if (!m_vendorExisted && Registry::subkeys(HKEY_CURRENT_USER, vendorKey()).isEmpty()
            && Registry::values(HKEY_CURRENT_USER, vendorKey()).isEmpty())
            Registry::removeKey(HKEY_CURRENT_USER, vendorKey());
    }

    UserSettingsGuard(const UserSettingsGuard &) = delete;
    UserSettingsGuard &operator=(const UserSettingsGuard &) = delete;

private:
    static constexpr const char *kHeld = "VCOM_TEST_SETTINGS_HELD";
    static QString vendorKey() { return QStringLiteral("Software\\Vantrel"); }
    // The name AutoRun gives this program's value: Qt's application name, its file's base name.
    static QString ownName()
    {
        wchar_t path[MAX_PATH];
        const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        const QString file = QString::fromWCharArray(path, int(n)).section(QLatin1Char('\\'), -1);
        return file.section(QLatin1Char('.'), 0, 0);
    }

    bool m_held;
    bool m_vendorExisted;
    Registry::Backup m_settings;
    Registry::ValueBackup m_ownRun;
    Registry::ValueBackup m_programRun;
};

inline const UserSettingsGuard userSettingsGuard;
#endif

// What the settings store holds, value by value as text (a switch as "true" or "false"): the
// registry key on Windows, the ini file under XDG_CONFIG_HOME elsewhere.
inline QMap<QString, QString> storedSettings()
{
    QMap<QString, QString> values;
#ifdef Q_OS_WIN
    values = Registry::values(HKEY_CURRENT_USER, settingsKey());
#else
    const QSettings raw(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + QStringLiteral("/Vantrel/Tovimex.conf"),
                        QSettings::IniFormat);
    for (const QString &key : raw.allKeys())
        values.insert(key, raw.value(key).toString());
#endif
    return values;
}

inline void clearStoredSettings()
{
#ifdef Q_OS_WIN
    Registry::removeKey(HKEY_CURRENT_USER, settingsKey());
#else
    QFile::remove(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + QStringLiteral("/Vantrel/Tovimex.conf"));
#endif
}

// ---------------------------------------------------------------------------------------------

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

// The log pane's text with the time at the start of each line taken off; a line without one
// keeps the mark "(no time) " in its place, so that no comparison passes it.
inline QString logText(MainWindow &w)
{
    static const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d "));
    QStringList lines = w.findChild<QPlainTextEdit *>(QStringLiteral("plnText"))->toPlainText().split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = time.match(line).hasMatch() ? line.mid(9) : QStringLiteral("(no time) ") + line;
    return lines.join(QLatin1Char('\n'));
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
    QString category;
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
        entries().append({type, text, QString::fromLatin1(context.category)});
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
