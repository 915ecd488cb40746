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

class TAnnouncer : public QWidget {
public:
    explicit TAnnouncer(QWidget& window);

    // Speaks text now, also the same text again. Plain text; empty text says nothing.
    void Announce(const QString& text);
    // What was announced last (what the notification's name is now).
    QString Last() const { return accessibleName(); }
};
