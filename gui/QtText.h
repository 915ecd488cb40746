#pragma once
// The program's texts are 8-bit std::string; the windows show QString.

#include <QString>
#include <QStringDecoder>

#include <string>

// UTF-8 where the bytes are valid UTF-8; otherwise every byte is shown as its Latin-1 character, so
// that text from the network or a file never loses a byte to a replacement mark. A leading byte
// order mark stays a character of the text (QString::fromUtf8 would drop it).
inline QString ToQt(const std::string& text)
{
    QStringDecoder utf8(
        QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString decoded = utf8.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (!utf8.hasError())
        return decoded;
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string FromQt(const QString& text)
{
    return text.toUtf8().toStdString();
}

// A tool tip that shows text literally: Qt would otherwise render text that looks like markup.
inline QString PlainToolTip(const QString& text)
{
    return "<p style='white-space:pre-wrap'>" + text.toHtmlEscaped() + "</p>";
}
