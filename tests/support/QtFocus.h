#pragma once
// The keyboard focus and tab order of a window in window tests. The focus arrives with the
// window's activation, which may come late (a loaded machine, a compositor): wait for it, and
// fail with a message rather than crash when it never comes.

#include "support/QtWait.h"

#include <QApplication>
#include <QWidget>

#include <string>

// The next widget after from that Tab reaches.
inline QWidget* NextTabStop(QWidget* from)
{
    QWidget* next = from->nextInFocusChain();
    while (next != nullptr && next != from && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    return next;
}

// The widget with the keyboard focus, waited for up to ms; null when none got it in that time.
inline QWidget* FocusedWidget(int ms = 5000)
{
    QWidget* focused = nullptr;
    WaitFor([&] { return (focused = QApplication::focusWidget()) != nullptr; }, ms);
    return focused;
}

// A widget's name for messages; "(no focus)" for none.
inline std::string FocusName(const QWidget* widget)
{
    return widget != nullptr ? widget->objectName().toStdString() : "(no focus)";
}
