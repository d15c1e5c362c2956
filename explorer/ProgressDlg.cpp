#include "ProgressDlg.h"

#include "ui_ProgressDlg.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLocale>

ProgressDlg::ProgressDlg(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ProgressDlg)
{
    ui->setupUi(this);
    // A dialog, so the window manager keeps it above the main window
    // (WM_TRANSIENT_FOR); a title but no close button: the export's end
    // or Cancel ends it.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    // Wider only: a taller dialog would only spread its lines apart.
    setFixedHeight(sizeHint().height());
}

ProgressDlg::~ProgressDlg()
{
    delete ui;
}

void ProgressDlg::finish()
{
    m_running = false;
    close();
}

void ProgressDlg::setNotice(const QString &running, const QString &cancelling)
{
    ui->noticeLabel->setText(running);
    m_cancelling = cancelling;
}

void ProgressDlg::setFile(const QString &path, int number, int count)
{
    ui->fileLabel->setText(path);
    ui->countLabel->setText(tr("File %1 of %2").arg(QLocale().toString(number), QLocale().toString(count)));
}

void ProgressDlg::setProgress(int percent)
{
    ui->progressBar->setValue(percent);
}

void ProgressDlg::keyPressEvent(QKeyEvent *e)
{
    // QDialog's own handling is never reached: Escape would reject the
    // dialog and Enter would press a button.
    e->ignore();
}

void ProgressDlg::closeEvent(QCloseEvent *e)
{
    // The window manager's close (Alt+F4) would hide the dialog while the
    // worker goes on.
    if (m_running)
        e->ignore();
    else
        QDialog::closeEvent(e);
}

void ProgressDlg::on_cancelButton_clicked()
{
    ui->cancelButton->setEnabled(false);
    ui->noticeLabel->setText(m_cancelling.isEmpty() ? tr("Cancelling: the file being written is removed...")
                                                    : m_cancelling);
    emit cancelRequested();
}

void ProgressDlg::changeEvent(QEvent *e)
{
    QDialog::changeEvent(e);
    if (e->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}
