#include "gui/DesktopActions.h"

#include "gui/CoreTexts.h"
#include "gui/QtText.h"
#include "gui/UserDialogs.h"
#include "platform/FolderFacts.h"
#include "text/Strtools.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPointer>
#include <QUrl>
#include <QVBoxLayout>

namespace DesktopActions {
namespace {

    struct Recorder {
        bool on = false;
        QList<Started> started;
    };

    Recorder& Record()
    {
        static Recorder recorder;
        return recorder;
    }

    bool Recorded(const Started& started)
    {
        if (!Record().on)
            return false;
        Record().started.append(started);
        return true;
    }

    QLabel* FactLabel(const QString& text, const char* name, QWidget* parent)
    {
        auto* label = new QLabel(text, parent);
        label->setObjectName(name);
        label->setTextFormat(Qt::PlainText);
        // Reachable by Tab (and its text selectable by keys), so that a screen reader reads each fact.
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        label->setFocusPolicy(Qt::StrongFocus);
        return label;
    }

} // namespace

QString LaunchErrorText(const platform::TLaunchResult& result)
{
    QString text = ToQt(SystemErrorText(result.Error));
    if (!result.Note.empty())
        text += "\n" + TranslatedCoreText(result.Note);
    return text;
}

void OpenFolder(QWidget* parent, const QString& folder)
{
    if (Recorded({ "open", {}, {}, folder }))
        return;
    const platform::TLaunchResult result = platform::OpenWithDesktop(FromQt(folder));
    if (result.Error != 0)
        UserDialogs::Error(parent, QObject::tr("Open Explorer here"), LaunchErrorText(result));
}

void OpenTerminal(QWidget* parent, const QString& folder)
{
    int error = 0;
    const std::string terminal = platform::FindTerminal({}, error);
    if (terminal.empty()) {
        UserDialogs::Error(parent, QObject::tr("Open Command Line here"),
            QObject::tr("No terminal program was found on this computer. Install one (for example xterm), or "
                        "name it in the environment variable TERMINAL."));
        return;
    }
    QStringList arguments;
    for (const std::string& argument : platform::TerminalFolderArguments(terminal, FromQt(folder)))
        arguments << ToQt(argument);
    if (Recorded({ "terminal", ToQt(terminal), arguments, folder }))
        return;
    const platform::TLaunchResult result = platform::OpenTerminalIn(FromQt(folder));
    if (result.Error != 0)
        UserDialogs::Error(parent, QObject::tr("Open Command Line here"), LaunchErrorText(result));
}

void ShowProperties(QWidget* parent, const QString& path)
{
    if (Recorded({ "properties", {}, {}, path }))
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        ShowOwnProperties(parent, path);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
        "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1", "ShowItemProperties");
    call << QStringList { QUrl::fromLocalFile(path).toString() } << QString();
    // Asked without waiting, so that a slow or missing file manager never holds the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QPointer<QWidget> owner(parent);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, owner, path] {
        if (watcher->isError())
            ShowOwnProperties(owner.data(), path);
        watcher->deleteLater();
    });
}

QDialog* ShowOwnProperties(QWidget* parent, const QString& path)
{
    auto* dialog = new QDialog(parent);
    dialog->setObjectName("FolderPropertiesDialog");
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QObject::tr("Folder Properties"));
    auto* form = new QFormLayout;
    platform::FolderFacts facts;
    int error = 0;
    form->addRow(QObject::tr("Path:"), FactLabel(path, "LabelPath", dialog));
    if (platform::ReadFolderFacts(FromQt(path), facts, error)) {
        form->addRow(
            QObject::tr("Owner:"), FactLabel(ToQt(facts.owner + ":" + facts.group), "LabelOwner", dialog));
        form->addRow(
            QObject::tr("Permissions:"), FactLabel(ToQt(facts.permissions), "LabelPermissions", dialog));
        form->addRow(QObject::tr("Modified:"), FactLabel(ToQt(facts.modified), "LabelModified", dialog));
        form->addRow(QObject::tr("Entries:"),
            FactLabel(facts.entries < 0 ? QObject::tr("cannot be read") : QString::number(facts.entries),
                "LabelEntries", dialog));
    } else {
        form->addRow(
            QObject::tr("Error:"), FactLabel(ToQt(TrimText(SystemErrorText(error))), "LabelError", dialog));
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    auto* layout = new QVBoxLayout(dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);
    // All facts as one text too, read with the window's name when it opens.
    QStringList lines;
    for (int row = 0; row < form->rowCount(); ++row) {
        const auto* caption = qobject_cast<QLabel*>(form->itemAt(row, QFormLayout::LabelRole)->widget());
        const auto* fact = qobject_cast<QLabel*>(form->itemAt(row, QFormLayout::FieldRole)->widget());
        if (caption != nullptr && fact != nullptr)
            lines << caption->text() + " " + fact->text();
    }
    dialog->setAccessibleDescription(lines.join("\n"));
    dialog->show();
    // The first fact has the focus: the path is read first, Tab goes on through the others.
    if (auto* first = dialog->findChild<QLabel*>("LabelPath"))
        first->setFocus();
    return dialog;
}

void SetRecording(bool on)
{
    Record().on = on;
}

QList<Started> TakeStarted()
{
    QList<Started> started;
    started.swap(Record().started);
    return started;
}

} // namespace DesktopActions
