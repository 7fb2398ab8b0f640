#include "exitdialog.h"
#include "ui_exitdialog.h"

ExitDialog::ExitDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ExitDialog)
{
    ui->setupUi(this);
    setWindowTitle(tr("Выход из программы"));
    // No close button in the title bar: the user answers with one of the three buttons.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    // Enter at once means "leave", as the user who asked to close expects.
    ui->btYes->setFocus();
}

ExitDialog::~ExitDialog()
{
    delete ui;
}

int ExitDialog::getMode() const
{
    return mode;
}

void ExitDialog::on_btYes_clicked()
{
    mode = mdExit;
    accept();
}

void ExitDialog::on_btNo_clicked()
{
    mode = mdReturn;
    reject();
}

void ExitDialog::on_btMInimize_clicked()
{
    mode = mdMinimize;
    accept();
}
