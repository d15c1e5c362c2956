#include "AboutDlg.h"

#include "ui_AboutDlg.h"


AboutDlg::AboutDlg(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::AboutDlg)
{
    ui->setupUi(this);
    retranslate();
}

void AboutDlg::retranslate()
{
    // The program's name as the window's title gives it, with its version.
    ui->textEdit->setHtml(
        ui->textEdit->toHtml().replace(QLatin1String("%1"), QStringLiteral(ZARNIK_VERSION)));
}

AboutDlg::~AboutDlg()
{
    delete ui;
}

void AboutDlg::changeEvent(QEvent *e)
{
    QDialog::changeEvent(e);
    if (e->type() == QEvent::LanguageChange)
    {
        ui->retranslateUi(this);
        retranslate();
    }
}

void AboutDlg::on_pushButton_clicked()
{
    // QDialog treats the close as a rejection, so exec() returns.
    close();
}
