#include "ProgressDlg.h"

#include "ui_ProgressDlg.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>

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
    if (m_asking)
        m_asking->done(QMessageBox::No);
    close();
}

void ProgressDlg::setNotice(const QString &running, const QString &question, const QString &cancelling)
{
    ui->noticeLabel->setText(running);
    m_question = question;
    m_cancelling = cancelling;
}

void ProgressDlg::setFile(const QString &path, int number, int count)
{
    ui->fileLabel->setText(path);
    const QString line = m_checking ? tr("Written; checking file %1 of %2") : tr("File %1 of %2");
    ui->countLabel->setText(line.arg(QLocale().toString(number), QLocale().toString(count)));
}

void ProgressDlg::setChecking()
{
    m_checking = true;
    ui->countLabel->setText(tr("Written; checking..."));
    ui->progressBar->setValue(0);
}

void ProgressDlg::setProgress(int percent)
{
    ui->progressBar->setValue(percent);
}

void ProgressDlg::keyPressEvent(QKeyEvent *e)
{
    // QDialog's own handling is never reached: Escape would hide the dialog
    // while the worker goes on, and Enter would press a button.
    if (e->key() == Qt::Key_Escape)
        askToCancel();
    e->accept();
}

void ProgressDlg::closeEvent(QCloseEvent *e)
{
    // The window manager's close (Alt+F4) would hide the dialog while the
    // worker goes on.
    if (!m_running)
        return QDialog::closeEvent(e);
    e->ignore();
    askToCancel();
}

void ProgressDlg::askToCancel()
{
    if (m_asking || !m_running || !ui->cancelButton->isEnabled())
        return;
    const QString question = m_question.isEmpty() ? tr("Cancel the export?\nFiles written so far stay; the one being "
                                                       "written is removed.")
                                                  : m_question;
    m_asking = new QMessageBox(QMessageBox::Question, windowTitle(), question, QMessageBox::Yes | QMessageBox::No, this);
    m_asking->setDefaultButton(QMessageBox::No);
    m_asking->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_asking, &QMessageBox::finished, this, [this](int answer) {
        if (answer == QMessageBox::Yes && m_running && ui->cancelButton->isEnabled())
            on_cancelButton_clicked();
    });
    m_asking->open();
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
