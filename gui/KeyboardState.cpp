#include "gui/KeyboardState.h"

#include <QGuiApplication>

namespace {

std::optional<bool>& Decided()
{
    static std::optional<bool> decided;
    return decided;
}

} // namespace

bool ControlKeyHeld()
{
    if (Decided())
        return *Decided();
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
}

void SetControlKeyHeldForTest(std::optional<bool> held)
{
    Decided() = held;
}
