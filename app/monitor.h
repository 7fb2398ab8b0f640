// The traffic monitor: one list line for every block a running connection relays; what the
// serial side sent is cut into blocks of at most QPipeItem::SerialChunk bytes.
#ifndef MONITOR_H
#define MONITOR_H

#include <QByteArray>
#include <QDialog>
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

    // The line shown for a block: the tag, " 0x.." for each byte, a blank and the block read
    // as UTF-8.
    static QString formatLine(const QString &tag, const QByteArray &block);

    // How often the blocks received meanwhile are turned into lines; in a flood, when each time
    // brings more than the list holds, less often: the whole list is new at every showing then,
    // too fast to be read, and making and drawing it cost more than relaying the bytes.
    static constexpr int ShowEveryMs = 50;
    static constexpr int FloodShowEveryMs = 250;

public slots:
    void onShowSerial(const QByteArray &buffer);
    void onShowSocket(const QByteArray &buffer);
    // Turns the blocks received since the last time into lines, now.
    void showPending();

private slots:
    void on_pushButton_clicked();

private:
    struct Block
    {
        bool fromSerial;
        QByteArray data;
        int lines;
    };
    void queue(bool fromSerial, const QByteArray &buffer);

    Ui::Monitor *ui;
    // The blocks not shown yet, no more than hold the newest MaxLines lines.
    std::deque<Block> pending;
    int pendingLines = 0;
    QTimer showTimer;
};

#endif // MONITOR_H
