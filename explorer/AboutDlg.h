// The About box: logo, title and author, and a Close button.
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
