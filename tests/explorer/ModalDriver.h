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
#include <string>
#include <vector>

class ModalDriver
{
public:
    using Step = std::function<void(QWidget *)>;

    ModalDriver()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }

    // The next modal dialog that appears is handed to `step`.
    void then(Step step)
    {
        m_steps.push_back(std::move(step));
    }

    // Types `path` into the next file dialog and accepts it; an empty path
    // cancels it. Records the dialog's caption.
    void answerFile(const QString &path, QString *caption = nullptr)
    {
        then([path, caption](QWidget *w) {
            auto *dlg = qobject_cast<QFileDialog *>(w);
            QVERIFY2(dlg, "expected a file dialog");
            if (caption)
                *caption = dlg->windowTitle();
            if (path.isEmpty()) {
                dlg->reject();
                return;
            }
            auto *edit = dlg->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY(edit);
            edit->setText(path);
            // As the Open button does.
            static_cast<QDialog *>(dlg)->accept();
        });
    }

    // What a file dialog asked, as the user saw it.
    struct FileDialogSeen
    {
        QString caption;
        QString proposed; // the file-name field as the dialog opened
        QStringList filters;
        QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
        QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
        bool dirsOnly = false;
    };

    // As answerFile, for any file dialog (a save dialog, or a directory
    // dialog given a directory's path), recording what it asked.
    void answerFileDialog(const QString &path, FileDialogSeen *seen)
    {
        then([path, seen](QWidget *w) {
            auto *dlg = qobject_cast<QFileDialog *>(w);
            QVERIFY2(dlg, "expected a file dialog");
            auto *edit = dlg->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY(edit);
            seen->caption = dlg->windowTitle();
            seen->proposed = edit->text();
            seen->filters = dlg->nameFilters();
            seen->fileMode = dlg->fileMode();
            seen->acceptMode = dlg->acceptMode();
            seen->dirsOnly = dlg->testOption(QFileDialog::ShowDirsOnly);
            if (path.isEmpty()) {
                dlg->reject();
                return;
            }
            edit->setText(path);
            static_cast<QDialog *>(dlg)->accept();
        });
    }

    // Modal windows of this class are not the driver's business: they are
    // not answered, not counted as unexpected, and not closed (a progress
    // dialog that goes away on its own).
    void leaveAlone(const char *className)
    {
        m_leftAlone.push_back(className);
    }

    // Closes the next message box with its default button, recording it.
    void answerMessage(QMessageBox::Icon *icon, QString *title, QString *text)
    {
        then([=](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            QVERIFY2(box, "expected a message box");
            *icon = box->icon();
            *title = box->windowTitle();
            *text = box->text();
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
        if (!w || w == m_last || !w->isVisible())
            return;
        for (const std::string &name : m_leftAlone)
            if (w->inherits(name.c_str()))
                return;
        m_last = w;
        if (m_steps.empty()) {
            // An unexpected dialog: close it so the test fails instead of
            // hanging.
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
    std::vector<std::string> m_leftAlone;
};
