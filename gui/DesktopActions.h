#pragma once
// What the windows ask of the desktop: open a folder in the file manager, open a terminal in a
// folder, show a folder's properties. The programs are started by platform/DesktopLaunch
// (detached, each path one argument, never through a shell); this says what went wrong in an
// error box. Tests switch to recording: nothing starts, and what would have been started is kept
// for them to read.

#include "platform/DesktopLaunch.h"

#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

namespace DesktopActions {

struct Started {
    QString action; // "open", "terminal", "properties"
    QString program; // the terminal program; empty for the others
    QStringList arguments;
    QString folder; // the folder or path acted on (the terminal's working folder)
};

// The desktop's opener for the folder (xdg-open); an error box when it cannot be started.
void OpenFolder(QWidget* parent, const QString& folder);
// A terminal window working in folder: $TERMINAL, else x-terminal-emulator, else a common one
// found on the PATH. When there is none, or it cannot be started, an error box says so.
void OpenTerminal(QWidget* parent, const QString& folder);
// The file manager's properties of path (org.freedesktop.FileManager1.ShowItemProperties); where
// no file manager answers, ShowOwnProperties.
void ShowProperties(QWidget* parent, const QString& path);
// A small properties window of our own (path, owner, permissions, modified, entries), shown
// without waiting; it deletes itself when closed.
QDialog* ShowOwnProperties(QWidget* parent, const QString& path);

// What an error box says of a start that failed: the system's text of the error and the note.
QString LaunchErrorText(const platform::TLaunchResult& result);

// Test control: while recording, nothing is started and ShowProperties does not ask the bus.
void SetRecording(bool on);
QList<Started> TakeStarted();

} // namespace DesktopActions
