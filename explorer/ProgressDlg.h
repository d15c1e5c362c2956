// The dialog shown while an export or a save runs: a notice, the archive
// path of the file being written with its number, a bar of the bytes written
// and a Cancel button. It stands above the main window (a transient dialog).
// Escape and the window manager's close mean Cancel, after a question whose
// default is No, so a stray key ends no long job; Return and Enter do
// nothing. Only finish() lets it go.
#pragma once

#include <QDialog>
#include <QPointer>

class QMessageBox;

namespace Ui {
class ProgressDlg;
}

class ProgressDlg : public QDialog
{
    Q_OBJECT

public:
    explicit ProgressDlg(QWidget *parent);
    ~ProgressDlg() override;

    // The export has ended: the dialog may close now.
    void finish();
    // For another job than an export: what it says while it runs, what it
    // asks before Escape or the close button cancel, and what it says once
    // cancelling.
    void setNotice(const QString &running, const QString &question, const QString &cancelling);

public slots:
    void setFile(const QString &path, int number, int count);
    void setProgress(int percent);
    // What was to be written is written and is being checked: the bar
    // starts again, and the files it names are those read back.
    void setChecking();

signals:
    // Cancel was pressed; sent once.
    void cancelRequested();

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    void changeEvent(QEvent *e) override;

private slots:
    void on_cancelButton_clicked();

private:
    // Asks whether to cancel, without a nested event loop: the job may end
    // while the question stands, and finish() then takes it away.
    void askToCancel();

    Ui::ProgressDlg *ui;
    bool m_running = true;
    QString m_question;
    QString m_cancelling;
    bool m_checking = false;
    QPointer<QMessageBox> m_asking;
};
