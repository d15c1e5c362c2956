#include "ProgressDlg.h"

#include "ui_ProgressDlg.h"

#include <QKeyEvent>

ProgressDlg::ProgressDlg(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ProgressDlg)
{
    ui->setupUi(this);
    // No title bar and so no close button: the dialog ends with the export.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowTitleHint
                   | Qt::CustomizeWindowHint);
}

ProgressDlg::~ProgressDlg()
{
    delete ui;
}

void ProgressDlg::SetLabel1Text(const QString &text)
{
    ui->label->setText(text);
}

void ProgressDlg::SetLabel2Text(const QString &text)
{
    ui->label_2->setText(text);
}

void ProgressDlg::SetProgress(int progress)
{
    ui->progressBar->setValue(progress);
}

void ProgressDlg::keyPressEvent(QKeyEvent *e)
{
    // QDialog's own handling is never reached: Escape would reject the
    // dialog and Enter would press a default button.
    if (e->key() == Qt::Key_Escape)
        e->ignore();
}

void ProgressDlg::changeEvent(QEvent *e)
{
    QDialog::changeEvent(e);
    if (e->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}
