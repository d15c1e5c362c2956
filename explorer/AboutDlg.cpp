#include "AboutDlg.h"

#include "ui_AboutDlg.h"

AboutDlg::AboutDlg(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::AboutDlg)
{
    ui->setupUi(this);
}

AboutDlg::~AboutDlg()
{
    delete ui;
}

void AboutDlg::changeEvent(QEvent *e)
{
    QDialog::changeEvent(e);
    if (e->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void AboutDlg::on_pushButton_clicked()
{
    // QDialog treats the close as a rejection, so exec() returns.
    close();
}
