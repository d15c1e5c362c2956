// The About box: logo, the program's name and version, its license, the
// libraries it uses, where its documentation is, and a Close button.
#pragma once

#include <QDialog>

namespace Ui {
class AboutDlg;
}

class AboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDlg(QWidget *parent);
    ~AboutDlg() override;

protected:
    void changeEvent(QEvent *e) override;

private slots:
    void on_pushButton_clicked();

private:
    void retranslate();
    Ui::AboutDlg *ui;
};
