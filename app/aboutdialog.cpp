#include "aboutdialog.h"
#include "ui_aboutdialog.h"

#include "vcomdefs.h"

namespace {

// The date of the release build, not of the day the box is opened: the user quotes it to
// support to say which build they run.
const char BuildDate[] = "12.07.2024";

} // namespace

AboutDialog::AboutDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::AboutDialog)
{
    ui->setupUi(this);
    ui->lbVer->setText(QString::fromLatin1(Vcom::Version));
    ui->lbDateTime->setText(QString::fromLatin1(BuildDate));
}

AboutDialog::~AboutDialog()
{
    delete ui;
}

void AboutDialog::on_btOk_clicked()
{
    accept();
}
