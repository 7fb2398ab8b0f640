// The traffic monitor: one list line for every block a running connection relays.
#ifndef MONITOR_H
#define MONITOR_H

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QTimer>

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

public slots:
    void onShowSerial(const QByteArray &buffer);
    void onShowSocket(const QByteArray &buffer);

private slots:
    void on_pushButton_clicked();

private:
    void addLine(const QString &line);

    Ui::Monitor *ui;
    QTimer scrollTimer;
};

#endif // MONITOR_H
