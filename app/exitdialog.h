// The question asked before the main window closes: leave, go back, or minimize.
#ifndef EXITDIALOG_H
#define EXITDIALOG_H

#include <QDialog>

namespace Ui {
class ExitDialog;
}

class ExitDialog : public QDialog
{
    Q_OBJECT

public:
    enum Mode { mdExit = 0, mdReturn = 1, mdMinimize = 2 };

    explicit ExitDialog(QWidget *parent = nullptr);
    virtual ~ExitDialog();

    int getMode() const;

private slots:
    void on_btYes_clicked();
    void on_btNo_clicked();
    void on_btMInimize_clicked();

private:
    // Esc closes the dialog without a button; going back is the only safe reading of that.
    Mode mode = mdReturn;
    Ui::ExitDialog *ui;
};

#endif // EXITDIALOG_H
