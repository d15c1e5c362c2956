// The dialog shown while an export runs: a notice, the archive path of the
// file being written with its number, a bar of the bytes written and a
// Cancel button. It stands above the main window (a transient dialog) and
// nothing closes it while the export runs: not Escape, not the window
// manager's close. Only finish() lets it go.
#pragma once

#include <QDialog>

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
    // For another job than an export: what it says while it runs, and once
    // Cancel is pressed.
    void setNotice(const QString &running, const QString &cancelling);

public slots:
    void setFile(const QString &path, int number, int count);
    void setProgress(int percent);

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
    Ui::ProgressDlg *ui;
    bool m_running = true;
    QString m_cancelling;
};
