#include "AboutDlg.h"

#include "ui_AboutDlg.h"

namespace {
// As the software centres show it (the desktop metadata's homepage).
const char kHomepage[] = "https://zarnik.example.org/";
} // namespace


AboutDlg::AboutDlg(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::AboutDlg)
{
    ui->setupUi(this);
    retranslate();
}

void AboutDlg::retranslate()
{
    // Built here rather than in the form, so that the version and the
    // library versions are the running program's.
    const QString html =
        tr("<p align=\"center\"><b style=\"font-size:large\">Zarnik Explorer %1</b></p>"
           "<p align=\"center\">Written by <b>Pellworth</b></p>"
           "<p>Browses, exports and changes the Zarnik game's .vfs and .upk packs.</p>"
           "<p><b>License:</b> MIT License. Copyright (c) 2026 The Zarnik Explorer developers. "
           "No warranty.</p>"
           "<p><b>Libraries:</b> Qt %2 (LGPL 3); PCRE2 for Find in Files' regular expressions "
           "(BSD license). The block compression is the program's own.</p>"
           "<p><b>Documentation:</b> the manual pages zarnik-explorer(1) and zarnik(1) "
           "(<tt>man zarnik-explorer</tt>), and <a href=\"%3\">%3</a>.</p>")
            .arg(QStringLiteral(ZARNIK_VERSION), QString::fromLatin1(qVersion()), QString::fromLatin1(kHomepage));
    ui->textEdit->setHtml(html);
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
