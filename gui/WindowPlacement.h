#pragma once
// Where the program's dialogs appear: over the window that opens them, not in the screen's middle.

class QWidget;

// Centres window over owner.
void CentreOn(QWidget& window, const QWidget& owner);

// The program's windows are made without parents, so the window that opens a dialog (its parent's
// window, else the active one) is the owner it is centred on; nothing moves without one.
void CentreOnOpener(QWidget& dialog);
