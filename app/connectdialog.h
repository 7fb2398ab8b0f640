// The dialog in which the user enters or changes the parameters of one connection.
#ifndef CONNECTDIALOG_H
#define CONNECTDIALOG_H

#include <QDialog>
#include <QString>
#include <QVariantMap>

namespace Ui {
class ConnectDialog;
}

class ConnectDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ConnectDialog(QWidget *parent = nullptr);
    virtual ~ConnectDialog();

    // Edit mode: shows the values of a connection; keys the form has no field for (such as
    // "id") are kept and come back in the result.
    void setDataConnect(const QVariantMap &value);
    QVariantMap getDataConnect() const;

private slots:
    void on_btAdd_clicked();
    void on_btCancel_clicked();

private:
    void showModeKeys(const QVariantMap &value);
    void showMode();
    int shownBaud();

    QVariantMap dataConnect;
    // The rate the user last settled on in the speed box: what a half-typed rate falls back to.
    int lastBaud = 9600;
    Ui::ConnectDialog *ui;
};

#endif // CONNECTDIALOG_H
