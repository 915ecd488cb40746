#include "gui/CoreTexts.h"

#include "gui/QtText.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

#include <vector>

namespace {

constexpr const char* Context = "CoreTexts";

// The sentences of the core, with %1, %2, … where the core puts a value. A more specific sentence
// comes before a general one that would also match it.
const char* const Sentences[] = {
    // discovery on the main window's status line
    QT_TRANSLATE_NOOP("CoreTexts", "Discovery runs again on %1."),
    QT_TRANSLATE_NOOP("CoreTexts", "Discovery stopped: the receive channel on %1 failed."),
    QT_TRANSLATE_NOOP("CoreTexts", "Discovery stopped: the interface %1 is gone."),
    QT_TRANSLATE_NOOP("CoreTexts", "Discovery stopped: %1"),
    QT_TRANSLATE_NOOP("CoreTexts", "%1 (any address)"),
    QT_TRANSLATE_NOOP("CoreTexts", "any address"),
    QT_TRANSLATE_NOOP("CoreTexts", "The channel is already open."),
    QT_TRANSLATE_NOOP("CoreTexts", "\"%1\" is not an internet address."),
    QT_TRANSLATE_NOOP("CoreTexts", "socket() failed."),
    QT_TRANSLATE_NOOP("CoreTexts", "bind() failed: %1"),
    QT_TRANSLATE_NOOP("CoreTexts", "eventfd() failed: %1"),
    QT_TRANSLATE_NOOP("CoreTexts", "setsockopt(%1) failed. WSAError:%2"),
    // new IP settings, watched after they were sent
    QT_TRANSLATE_NOOP("CoreTexts", "Settings sent to %1; waiting for its answer after the reboot..."),
    QT_TRANSLATE_NOOP("CoreTexts", "Change took effect: %1 answers again, on DHCP at %2."),
    QT_TRANSLATE_NOOP("CoreTexts", "Change took effect: %1 answers as %2."),
    QT_TRANSLATE_NOOP("CoreTexts", "Change not confirmed in %1 s: %2 has been silent since; before: %3."),
    QT_TRANSLATE_NOOP("CoreTexts", "Change not confirmed in %1 s: %2 last reported %3."),
    // settings that may leave the amplifier unreachable
    QT_TRANSLATE_NOOP("CoreTexts", "IP Address \"%1\" is not a dotted IPv4 address."),
    QT_TRANSLATE_NOOP("CoreTexts", "Netmask \"%1\" is not a dotted IPv4 address."),
    QT_TRANSLATE_NOOP("CoreTexts", "Netmask \"%1\" is not a valid netmask (its ones must be contiguous)."),
    QT_TRANSLATE_NOOP("CoreTexts", "Default Gateway \"%1\" is not a dotted IPv4 address."),
    // the upload log and the command test
    QT_TRANSLATE_NOOP("CoreTexts", "File %1 is too large to upload (%2 bytes, at most %3)."),
    QT_TRANSLATE_NOOP(
        "CoreTexts", "File %1 is not a regular file (a folder, a device or a pipe) and cannot be uploaded."),
    QT_TRANSLATE_NOOP("CoreTexts",
        "The file name holds a line break or another control character and cannot be announced."),
    QT_TRANSLATE_NOOP("CoreTexts", "Loading file %1 failed."),
    QT_TRANSLATE_NOOP("CoreTexts", "Loaded file %1 (%2 bytes)."),
    QT_TRANSLATE_NOOP("CoreTexts", "Stopped before connecting."),
    QT_TRANSLATE_NOOP("CoreTexts", "Stopped while connecting to %1."),
    QT_TRANSLATE_NOOP("CoreTexts", "Connecting to %1 failed."),
    QT_TRANSLATE_NOOP("CoreTexts", "Connected to %1 ..."),
    QT_TRANSLATE_NOOP("CoreTexts", "Disconnected from %1."),
    QT_TRANSLATE_NOOP("CoreTexts", "Stopped while waiting for the version reply."),
    QT_TRANSLATE_NOOP("CoreTexts", "Stopped while waiting for the reply to the announcement."),
    QT_TRANSLATE_NOOP("CoreTexts", "Stopped while waiting for the final reply."),
    QT_TRANSLATE_NOOP("CoreTexts", "Reply timeout!"),
    QT_TRANSLATE_NOOP("CoreTexts", "Unexpected Reply!"),
    QT_TRANSLATE_NOOP(
        "CoreTexts", "Sending failed after %1 of %2 bytes: the amplifier took no data for %3 s."),
    QT_TRANSLATE_NOOP(
        "CoreTexts", "Sending failed after %1 of %2 bytes: the amplifier closed the connection."),
    QT_TRANSLATE_NOOP("CoreTexts", "Sending failed after %1 of %2 bytes: %3."),
    QT_TRANSLATE_NOOP("CoreTexts", "Reading file %1 failed after %2 of %3 bytes: %4."),
    QT_TRANSLATE_NOOP("CoreTexts",
        "File %1 changed size while it was sent (now more than %2 bytes); the upload is incomplete."),
    QT_TRANSLATE_NOOP("CoreTexts",
        "File %1 changed size while it was sent (now fewer than %2 bytes); the upload is incomplete."),
    QT_TRANSLATE_NOOP("CoreTexts", "Stopped after %1 of %2 bytes."),
    QT_TRANSLATE_NOOP("CoreTexts", "Sending done."),
    QT_TRANSLATE_NOOP("CoreTexts", "%1 bytes in %2 s (%3 MB/s)"),
    // starting a program from the desktop
    QT_TRANSLATE_NOOP(
        "CoreTexts", "No terminal program was found ($TERMINAL, x-terminal-emulator, xterm, ...)."),
    QT_TRANSLATE_NOOP("CoreTexts", "The desktop's opener \"%1\" was not found."),
    // file errors
    QT_TRANSLATE_NOOP("CoreTexts", "Not a regular file"),
    QT_TRANSLATE_NOOP("CoreTexts", "%1 (the editor opens files of up to 16 MiB)"),
};

struct Sentence {
    const char* source;
    QRegularExpression pattern; // the whole line, each %N a captured group
    QList<int> placeholders; // N of each group, in the order they appear
};

std::vector<Sentence> Compile()
{
    static const QRegularExpression placeholder("%([1-9])");
    std::vector<Sentence> compiled;
    for (const char* source : Sentences) {
        const QString text = QString::fromUtf8(source);
        QString pattern = "^";
        QList<int> placeholders;
        qsizetype at = 0;
        for (auto it = placeholder.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            pattern += QRegularExpression::escape(text.mid(at, match.capturedStart() - at)) + "(.*)";
            placeholders << match.captured(1).toInt();
            at = match.capturedEnd();
        }
        pattern += QRegularExpression::escape(text.mid(at)) + "$";
        compiled.push_back({ source,
            QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption), placeholders });
    }
    return compiled;
}

const std::vector<Sentence>& CompiledSentences()
{
    static const std::vector<Sentence> compiled = Compile();
    return compiled;
}

// Puts the values into the translation in one pass, so that a value holding "%2" stays as it is.
QString Fill(const QString& translation, const QList<int>& placeholders, const QStringList& values)
{
    QString filled;
    for (qsizetype at = 0; at < translation.size(); ++at) {
        const QChar c = translation[at];
        if (c == '%' && at + 1 < translation.size() && translation[at + 1] >= '1'
            && translation[at + 1] <= '9') {
            const qsizetype index = placeholders.indexOf(translation[at + 1].digitValue());
            if (index >= 0) {
                filled += values[index];
                ++at;
                continue;
            }
        }
        filled += c;
    }
    return filled;
}

} // namespace

QString TranslatedCoreLine(const QString& line)
{
    for (const Sentence& sentence : CompiledSentences()) {
        const QRegularExpressionMatch match = sentence.pattern.match(line);
        if (!match.hasMatch())
            continue;
        const QString translation = QCoreApplication::translate(Context, sentence.source);
        if (translation == QString::fromUtf8(sentence.source))
            return line;
        QStringList values;
        for (int group = 1; group <= match.lastCapturedIndex(); ++group)
            values << TranslatedCoreLine(match.captured(group));
        return Fill(translation, sentence.placeholders, values);
    }
    return line;
}

QString TranslatedCoreText(const std::string& text)
{
    QStringList lines = ToQt(text).split('\n');
    for (QString& line : lines) {
        const bool carriageReturn = line.endsWith('\r');
        if (carriageReturn)
            line.chop(1);
        line = TranslatedCoreLine(line) + (carriageReturn ? "\r" : "");
    }
    return lines.join('\n');
}
