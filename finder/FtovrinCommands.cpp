// The main window's user command menu: items from the menu file, editing that file, and running
// an item's command line with the amplifier's address and the user's values filled in.

#include "finder/Ftovrin.h"

#include "finder/SettingsCheck.h"
#include "finder/UserCommands.h"
#include "gui/CoreTexts.h"
#include "gui/DesktopActions.h"
#include "gui/KeyboardState.h"
#include "gui/PlaceholderQuery.h"
#include "gui/QtText.h"
#include "gui/UserDialogs.h"
#include "memo/Fmemo.h"
#include "memo/MemoText.h"

#include <QAction>
#include <QFile>
#include <QMenu>

#include <unistd.h>

std::optional<std::string> LastIp;

namespace {

QString ErrorText(int error)
{
    return TranslatedCoreText(LoadErrorText(error));
}

void ShowOpenError(QWidget* parent, const std::string& path, int error)
{
    UserDialogs::Error(parent, QObject::tr("Error"),
        QObject::tr("Cannot open file \"%1\". %2")
            .arg(QFile::decodeName(path.c_str()), TranslatedCoreText(EditorLoadErrorText(error))));
}

} // namespace

void TFormTovrin::LoadUserCommands()
{
    TMenuFiles files = MenuFiles();
    CmdsFileName = std::move(files.Own);
    CmdsDefaultFileNames = std::move(files.Defaults);
    BuildUserCommandItems();
}

void TFormTovrin::BuildUserCommandItems()
{
    for (QAction* item : PopupMenu1->actions()) {
        if (item->property("UserCommand").toBool())
            delete item;
    }
    Commands.clear();
    const std::string source = MenuFileInUse(CmdsFileName, CmdsDefaultFileNames);
    if (::access(source.c_str(), F_OK) != 0)
        return;
    // A menu file that is there but cannot be read (a FIFO, too large, no access) gives no items,
    // and the user is told why.
    std::string bytes;
    if (const int error = LoadRegularFile(source.c_str(), EditorFileLimit, bytes)) {
        ShowOpenError(this, source, error);
        return;
    }
    const auto entries = ReadMenuEntries(bytes);
    for (const TMenuEntry& entry : entries) {
        auto* item = new QAction(ToQt(entry.Caption), PopupMenu1);
        item->setObjectName(QStringLiteral("MenuItemCmds%1").arg(Commands.size()));
        item->setData(static_cast<int>(Commands.size()));
        item->setProperty("UserCommand", true);
        connect(item, &QAction::triggered, this, &TFormTovrin::MenuItemCmdsXClick);
        Commands.push_back(entry.Template);
        PopupMenu1->insertAction(N3, item);
    }
}

void TFormTovrin::MenuItemCfgToolsClick()
{
    if (FormMemo == nullptr)
        return;
    const QString fileName = QFile::decodeName(CmdsFileName.c_str());
    FormMemo->setWindowTitle(fileName);
    // Without a file of their own, users start from the default in use; the edit becomes theirs.
    const std::string source = MenuFileInUse(CmdsFileName, CmdsDefaultFileNames);
    if (::access(source.c_str(), F_OK) == 0) {
        int error = 0;
        if (!FormMemo->LoadFromFile(source, error)) {
            ShowOpenError(this, source, error);
            return;
        }
    } else {
        FormMemo->SetText(DefaultMenuText());
    }
    if (FormMemo->exec() != TFormMemo::ModalOk)
        return;
    // Through a temporary file: a write that fails half-way leaves the old menu file whole.
    if (const int error = SaveMenuFile(CmdsFileName, FormMemo->Text())) {
        UserDialogs::Error(
            this, tr("Error"), tr("Cannot create file \"%1\". %2").arg(fileName, ErrorText(error)));
        return;
    }
    UserDialogs::Information(this, tr("Information"), tr("Restart program to make settings effect."));
}

void TFormTovrin::MenuItemCmdsXClick()
{
    const auto* item = qobject_cast<const QAction*>(sender());
    if (item != nullptr)
        RunUserCommand(static_cast<size_t>(item->data().toInt()));
}

void TFormTovrin::RunUserCommand(size_t index)
{
    if (index >= Commands.size())
        return;
    std::string commandLine = Commands[index];
    const bool confirm = ControlKeyHeld();
    if (!LastIp)
        LastIp = "192.168.1.";
    const auto target = Target(Selected);
    if (target == TMenuTarget::Outcome::Vanished)
        return;
    if (target == TMenuTarget::Outcome::Found) {
        // Any host on the network sets this field; one like "-oProxyCommand=..." would reach the
        // program as an option. The user's own answers below are taken as typed.
        if (!IsDottedIPv4(Selected.IP)) {
            UserDialogs::Error(this, tr("Error"),
                tr("The selected amplifier's IP field \"%1\" is no IPv4 address. Nothing was run.")
                    .arg(ToQt(Selected.IP)));
            return;
        }
        ParamValues["IP"] = Selected.IP;
        commandLine = ReplaceAll(commandLine, "<IP>", Selected.IP);
    } else {
        std::string ip = *LastIp;
        if (!UserDialogs::InputQuery(this, tr("Enter IP Address"), tr("IP Address"), ip))
            return;
        LastIp = ip;
        commandLine = ReplaceAll(commandLine, "<IP>", ip);
    }
    TPlaceholderQuery query(this);
    if (!ExpandPlaceholders(commandLine, ParamValues, query))
        return;
    if (confirm && !UserDialogs::InputQuery(this, tr("Command Line"), tr("Enter Command Line"), commandLine))
        return;
    std::string program;
    std::string parameters;
    SplitProgramAndParameters(commandLine, program, parameters);
    const platform::TLaunchResult result
        = platform::StartCommand(program, SplitParameters(parameters), DesktopPrograms);
    if (result.Error != 0)
        UserDialogs::Error(this, tr("Error"), DesktopActions::LaunchErrorText(result));
}
