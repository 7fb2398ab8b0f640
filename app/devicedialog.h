// The virtual port manager: lists, adds and removes the null-modem port pairs through setupc.exe.
#ifndef DEVICEDIALOG_H
#define DEVICEDIALOG_H

#include <QDialog>
#include <QString>
#include <QStringList>

class QListWidgetItem;

namespace Ui {
class DeviceDialog;
}

class DeviceDialog : public QDialog
{
    Q_OBJECT

public:
    explicit DeviceDialog(QWidget *parent = nullptr);
    ~DeviceDialog() override;

signals:
    void sendStatus(const QString &status);

private slots:
    void on_btList_clicked();
    void on_lwCOM_itemClicked(QListWidgetItem *item);
    void on_btAdd_clicked();
    void on_btDel_clicked();
    void on_btCancel_clicked();

private:
    bool sysAddDevice(const QString &first, const QString &second);
    void sysPortList();
    // Adds a list output and its pairs to the list, and takes its names as the current ones.
    void showListing(const QString &output);
    // Runs setupc.exe (Setupc::run); a run cut short is told in the list, above its output.
    QString runSetupc(const QStringList &args);

    Ui::DeviceDialog *ui;
    // The port names of the latest listing, in output order; two neighbours form one pair.
    QStringList listCOM;
};

#endif // DEVICEDIALOG_H
