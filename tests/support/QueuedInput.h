#pragma once
// Input queued as the display server's is, and taken from the queue in order by the event loop;
// QTest's events are delivered at once, so a loop that holds input back never sees them. Needs
// Qt6::GuiPrivate.

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

#include <functional>

namespace QueuedInput {

using Async = QWindowSystemInterface::AsynchronousDelivery;

// Keys typed into window's focused control: "\r" is Return, "\x1b" Escape.
inline void Type(QWidget& window, const QString& keys)
{
    for (const QChar c : keys) {
        const int key = c == '\r' ? int(Qt::Key_Return)
            : c == '\x1b'         ? int(Qt::Key_Escape)
                                  : int(c.toUpper().unicode());
        const QString text = c.isPrint() ? QString(c) : QString();
        for (const QEvent::Type type : { QEvent::KeyPress, QEvent::KeyRelease })
            QWindowSystemInterface::handleKeyEvent<Async>(window.windowHandle(), type, key, {}, text);
    }
}

// Left clicks in the middle of target; two make a double click.
inline void Click(QWidget& target, int clicks = 1)
{
    const QPoint at = target.rect().center();
    const QPointF local = target.mapTo(target.window(), at);
    for (int i = 0; i < clicks; ++i) {
        QWindowSystemInterface::handleMouseEvent<Async>(target.window()->windowHandle(), local,
            target.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
        QWindowSystemInterface::handleMouseEvent<Async>(target.window()->windowHandle(), local,
            target.mapToGlobal(at), Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
    }
}

// The window's close button, or Alt+F4.
inline void CloseRequest(QWidget& window)
{
    QWindowSystemInterface::handleCloseEvent<Async>(window.windowHandle());
}

// Runs reached when the loop takes this marker: after all queued before it, but ahead of input
// that a loop holds back.
inline void AfterQueued(const std::function<void()>& reached)
{
    QObject::connect(
        qGuiApp, &QGuiApplication::applicationStateChanged, qGuiApp, reached, Qt::SingleShotConnection);
    QWindowSystemInterface::handleApplicationStateChanged<Async>(QGuiApplication::applicationState(), true);
}

// Whether events wait in the queue, held-back input among them.
inline bool Pending()
{
    return QWindowSystemInterface::windowSystemEventsQueued() > 0;
}

} // namespace QueuedInput
