// What the explorer's tests share: the answers to the modal dialogs a
// command opens, and choosing a tree item by its name.
#pragma once

#include <QApplication>
#include <QList>
#include <QPointer>
#include <QTreeWidget>
#include <QWidget>

#include <functional>

using Step = std::function<void(QWidget *)>;

// Called often (a timer of a few milliseconds): the modal dialog on top,
// once, gets the first of `steps`, or counts in `unexpected` when none is
// left; a dialog its step leaves open is rejected. A dialog is marked once
// it had its step: it may come to the top again when one opened over it
// closes.
inline void answerModal(QObject *context, QList<Step> &steps, int &unexpected)
{
    QPointer<QWidget> w = QApplication::activeModalWidget();
    if (!w || w->property("stepTaken").toBool() || !w->isVisible())
        return;
    w->setProperty("stepTaken", true);
    const Step step = steps.empty() ? Step() : steps.takeFirst();
    unexpected += step ? 0 : 1;
    // Outside the caller, so a dialog the step opens meets the timer too.
    QMetaObject::invokeMethod(context, [step, w] {
        if (step && w)
            step(w);
        if (w && w->isVisible())
            QMetaObject::invokeMethod(w, "reject", Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

// Makes the one item named `name` current and selected; false when there
// is not exactly one.
inline bool selectItem(QTreeWidget *tree, const QString &name)
{
    const auto items = tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
    if (items.size() == 1)
        tree->setCurrentItem(items[0]);
    return items.size() == 1 && tree->selectedItems() == items;
}
