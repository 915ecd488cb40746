#pragma once
// The window-free core writes its messages in English (tovrinctl shows them so); the windows show
// them in their own language. A known sentence is recognised whole and its variable parts (an
// address, a file name, a count) are kept byte for byte; anything else (an amplifier's reply, a
// system error text) is shown as it is.

#include <QString>

#include <string>

// One line of a core message in the windows' language.
QString TranslatedCoreLine(const QString& line);

// Every line of a core message (status line, settings check, command test, file error).
QString TranslatedCoreText(const std::string& text);
