#pragma once
// What the windows ask of the desktop: open a folder in the file manager, open a terminal in a
// folder, show a folder's properties. Programs are started directly with each path as one
// argument, never through a shell. Tests switch to recording: nothing starts, and what would
// have been started is kept for them to read.

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

// The desktop's opener for the folder (xdg-open through Qt).
void OpenFolder(const QString& folder);
// A terminal window working in folder: $TERMINAL, else x-terminal-emulator, else a common one
// found on the PATH. When there is none an error box says so.
void OpenTerminal(QWidget* parent, const QString& folder);
// The file manager's properties of path (org.freedesktop.FileManager1.ShowItemProperties); where
// no file manager answers, ShowOwnProperties.
void ShowProperties(QWidget* parent, const QString& path);
// A small properties window of our own (path, owner, permissions, modified, entries), shown
// without waiting; it deletes itself when closed.
QDialog* ShowOwnProperties(QWidget* parent, const QString& path);

// The terminal program that OpenTerminal starts (a full path), empty when none is found, and the
// arguments that make it start in folder.
QString FindTerminal();
QStringList TerminalArguments(const QString& terminal, const QString& folder);

// Test control: while recording, nothing is started and ShowProperties does not ask the bus.
void SetRecording(bool on);
QList<Started> TakeStarted();

} // namespace DesktopActions
