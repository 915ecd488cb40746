#include "gui/FocusedButtonEnter.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QWidget>

namespace {

// A button that does not take Enter itself lets the key travel up to its window, where this
// filter sees it before the window hands it to the default button.
class FocusedButtonEnter : public QObject {
public:
    explicit FocusedButtonEnter(QWidget& window)
        : QObject(&window)
        , FWindow(window)
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != &FWindow || event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (!enter || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        auto* button = qobject_cast<QPushButton*>(FWindow.focusWidget());
        if (button == nullptr || button->window() != &FWindow || !button->isVisible() || !button->isEnabled())
            return false;
        button->click();
        return true;
    }

private:
    QWidget& FWindow;
};

} // namespace

void EnterPressesFocusedButton(QWidget& window)
{
    window.installEventFilter(new FocusedButtonEnter(window));
}
