// Shown after an export that did not write everything: what was written,
// how many files were not by kind, and every one of them with the reason,
// in a list the user can scroll, select and copy.
#pragma once

#include <QDialog>

struct ExportResult;

namespace Ui {
class ExportSummaryDlg;
}

class ExportSummaryDlg : public QDialog
{
    Q_OBJECT

public:
    ExportSummaryDlg(const ExportResult &result, QWidget *parent);
    ~ExportSummaryDlg() override;

    // "N files (X MiB)", shared with the status bar's line.
    static QString filesAndSize(int files, quint64 bytes);

private:
    Ui::ExportSummaryDlg *ui;
};
