#pragma once
// Messages a screen reader speaks where the keyboard focus stays: a status line it finds by its
// "read status bar" command, and notices (results, confirmations, a list that changed under the
// user) announced at once. Qt offers no announcement of its own here, so a notice is a hidden
// notification object of the window that shows itself with the text as its name; screen readers
// speak a notification that appears without moving the focus to it.

#include <QString>
#include <QWidget>

class QLabel;

// Reads the label as the window's status bar: its text is the bar's name.
void ReadAsStatusBar(QLabel& label);

class QTimer;

class TAnnouncer : public QWidget {
public:
    explicit TAnnouncer(QWidget& window);

    // Speaks text at the next turn of the event loop, with the other notices of this turn in one, also
    // the same text again. Plain text; empty text says nothing. While the window
    // is not in front (a dialog just closed, the window manager has not activated it yet), and for
    // a moment after it came back, the notice waits: what the screen reader says on the window's
    // return would cut it short.
    void Announce(const QString& text);
    // What was announced last (what the notification's name is now), and what waits.
    QString Last() const { return accessibleName(); }
    QString Waiting() const { return FWaiting; }

    static constexpr int AfterActivationMs = 250;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Show(const QString& text);

    QString FWaiting;
    QTimer* FAfterActivation;
};
