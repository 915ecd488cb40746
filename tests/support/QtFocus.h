#pragma once
// The tab order of a window in window tests.

#include <QWidget>

// The next widget after from that Tab reaches.
inline QWidget* NextTabStop(QWidget* from)
{
    QWidget* next = from->nextInFocusChain();
    while (next != nullptr && next != from && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    return next;
}
