// The dialog shown while an export runs: a fixed notice, the archive path of
// the file being written and a percentage. It has no frame and no buttons,
// and no key closes it: an export cannot be cancelled, so the dialog stays
// until the worker has finished.
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

    // The upper line.
    void SetLabel1Text(const QString &text);

public slots:
    // The lower line.
    void SetLabel2Text(const QString &text);
    void SetProgress(int progress);

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void changeEvent(QEvent *e) override;

private:
    Ui::ProgressDlg *ui;
};
