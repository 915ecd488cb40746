#pragma once
// The program's picture of an amplifier: window icons and the rows of the amplifier list.

#include <QIcon>

QIcon AmplifierIcon();
