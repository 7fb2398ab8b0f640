// The about box: the program's name, version, build date and the maker's contact data.
#ifndef ABOUTDIALOG_H
#define ABOUTDIALOG_H

#include <QDialog>

namespace Ui {
class AboutDialog;
}

class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget *parent = nullptr);
    virtual ~AboutDialog();

private slots:
    void on_btOk_clicked();

private:
    Ui::AboutDialog *ui;
};

#endif // ABOUTDIALOG_H
