// Answers the modal dialogs that a command opens, one after the other, from
// the dialogs' own event loops: the test triggers the command, the driver
// meets each dialog as the user would.
#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>

class ModalDriver
{
public:
    using Step = std::function<void(QWidget *)>;

    // What a file dialog asked, as the user saw it.
    struct FileDialogSeen
    {
        QString caption;
        QString proposed; // the file-name field as the dialog opened
        QStringList filters;
        QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
        QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
    };

    // Modal windows of class `leftAlone` (a progress dialog that goes away
    // on its own) are neither answered nor counted as unexpected.
    explicit ModalDriver(const char *leftAlone = nullptr)
        : m_leftAlone(leftAlone)
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }

    // The next modal dialog that appears is handed to `step`.
    void then(Step step) { m_steps.push_back(std::move(step)); }

    // Types `path` into the next file dialog (open, save or directory) and
    // accepts it; an empty path cancels it. Records what the dialog asked.
    void answerFile(const QString &path, FileDialogSeen *seen = nullptr)
    {
        then([path, seen](QWidget *w) {
            auto *dlg = qobject_cast<QFileDialog *>(w);
            QVERIFY2(dlg, "expected a file dialog");
            auto *edit = dlg->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY(edit);
            if (seen)
                *seen = {dlg->windowTitle(), edit->text(), dlg->nameFilters(), dlg->fileMode(),
                         dlg->acceptMode()};
            if (path.isEmpty())
                return dlg->reject();
            edit->setText(path);
            // As the Open or Save button does.
            static_cast<QDialog *>(dlg)->accept();
        });
    }

    // Closes the next message box with its only button, recording it as
    // "icon|title|text".
    void answerMessage(QString *seen)
    {
        then([=](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            QVERIFY2(box, "expected a message box");
            *seen = QString::number(box->icon()) + '|' + box->windowTitle() + '|' + box->text();
            QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
            box->defaultButton()->click();
        });
    }

    // Steps that never met their dialog.
    size_t pending() const { return m_steps.size(); }
    // Dialogs that appeared with no step for them.
    int unexpected() const { return m_unexpected; }

private:
    void poll()
    {
        QWidget *w = QApplication::activeModalWidget();
        if (!w || w == m_last || !w->isVisible() || (m_leftAlone && w->inherits(m_leftAlone)))
            return;
        m_last = w;
        if (m_steps.empty()) {
            // Close it so the test fails instead of hanging.
            ++m_unexpected;
            QMetaObject::invokeMethod(w, "reject", Qt::QueuedConnection);
            return;
        }
        Step step = std::move(m_steps.front());
        m_steps.pop_front();
        QPointer<QWidget> guard(w);
        step(w);
        // A step that failed leaves its dialog open; close it so the test
        // reports the failure instead of hanging.
        if (guard && guard->isVisible())
            QMetaObject::invokeMethod(guard, "reject", Qt::QueuedConnection);
    }

    QTimer m_timer;
    std::deque<Step> m_steps;
    QPointer<QWidget> m_last;
    int m_unexpected = 0;
    const char *m_leftAlone;
};
