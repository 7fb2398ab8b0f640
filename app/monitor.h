// The traffic monitor: one list line for every block a running connection relays, with the time
// the block was read; what the serial side sent is cut into blocks of at most
// QPipeItem::SerialChunk bytes. It can pause, clear, save its lines and append every block to a
// file.
#ifndef MONITOR_H
#define MONITOR_H

#include <QByteArray>
#include <QDialog>
#include <QFile>
#include <QString>
#include <QTimer>

#include <deque>

namespace Ui {
class Monitor;
}

class Monitor : public QDialog
{
    Q_OBJECT

public:
    // The list keeps the newest lines only: a monitor left open on a busy connection must not
    // grow without bound.
    static constexpr int MaxLines = 10000;

    explicit Monitor(QWidget *parent = nullptr);
    virtual ~Monitor();

    // The line shown for a block, without its time: the tag, " 0x.." for each byte, a blank and
    // the block read as UTF-8.
    static QString formatLine(const QString &tag, const QByteArray &block);

    // How often the blocks received meanwhile are turned into lines; in a flood, when each time
    // brings more than the list holds, less often: the whole list is new at every showing then,
    // too fast to be read, and making and drawing it cost more than relaying the bytes.
    static constexpr int ShowEveryMs = 50;
    static constexpr int FloodShowEveryMs = 250;

    // The file log is written out a few times a second, and at once when this much waits.
    static constexpr int FileLogEveryMs = 250;
    static constexpr int FileLogFlushBytes = 1 << 20;

    // Writes the lines the list holds, with their times, one per line, as UTF-8. A failure is
    // told to the user and gives false.
    bool saveTo(const QString &path);

    // Appends every block that arrives from now on to the file at path, as its lines. A file
    // that cannot be opened is told to the user and gives false.
    bool startFileLog(const QString &path);
    void stopFileLog();

    // The window title names the connection (its id and name) and what it carried; either may
    // be empty.
    void setConnection(const QString &label);
    void setCounts(const QString &counts);

    void done(int result) override;

public slots:
    // A block the relay read at readAtMs (ms since the epoch): side 0 from the COM port, 1 from
    // the TCP socket.
    void onShowBlock(int side, const QByteArray &buffer, qint64 readAtMs);
    // The same, stamped with the time they arrive here.
    void onShowSerial(const QByteArray &buffer);
    void onShowSocket(const QByteArray &buffer);
    // Turns the blocks received since the last time into lines, now (not while paused).
    void showPending();

private slots:
    void on_pushButton_clicked();
    void on_btPause_toggled(bool paused);
    void on_btClear_clicked();
    void on_btSave_clicked();
    void on_chkFile_clicked(bool checked);

private:
    struct Block
    {
        bool fromSerial;
        QByteArray data;
        int lines;
        qint64 readAtMs;
    };
    void queue(bool fromSerial, const QByteArray &buffer, qint64 readAtMs);
    void logBlock(bool fromSerial, const QByteArray &buffer, qint64 readAtMs);
    bool writeFileLog();
    void fileLogFailed(const QString &why);
    void showTitle();

    Ui::Monitor *ui;
    // The blocks not shown yet, no more than hold the newest MaxLines lines.
    std::deque<Block> pending;
    int pendingLines = 0;
    QTimer showTimer;

    QString connectionLabel;
    QString countsText;

    // The file log: lines not written yet, at most about FileLogFlushBytes.
    QFile logFile;
    QByteArray logBuffer;
    QTimer logTimer;
};

#endif // MONITOR_H
