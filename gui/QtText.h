#pragma once
// The program's texts are 8-bit std::string in the local encoding; the windows show QString.

#include <QString>

#include <string>

inline QString ToQt(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string FromQt(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}
