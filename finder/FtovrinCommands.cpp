// The main window's user command menu: items from the menu file, editing that file, and running
// an item's command line with the amplifier's address and the user's values filled in.

#include "finder/Ftovrin.h"

#include "finder/UserCommands.h"
#include "gui/DesktopActions.h"
#include "gui/KeyboardState.h"
#include "gui/PlaceholderQuery.h"
#include "gui/QtText.h"
#include "gui/UserDialogs.h"
#include "memo/Fmemo.h"

#include <QAction>
#include <QFile>
#include <QMenu>

#include <unistd.h>

std::optional<std::string> LastIp;

namespace {

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(SystemErrorText(error).c_str());
}

} // namespace

void TFormTovrin::LoadUserCommands()
{
    CmdsFileName = MenuFilePath();
    BuildUserCommandItems();
}

void TFormTovrin::BuildUserCommandItems()
{
    for (QAction* item : PopupMenu1->actions()) {
        if (item->property("UserCommand").toBool())
            delete item;
    }
    Commands.clear();
    uint32_t size = 0;
    const TFileBytes block(LoadFileBytes(CmdsFileName.c_str(), size));
    if (!block)
        return;
    const auto entries = ReadMenuEntries(std::string(reinterpret_cast<const char*>(block.get()), size));
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
    if (::access(CmdsFileName.c_str(), F_OK) == 0) {
        int error = 0;
        if (!FormMemo->LoadFromFile(CmdsFileName, error)) {
            UserDialogs::Error(
                this, tr("Error"), tr("Cannot open file \"%1\". %2").arg(fileName, ErrorText(error)));
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
    if (GetSelected(Selected)) {
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
