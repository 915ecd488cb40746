#pragma once
// Input as the window system hands it to the program: queued, and taken from the queue in order by
// the event loop, as keys, clicks and close requests from the display server are. QTest's events
// are delivered at once instead, so a loop that holds user input back never sees them. Needs
// Qt6::GuiPrivate.

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

#include <functional>

namespace QueuedInput {

using Async = QWindowSystemInterface::AsynchronousDelivery;

// Types keys into window (to its focused control): "\r" is Return, "\x1b" Escape, "\b" Backspace.
inline void Type(QWidget& window, const QString& keys)
{
    for (const QChar c : keys) {
        int key = c.toUpper().unicode();
        QString text = c;
        if (c == '\r' || c == '\x1b' || c == '\b') {
            key = c == '\r' ? Qt::Key_Return : c == '\x1b' ? Qt::Key_Escape : Qt::Key_Backspace;
            text.clear();
        }
        QWindowSystemInterface::handleKeyEvent<Async>(window.windowHandle(), QEvent::KeyPress, key, {}, text);
        QWindowSystemInterface::handleKeyEvent<Async>(
            window.windowHandle(), QEvent::KeyRelease, key, {}, text);
    }
}

// A left click in the middle of target.
inline void Click(QWidget& target)
{
    const QPoint at = target.rect().center();
    const QPointF local = target.mapTo(target.window(), at);
    const QPointF global = target.mapToGlobal(at);
    QWindow* window = target.window()->windowHandle();
    QWindowSystemInterface::handleMouseEvent<Async>(
        window, local, global, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<Async>(
        window, local, global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
}

// The window's close button, or Alt+F4 as the window manager passes it on.
inline void CloseRequest(QWidget& window)
{
    QWindowSystemInterface::handleCloseEvent<Async>(window.windowHandle());
}

// Runs reached when the event loop takes this marker from the queue: after everything queued
// before it, except input that a loop holds back.
inline void AfterQueued(std::function<void()> reached)
{
    QObject::connect(
        qGuiApp, &QGuiApplication::applicationStateChanged, qGuiApp, [reached] { reached(); },
        Qt::SingleShotConnection);
    QWindowSystemInterface::handleApplicationStateChanged<Async>(QGuiApplication::applicationState(), true);
}

// Whether the window system's queue still holds events, input held back among them.
inline bool Pending()
{
    return QWindowSystemInterface::windowSystemEventsQueued() > 0;
}

} // namespace QueuedInput
