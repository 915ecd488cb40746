#pragma once
// Whether the Control key is held at this moment, read from the keyboard itself (not from the
// event that led here: a menu item chosen with the mouse while Ctrl is down counts too).

#include <optional>

bool ControlKeyHeld();
// Test control: decides the answer of ControlKeyHeld until reset with nullopt.
void SetControlKeyHeldForTest(std::optional<bool> held);
