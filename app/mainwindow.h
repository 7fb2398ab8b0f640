// The main window: the hub of every command, the connection table, the log pane and the status line.
#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "setupc.h"

#include <QDateTime>
#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QProcess>
#include <QStringList>

#include <array>

class QAction;
class QCheckBox;
class QCloseEvent;
class QPoint;
class QTableWidgetItem;
class MsConfig;
class PipeLog;
class ServiceWatch;
class QPipeItem;
class QPipeMap;
class RelayRunner;

QT_BEGIN_NAMESPACE
namespace Ui {
class MainWindow;
}
QT_END_NAMESPACE

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    virtual ~MainWindow();

public slots:
    void onDeviceDialog();
    void onDelAllPair();
    void onViewMenuConnected(const QPoint &pos);
    void onAddConnect();
    void onDelConnect();
    void onStart();
    void onStop();
    void onMonitor();
    void onQuitClose();
    void onAbout();
    void onShowStatus(QString state);

private slots:
    void on_tbView_itemDoubleClicked(QTableWidgetItem *item);
    void on_tbView_itemClicked(QTableWidgetItem *item);
    // A connection's reports from its worker thread: its state, a side down or back, its counters.
    // Their log lines come from pipeLog.
    void onPipeStateChanged(QPipeItem *pipe, int state, bool started);
    void onPipeSideChanged(QPipeItem *pipe, int side, bool up, const QString &what, const QString &reason,
                           int retryMs);
    void onPipeRetrying(QPipeItem *pipe, int side, int retryMs);
    void onPipeCounters(QPipeItem *pipe, qint64 toSocket, qint64 toSerial, qint64 droppedToSocket,
                        qint64 droppedToSerial);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    // Connected in code to the autorun check box, which is made after the form's by-name
    // connections; as a plain member it does not trip them up.
    void on_chkAuto_stateChanged(int state);
    void loadConfig();
    void saveConfig();
    void createActions();
    void createMenu();
    void createToolBar();
    void createWidget();
    void createObjects();
    // Asks the service of the default folder, without waiting, which connections it runs.
    void watchService();
    bool sysDeleteAll();
    // Starts listing the pairs; the log pane shows them once the listing is over.
    void sysGetPortList();
    void showPortList(const QString &output, Setupc::Ending ending);
    void setAutoRun(bool on);
    void onViewTable();
    void onUpDateTable();

    // Starts a connection in its worker thread; its state comes by signal.
    void startConnection(QPipeItem *item);
    // Closes a connection's bridge and ends its worker thread. remember: record the change in the
    // settings, as the user's stop does.
    void stopConnection(QPipeItem *item, bool remember = true);
    // Records which connections are started, for the next start of the program.
    void rememberStarted();
    void restoreStarted();
    // Writes pipes.json; when that fails, tells the user at once which file could not be written.
    bool savePipes();
    void showState(int row, QPipeItem *item);
    // Shows a connection's picture and tooltip anew, in its row.
    void refreshPipe(QPipeItem *pipe);
    // The tooltip of a connection's state picture: its sides, and what it carried.
    QString stateTip(QPipeItem *pipe) const;
    // The counters as the tooltip and the monitor's title show them.
    QString countsText(const QPipeItem *pipe) const;
    // Appends a line to the log pane.
    void appendToLog(const QString &text);
    int idOfRow(int row) const;

    Ui::MainWindow *ui;
    QAction *actDevice = nullptr;
    QAction *actDeleteAll = nullptr;
    QAction *actAddConnect = nullptr;
    QAction *actDelConnect = nullptr;
    QAction *actStart = nullptr;
    QAction *actStop = nullptr;
    QAction *actMonitor = nullptr;
    QAction *actQuit = nullptr;
    QAction *actAbout = nullptr;
    QAction *actHelp = nullptr;
    int curID = -1;
    QCheckBox *a_box = nullptr;
    MsConfig *config = nullptr;
    // Runs the started connections in their worker threads.
    RelayRunner *runner = nullptr;
    // The log lines of the connections and of pipes.json, the same as the service writes.
    PipeLog *pipeLog = nullptr;
    ServiceWatch *serviceWatch = nullptr;
    QPipeMap *mapConnection = nullptr;
    QStringList listCOM;
    // The pair listing under way, if any.
    QPointer<QProcess> listing;
    // What the window knows of each connection, only from its signals: a running connection's
    // members belong to its worker thread.
    struct PipeView
    {
        int state = 0;
        bool known[2] = {false, false};
        bool up[2] = {false, false};
        QString what[2];
        QString reason[2];
        QDateTime nextTry[2];
        std::array<qint64, 4> counts = {0, 0, 0, 0};
    };
    QMap<const QPipeItem *, PipeView> views;
    // While the window builds itself: a change of the autorun box then comes from the settings,
    // not from the user.
    bool building = true;
};

#endif // MAINWINDOW_H
