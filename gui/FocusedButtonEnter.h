#pragma once
// Enter on a focused push button that is shown and enabled presses that button, as Space does;
// the window's default button keeps Enter only while the focus is on a control that is not such a
// push button. Our buttons are not auto-default (that would also make the first of them the
// default of a dialog without one).

class QWidget;

// Applies to every push button of window, also to buttons added later.
void EnterPressesFocusedButton(QWidget& window);
