#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "aboutdialog.h"
#include "autorun.h"
#include "connectdialog.h"
#include "devicedialog.h"
#include "exitdialog.h"
#include "monitor.h"
#include "msconfig.h"
#include "pipelog.h"
#include "qpipemap.h"
#include "relayrunner.h"
#include "serialports.h"
#include "servicechannel.h"
#include "servicewatch.h"
#include "setupc.h"
#include "vcomdefs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLoggingCategory>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QStatusTipEvent>
#include <QThread>
#include <QTime>
#include <QToolBar>
#include <QUrl>

// The log pane's lines also go to this category, off unless asked for (QT_LOGGING_RULES), so that
// what the pane shows can be read where there is no one to look at it.
Q_LOGGING_CATEGORY(lcLogPane, "vantrelvcom.log", QtInfoMsg)

namespace {

const char *const kHelpUrl = "https://www.vantrel.example/catalog/interface-converters";
const char *const kPaneStyle = "color:rgb(150,150,150);background-color:rgb(50,50,50);";
// Enough for a day of reconnections to read back; the oldest lines go first, so that churn or a
// flood of notes cannot grow the pane without end.
const int kLogPaneLines = 5000;

} // namespace

static void initResources()
{
    // The pictures live in the static library; make sure they are registered.
    Q_INIT_RESOURCE(resurce);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    initResources();
    ui->setupUi(this);
    ui->plnText->setMaximumBlockCount(kLogPaneLines);
    setWindowTitle(tr("Vantrel-VCom V%1").arg(QLatin1String(Vcom::Version)));
    createWidget();
    loadConfig();
    createActions();
    createMenu();
    createToolBar();
    appendToLog(tr("State list..."));
    createObjects();
    ui->plnText->setStyleSheet(QLatin1String(kPaneStyle));
    building = false;
}

MainWindow::~MainWindow()
{
    // Its report would come to a window half gone.
    Setupc::abandon(listing);
    if (mapConnection) {
        mapConnection->saveToFile(QLatin1String(Vcom::PipesFile));
        // Their relays run in the runner's threads, which end with it. The settings keep them as
        // started, so the next start brings them up again.
        const QList<QPipeItem *> pipes = runner->running();
        for (QPipeItem *pipe : pipes)
            stopConnection(pipe, false);
        delete mapConnection;
        mapConnection = nullptr;
    }
    delete runner;
    runner = nullptr;
    delete ui;
}

// ---------------------------------------------------------------------------------------------
// Building the window

void MainWindow::createWidget()
{
    a_box = new QCheckBox(tr("Авто загрузка"), this);
    a_box->setLayoutDirection(Qt::RightToLeft);
    connect(a_box, &QCheckBox::stateChanged, this, &MainWindow::on_chkAuto_stateChanged);
}

void MainWindow::createActions()
{
    const auto make = [this](const char *name, const QString &text, const char *icon,
                             void (MainWindow::*slot)()) {
        auto *action = new QAction(QIcon(QLatin1String(icon)), text, this);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    actDevice = make("actDevice", tr("Управление виртуальными портами..."), ":/images/command5.png",
                     &MainWindow::onDeviceDialog);
    actDeleteAll = make("actDeleteAll", tr("Удаление всех..."), ":/images/remove.png",
                        &MainWindow::onDelAllPair);
    actStart = make("actStart", tr("Запусить..."), ":/images/media_play_green.png", &MainWindow::onStart);
    actStop = make("actStop", tr("Оставновить..."), ":/images/media_stop_red.png", &MainWindow::onStop);
    actAddConnect = make("actAddConnect", tr("Добавить виртуальное соединение"), ":/images/plus.png",
                         &MainWindow::onAddConnect);
    actDelConnect = make("actDelConnect", tr("Удалить виртуальное соединение"), ":/images/minus.png",
                         &MainWindow::onDelConnect);
    actQuit = make("actQuit", tr("Выйти"), ":/images/exit.png", &MainWindow::onQuitClose);
    actMonitor = make("actMonitor", tr("Монитор..."), ":/images/monitor.png", &MainWindow::onMonitor);
    actAbout = make("actAbout", tr("О программе..."), ":/images/about.png", &MainWindow::onAbout);
    actHelp = new QAction(QIcon(QStringLiteral(":/images/help-icon.png")), tr("Помощь..."), this);
    actHelp->setObjectName(QStringLiteral("actHelp"));
    connect(actHelp, &QAction::triggered, this, [] {
        QDesktopServices::openUrl(QUrl(QLatin1String(kHelpUrl), QUrl::TolerantMode));
    });
}

void MainWindow::createMenu()
{
    QMenu *file = menuBar()->addMenu(tr("Файл"));
    file->addAction(actMonitor);
    file->addSeparator();
    file->addAction(actQuit);

    QMenu *devices = menuBar()->addMenu(tr("Устройства"));
    devices->addAction(actDevice);
    devices->addSeparator();
    devices->addAction(actDeleteAll);

    QMenu *connections = menuBar()->addMenu(tr("Соединения"));
    connections->addAction(actStart);
    connections->addAction(actStop);
    connections->addSeparator();
    connections->addAction(actAddConnect);
    connections->addAction(actDelConnect);

    QMenu *help = menuBar()->addMenu(tr("Помощь"));
    help->addAction(actHelp);
    help->addSeparator();
    help->addAction(actAbout);

    ui->tbView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->tbView, &QWidget::customContextMenuRequested, this, &MainWindow::onViewMenuConnected);
}

void MainWindow::createToolBar()
{
    const QSize iconSize(32, 32);
    ui->toolBar->setWindowTitle(tr("Устройства"));
    ui->toolBar->setIconSize(iconSize);
    ui->toolBar->addAction(actDevice);

    QToolBar *connections = addToolBar(tr("Соединения"));
    connections->setIconSize(iconSize);
    connections->addAction(actAddConnect);
    connections->addAction(actDelConnect);

    QToolBar *work = addToolBar(tr("Работа"));
    work->setIconSize(iconSize);
    work->addAction(actStart);
    work->addAction(actStop);

    QToolBar *tools = addToolBar(tr("Инструменты"));
    tools->setIconSize(iconSize);
    tools->addAction(actMonitor);
    tools->addSeparator();
    tools->addWidget(a_box);

    // With the switch on this emits stateChanged, which registers the program at logon again.
    a_box->setChecked(config->autoLoad);
}

void MainWindow::createObjects()
{
    runner = new RelayRunner(this);
    connect(runner, &RelayRunner::stateChanged, this, &MainWindow::onPipeStateChanged);
    connect(runner, &RelayRunner::sideChanged, this, &MainWindow::onPipeSideChanged);
    connect(runner, &RelayRunner::sideRetrying, this, &MainWindow::onPipeRetrying);
    connect(runner, &RelayRunner::countersChanged, this, &MainWindow::onPipeCounters);
    pipeLog = new PipeLog(this);
    pipeLog->follow(runner);
    connect(pipeLog, &PipeLog::line, this, &MainWindow::appendToLog);
    watchService();
    mapConnection = new QPipeMap(this);
    connect(mapConnection, &QPipeMap::sendStatus, this, &MainWindow::onShowStatus);
    pipeLog->follow(mapConnection);
    sysGetPortList();
    mapConnection->loadFromFile(QLatin1String(Vcom::PipesFile));
    // The status says only that loading failed: a first start in a folder is no fault.
    if (mapConnection->fileWasMissing())
        appendToLog(tr("В папке %1 ещё нет таблицы соединений (%2): таблица пуста, новая будет сохранена там")
                        .arg(QDir::toNativeSeparators(QDir::currentPath()), QLatin1String(Vcom::PipesFile)));
    onViewTable();
    restoreStarted();
}

void MainWindow::watchService()
{
    // The service of the default folder may hold the ports of our connections: when it answers,
    // the pane lists its connections, and a connection of ours that waits for a port it holds
    // says so instead of "busy".
    serviceWatch = new ServiceWatch(this);
    connect(serviceWatch, &ServiceWatch::line, this, &MainWindow::appendToLog);
    pipeLog->setPortHolder([this](const QString &portNull) { return serviceWatch->holderOf(portNull); });
    connect(serviceWatch, &ServiceWatch::answered, this, [this] {
        const QList<QPipeItem *> pipes = runner->running();
        for (QPipeItem *pipe : pipes) {
            const PipeView &view = views[pipe];
            const QString holder = serviceWatch->holderOf(pipe->portNull());
            if (view.known[0] && !view.up[0] && !holder.isEmpty()) {
                appendToLog(PipeLog::sideLine(pipe, false, view.what[0], holder, 0));
                refreshPipe(pipe);
            }
        }
    });
    serviceWatch->ask(ServiceChannel::defaultFolder());
}

void MainWindow::onShowStatus(QString state)
{
    ui->statusbar->showMessage(tr("Статус: %1").arg(state));
}

bool MainWindow::event(QEvent *event)
{
    // Hovering a menu entry sends its status tip, empty for all of ours, and QMainWindow would
    // show it in place of the status line. The status stays until the next one instead.
    if (event->type() == QEvent::StatusTip && static_cast<QStatusTipEvent *>(event)->tip().isEmpty())
        return true;
    return QMainWindow::event(event);
}

// ---------------------------------------------------------------------------------------------
// Settings, logon and exit

void MainWindow::loadConfig()
{
    onShowStatus(tr("Load config"));
    config = new MsConfig(QStringLiteral("Vantrel"), QStringLiteral("Tovimex"), this);
    config->read();
    // Started at logon by the Run key, the program is in the system folder: its pipes.json is
    // where start at logon was switched on.
    AutoRun::enterStartFolder(config->logonDir());
}

void MainWindow::saveConfig()
{
    if (!config)
        return;
    config->save();
    onShowStatus(tr("Save config"));
}

void MainWindow::on_chkAuto_stateChanged(int state)
{
    config->autoLoad = state > 0;
    // The user's check says where: the folder whose pipes.json is in use now. The check made at
    // start-up from the settings keeps the folder recorded then.
    if (state > 0 && (!building || config->logonDir().isEmpty()))
        config->setLogonDir(QDir::currentPath());
    setAutoRun(state > 0);
}

void MainWindow::setAutoRun(bool on)
{
    AutoRun::set(on, config->logonDir());
}

void MainWindow::onQuitClose()
{
    close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    auto *dialog = new ExitDialog(this);
    dialog->exec();
    const int mode = dialog->getMode();
    dialog->deleteLater();
    switch (mode) {
    case ExitDialog::mdExit:
        // A file that cannot be written is told now, while the window is still there.
        savePipes();
        saveConfig();
        event->accept();
        break;
    case ExitDialog::mdMinimize:
        setWindowState(Qt::WindowMinimized);
        event->ignore();
        break;
    default:
        event->ignore();
        break;
    }
}

void MainWindow::onAbout()
{
    auto *dialog = new AboutDialog(this);
    dialog->exec();
    dialog->deleteLater();
}

// ---------------------------------------------------------------------------------------------
// The connection table

void MainWindow::onViewTable()
{
    ui->tbView->setColumnCount(8);
    ui->tbView->setHorizontalHeaderLabels({tr("ID"), tr("NAME"), tr("ST"), tr("VCOM_WORK"), tr("VCOM_NULL"), tr("IP"),
                                           tr("PORT"), tr("NOTE")});
    const int widths[] = {40, 230, 22, 90, 90, 150, 100};
    // The state column is narrower than the style's smallest section.
    ui->tbView->horizontalHeader()->setMinimumSectionSize(widths[2]);
    for (int column = 0; column < 7; ++column)
        ui->tbView->setColumnWidth(column, widths[column]);
    onUpDateTable();
}

void MainWindow::onUpDateTable()
{
    const QList<QPipeItem *> list = mapConnection->getList();
    const int rows = qMin(list.size(), Vcom::MaxConnections);
    ui->tbView->setRowCount(rows);
    const auto cell = [](const QString &text) {
        auto *item = new QTableWidgetItem(text);
        item->setTextAlignment(Qt::AlignCenter);
        return item;
    };
    for (int row = 0; row < rows; ++row) {
        QPipeItem *pipe = list.at(row);
        QTableWidgetItem *idItem = cell(QString::number(pipe->id()));
        idItem->setData(Qt::UserRole, pipe->id());
        ui->tbView->setItem(row, 0, idItem);
        ui->tbView->setItem(row, 1, cell(pipe->getName()));

        auto *state = new QLabel(this);
        state->setMinimumSize(24, 24);
        state->setMaximumSize(24, 24);
        state->setScaledContents(true);
        state->setAlignment(Qt::AlignRight);
        ui->tbView->setCellWidget(row, 2, state);
        showState(row, pipe);

        ui->tbView->setItem(row, 3, cell(pipe->portWork()));
        ui->tbView->setItem(row, 4, cell(pipe->portNull()));
        ui->tbView->setItem(row, 5, cell(pipe->getIpAddr()));
        ui->tbView->setItem(row, 6, cell(QString::number(pipe->getIpPort())));
        ui->tbView->setItem(row, 7, cell(pipe->getNote()));
    }
}

void MainWindow::showState(int row, QPipeItem *pipe)
{
    auto *label = qobject_cast<QLabel *>(ui->tbView->cellWidget(row, 2));
    if (!label)
        return;
    // Stopped; up on both sides; or started and waiting for a side to come (back).
    const char *picture = !runner->isRunning(pipe)                               ? ":/images/discon33.png"
                          : views.value(pipe).state == QPipeItem::PipeConnect ? ":/images/con33.png"
                                                                              : ":/images/delay.png";
    label->setPixmap(QPixmap(QLatin1String(picture)));
    label->setToolTip(stateTip(pipe));
}

void MainWindow::onPipeSideChanged(QPipeItem *pipe, int side, bool up, const QString &what,
                                   const QString &reason, int retryMs)
{
    if (side < 0 || side > 1)
        return;
    PipeView &view = views[pipe];
    view.known[side] = true;
    view.up[side] = up;
    view.what[side] = what;
    view.reason[side] = reason;
    view.nextTry[side] = retryMs > 0 ? QDateTime::currentDateTime().addMSecs(retryMs) : QDateTime();
    refreshPipe(pipe);
}

void MainWindow::onPipeRetrying(QPipeItem *pipe, int side, int retryMs)
{
    if (side < 0 || side > 1)
        return;
    views[pipe].nextTry[side] = QDateTime::currentDateTime().addMSecs(retryMs);
    refreshPipe(pipe);
}

void MainWindow::onPipeCounters(QPipeItem *pipe, qint64 toSocket, qint64 toSerial, qint64 droppedToSocket,
                                qint64 droppedToSerial)
{
    views[pipe].counts = {toSocket, toSerial, droppedToSocket, droppedToSerial};
    refreshPipe(pipe);
}

QString MainWindow::countsText(const QPipeItem *pipe) const
{
    const PipeView view = views.value(pipe);
    return tr("в TCP %1 Б, в COM %2 Б; отброшено %3 Б для TCP, %4 Б для COM")
        .arg(view.counts[0])
        .arg(view.counts[1])
        .arg(view.counts[2])
        .arg(view.counts[3]);
}

QString MainWindow::stateTip(QPipeItem *pipe) const
{
    if (!runner->isRunning(pipe))
        return tr("Остановлено") + QLatin1Char('\n') + countsText(pipe);
    const PipeView view = views.value(pipe);
    QStringList sides;
    for (int side = 0; side < 2; ++side) {
        if (!view.known[side])
            continue;
        if (view.up[side]) {
            sides << tr("%1 работает").arg(view.what[side]);
            continue;
        }
        QString text = tr("%1 не работает: %2").arg(view.what[side], pipeLog->shownReason(pipe, side, view.reason[side]));
        if (view.nextTry[side].isValid())
            text += tr(", следующая попытка в %1").arg(view.nextTry[side].toString(QStringLiteral("HH:mm:ss")));
        sides << text;
    }
    return sides.join(QStringLiteral("; ")) + QLatin1Char('\n') + countsText(pipe);
}

void MainWindow::onPipeStateChanged(QPipeItem *pipe, int state, bool started)
{
    Q_UNUSED(started)
    views[pipe].state = state;
    refreshPipe(pipe);
}

void MainWindow::refreshPipe(QPipeItem *pipe)
{
    for (int row = 0; row < ui->tbView->rowCount(); ++row) {
        if (idOfRow(row) == pipe->id() && mapConnection->itemById(pipe->id()) == pipe)
            showState(row, pipe);
    }
}

void MainWindow::appendToLog(const QString &text)
{
    // The pane would drop all but its last lines at once: only those are laid out, so that a
    // long tool output costs no more than a full pane.
    int from = text.size();
    for (int lines = 0; lines < kLogPaneLines && from > 0; ++lines)
        from = text.lastIndexOf(QLatin1Char('\n'), from - 1);
    // Each line with the time it was written, the lines of a tool's output too.
    const QString stamp = QTime::currentTime().toString(QStringLiteral("HH:mm:ss "));
    const auto stamped = [&stamp](QString lines) {
        return stamp + lines.replace(QLatin1Char('\n'), QLatin1Char('\n') + stamp);
    };
    ui->plnText->appendPlainText(stamped(from >= 0 ? text.mid(from + 1) : text));
    qCDebug(lcLogPane).noquote() << stamped(text);
}

int MainWindow::idOfRow(int row) const
{
    const QTableWidgetItem *idItem = ui->tbView->item(row, 0);
    return idItem ? idItem->data(Qt::UserRole).toInt() : 0;
}

void MainWindow::on_tbView_itemClicked(QTableWidgetItem *item)
{
    curID = idOfRow(item->row());
}

void MainWindow::on_tbView_itemDoubleClicked(QTableWidgetItem *item)
{
    curID = idOfRow(item->row());
    if (curID <= 0) {
        onShowStatus(tr("Невалидный индекс"));
        return;
    }
    QPipeItem *pipe = mapConnection->itemById(curID);
    if (!pipe)
        return;
    auto *dialog = new ConnectDialog(this);
    dialog->setDataConnect(pipe->getPropertyMap());
    if (dialog->exec() == QDialog::Accepted) {
        // New parameters never apply to a running connection: it is stopped first.
        if (runner->isRunning(pipe))
            stopConnection(pipe);
        pipe->setPropertyMap(dialog->getDataConnect());
        onUpDateTable();
        savePipes();
    }
    dialog->deleteLater();
}

// ---------------------------------------------------------------------------------------------
// Connection commands

void MainWindow::onAddConnect()
{
    // No id left (a hand-edited file may hold the largest) is a full table as well.
    if (mapConnection->count() >= Vcom::MaxConnections || mapConnection->nextId() == 0) {
        QMessageBox::critical(this, tr("Добавить соединение"),
                              tr("Невозможно добавить соединение!\nМаксимальное количество 4"),
                              QMessageBox::Ok);
        return;
    }
    auto *dialog = new ConnectDialog(this);
    if (dialog->exec() == QDialog::Accepted) {
        auto *pipe = new QPipeItem(QStringLiteral("Pipe"), nullptr);
        pipe->setPropertyMap(dialog->getDataConnect());
        mapConnection->addPipe(pipe);
        onUpDateTable();
        savePipes();
    }
    dialog->deleteLater();
}

void MainWindow::onDelConnect()
{
    if (curID <= 0) {
        QMessageBox::critical(this, tr("Удаление соединений"), tr("Не выбрано соединение для удаления!"),
                              QMessageBox::Ok);
        return;
    }
    QPipeItem *pipe = mapConnection->itemById(curID);
    if (!pipe) {
        onShowStatus(tr("неверный индекс"));
        return;
    }
    const QString question = tr("Удалить %1 ID:%2").arg(pipe->getName()).arg(pipe->id());
    if (QMessageBox::question(this, tr("Удаление соединения"), question,
                              QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    // No bridge may go on running without a row in the table.
    if (runner->isRunning(pipe))
        stopConnection(pipe);
    mapConnection->deletePipe(curID);
    onUpDateTable();
    savePipes();
}

void MainWindow::onViewMenuConnected(const QPoint &pos)
{
    Q_UNUSED(pos)
    if (curID <= 0) {
        QMessageBox::warning(this, tr("Объект"), tr("Объект не выбран или неверный ID!"), QMessageBox::Ok);
        return;
    }
    QMenu menu;
    menu.addAction(QIcon(QStringLiteral(":/images/media_play_green.png")), tr("Запустить соединение VCOM"),
                   this, &MainWindow::onStart);
    menu.addAction(QIcon(QStringLiteral(":/images/media_stop_red.png")), tr("Остановить соединение VCOM"),
                   this, &MainWindow::onStop);
    menu.addSeparator();
    menu.addAction(QIcon(QStringLiteral(":/images/close.png")), tr("Удалить соединение..."), this,
                   &MainWindow::onDelConnect);
    menu.exec(QCursor::pos());
}

// ---------------------------------------------------------------------------------------------
// Start and stop

void MainWindow::onStart()
{
    if (curID <= 0) {
        QMessageBox::warning(this, tr("Запуск соединения"), tr("Соединение не выбрано или неверный ID!"),
                             QMessageBox::Ok);
        return;
    }
    QPipeItem *pipe = mapConnection->itemById(curID);
    // Started means started, whatever its sides show at the moment: it is bringing them up.
    if (!pipe || runner->isRunning(pipe)) {
        QMessageBox::warning(this, tr("Запуск соединения"),
                             tr("Не неверный ID или соединение уже запущено!"), QMessageBox::Ok);
        return;
    }
    startConnection(pipe);
    rememberStarted();
    onUpDateTable();
}

void MainWindow::onStop()
{
    if (curID <= 0) {
        QMessageBox::warning(this, tr("Останов соединения"), tr("Соединение не не выбрано или неверный ID!"),
                             QMessageBox::Ok);
        return;
    }
    QPipeItem *pipe = mapConnection->itemById(curID);
    // A half-open connection is started too, and can be stopped.
    if (!pipe || !runner->isRunning(pipe)) {
        QMessageBox::warning(this, tr("Останов соединения"),
                             tr("Не неверный ID или соединение не запущено!"), QMessageBox::Ok);
        return;
    }
    stopConnection(pipe);
    onUpDateTable();
}

void MainWindow::startConnection(QPipeItem *pipe)
{
    // What the table shows of it from now on comes from its signals.
    views[pipe].state = QPipeItem::NotConnect;
    onShowStatus(tr("Started thread: %1").arg(pipe->id()));
    runner->start(pipe);
}

void MainWindow::stopConnection(QPipeItem *pipe, bool remember)
{
    if (QThread *worker = runner->threadOf(pipe->id()); worker && worker->isRunning())
        onShowStatus(tr("Quit & Terminate thread: %1").arg(pipe->id()));
    runner->stop(pipe);
    if (remember)
        rememberStarted();
}

void MainWindow::rememberStarted()
{
    QList<int> ids;
    const QList<QPipeItem *> pipes = mapConnection->getList();
    for (QPipeItem *pipe : pipes) {
        if (runner->isRunning(pipe))
            ids << pipe->id();
    }
    config->setStarted(ids, QDir::currentPath());
}

void MainWindow::restoreStarted()
{
    // Whatever ended the last run (an exit, a crash, a power cut), what was started then is
    // started again, as the user left it.
    const QList<int> ids = config->startedIn(QDir::currentPath());
    for (int id : ids) {
        QPipeItem *pipe = mapConnection->itemById(id);
        if (pipe && !runner->isRunning(pipe))
            startConnection(pipe);
    }
    if (!ids.isEmpty()) {
        rememberStarted();
        onUpDateTable();
    }
}

bool MainWindow::savePipes()
{
    if (mapConnection->saveToFile(QLatin1String(Vcom::PipesFile)))
        return true;
    const QString folder = QDir::toNativeSeparators(QDir::currentPath());
    // A file that could not be read, with no sure copy of it, is never written over: the box says
    // why, so that the user can move it aside.
    const QString kept = mapConnection->whyNotSaved(QLatin1String(Vcom::PipesFile));
    const QString text =
        kept.isEmpty()
            ? tr("Не удалось записать файл %1 в папке\n%2\nИзменения соединений не сохранены!")
                  .arg(QLatin1String(Vcom::PipesFile), folder)
            : tr("Программа не перезаписывает файл %1 в папке\n%2:\n%3.\nИзменения соединений не сохранены!")
                  .arg(QLatin1String(Vcom::PipesFile), folder, kept);
    QMessageBox::critical(this, tr("Сохранение соединений"), text, QMessageBox::Ok);
    return false;
}

// ---------------------------------------------------------------------------------------------
// Traffic monitor

void MainWindow::onMonitor()
{
    if (curID <= 0) {
        QMessageBox::critical(this, tr("Мониторинг соединения"), tr("Не выбрано соединение для мониторинга!"),
                              QMessageBox::Ok);
        return;
    }
    QPipeItem *pipe = mapConnection->itemById(curID);
    if (!pipe || !runner->isRunning(pipe) || views.value(pipe).state != QPipeItem::PipeConnect) {
        QMessageBox::critical(this, tr("Мониторинг соединения"), tr("Соединение не установлено!"),
                              QMessageBox::Ok);
        return;
    }
    auto *monitor = new Monitor(this);
    connect(pipe, &QPipeItem::blockRead, monitor, &Monitor::onShowBlock);
    // The title names the connection and counts what it carried, live.
    monitor->setConnection(PipeLog::label(pipe));
    monitor->setCounts(countsText(pipe));
    connect(runner, &RelayRunner::countersChanged, monitor, [this, monitor, pipe](QPipeItem *from) {
        if (from == pipe)
            monitor->setCounts(countsText(pipe));
    });
    monitor->exec();
    monitor->deleteLater();
}

// ---------------------------------------------------------------------------------------------
// Virtual port pairs

void MainWindow::sysGetPortList()
{
    // The listing is only shown: nothing waits for it, so a tool that hangs or floods holds up
    // neither the window nor the connections. A newer listing makes an older one pointless.
    Setupc::abandon(listing);
    listing = Setupc::start(this, Setupc::listArgs(),
                            [this](const QString &output, Setupc::Ending ending) { showPortList(output, ending); });
}

void MainWindow::showPortList(const QString &output, Setupc::Ending ending)
{
    appendToLog(output);
    listCOM = Setupc::portNames(output);
    const auto pairs = Setupc::pairs(listCOM);
    // One append, of no more than the pane keeps: a listing cut at its limit may name tens of
    // thousands of pairs.
    QStringList lines;
    for (int i = qMax(0, pairs.size() - kLogPaneLines); i < pairs.size(); ++i)
        lines << tr("Пара %1: %2-%3").arg(i).arg(pairs.at(i).first, pairs.at(i).second);
    if (!lines.isEmpty())
        appendToLog(lines.join(QLatin1Char('\n')));
    if (ending != Setupc::Ended)
        appendToLog(Setupc::endingNote(ending));
    // The connection dialog then offers none of the folder's ports; the user is told why here.
    const QString problem = SerialPorts::virtualPortDirProblem();
    if (!problem.isEmpty())
        appendToLog(tr("Виртуальные порты не используются: %1").arg(problem));
}

bool MainWindow::sysDeleteAll()
{
    if (!Setupc::exists()) {
        appendToLog(tr("setupc.exe not found!"));
        return false;
    }
    appendToLog(tr("Uninstall all ports..."));
    Setupc::Ending ending = Setupc::Ended;
    appendToLog(Setupc::run(this, Setupc::uninstallArgs(), &ending));
    if (ending != Setupc::Ended)
        appendToLog(Setupc::endingNote(ending));
    return true;
}

void MainWindow::onDelAllPair()
{
    if (QMessageBox::question(this, tr("Удаление портов в/в"),
                              tr("Внимание!!!\nВы пытаетесь удалить все виртуальные\nУдалить?"),
                              QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    if (sysDeleteAll())
        sysGetPortList();
}

void MainWindow::onDeviceDialog()
{
    const QString folder = Setupc::folderPath();
    if (!QDir(folder).exists()) {
        QMessageBox::critical(this, tr("Порты ввода/вывода"), tr("Неверный путь, setupc.exe!"),
                              QMessageBox::Ok);
        return;
    }
    onShowStatus(QDir::cleanPath(folder));
    auto *dialog = new DeviceDialog(this);
    connect(dialog, &DeviceDialog::sendStatus, this, &MainWindow::onShowStatus);
    dialog->exec();
    dialog->deleteLater();
}
