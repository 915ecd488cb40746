// The main window's IP settings flow: fill the dialog from the selected amplifier, send the
// settings datagram after confirmation, and follow the amplifier until the change shows.

#include "finder/Ftovrin.h"

#include "finder/SettingsCheck.h"
#include "gui/CoreTexts.h"
#include "gui/QtText.h"
#include "gui/UserDialogs.h"
#include "ipsettings/Fipsettings.h"

#include <QCheckBox>
#include <QLineEdit>

namespace {

// The line has room for two lines of text; the tool tip keeps the whole notice readable.
// The field's text as bytes: an address left as it was filled in goes back exactly as the
// amplifier reported it, also where its bytes are not UTF-8.
std::string FieldBytes(const QLineEdit* edit, const std::string& filledWith)
{
    return edit->text() == ToQt(filledWith) ? filledWith : FromQt(edit->text());
}

} // namespace

void TFormTovrin::ListView1DblClick()
{
    MenuItemIpSettingsClick();
}

void TFormTovrin::MenuItemIpSettingsClick()
{
    if (FormIpSettings == nullptr || Target(Selected) != TMenuTarget::Outcome::Found)
        return;
    TFormIpSettings& dialog = *FormIpSettings;
    // Beside the dialog's own texts: read when it opens, before its first field.
    const QString amplifier = tr("Amplifier %1").arg(ToQt(AmplifierLabel(Selected)));
    dialog.setAccessibleDescription(amplifier);
    // The DHCP box is left as the dialog was last closed.
    dialog.EditMac->setText(ToQt(Selected.MacKey));
    dialog.EditName->setText(ToQt(Selected.Name));
    dialog.EditIP->setText(ToQt(Selected.IP));
    dialog.EditNM->setText(ToQt(Selected.NetMask));
    dialog.EditGW->setText(ToQt(Selected.Gateway));

    bool dhcp = false;
    std::string ip, netmask, gateway;
    do {
        if (dialog.exec() != TFormIpSettings::ModalOk)
            return;
        dhcp = dialog.CheckBoxDhcp->isChecked();
        ip = FieldBytes(dialog.EditIP, Selected.IP);
        netmask = FieldBytes(dialog.EditNM, Selected.NetMask);
        gateway = FieldBytes(dialog.EditGW, Selected.Gateway);
    } while (!dhcp && !ConfirmDoubtfulSettings(ip, netmask, gateway));

    // The amplifier is named by the key its replies carry, byte for byte, not by the text shown.
    const std::string mac = Selected.MacKey;
    const std::string datagram = BuildSettingsDatagram(mac, dhcp, ip, netmask, gateway);
    if (UserDialogs::QuestionAbout(this, tr("Confirm"), tr("Apply settings? (Target will reboot, stand by)"), amplifier)
        != QMessageBox::Yes)
        return;
    if (!Worker) {
        UserDialogs::Error(
            this, tr("Error"), tr("The settings were not sent: the discovery channel is not open."));
        return;
    }
    Worker->SendString(nullptr, datagram);

    // What the amplifier reported last, as the list knows it now, tells a reboot from old replies.
    const int row = Amplifiers().Find(mac);
    const TTovrinData& before = row >= 0 ? Amplifiers().Row(row) : Selected;
    ShowStatus(FSettingsWatch.Start(mac, dhcp, { ip, netmask, gateway },
        { before.IP, before.NetMask, before.Gateway }, FClock(), SettingsWatchLimitMs));
}

// The datagram carries the texts unchecked and a typo leaves the amplifier unreachable, so
// settings that do not look like usable addresses are sent only when the user insists.
bool TFormTovrin::ConfirmDoubtfulSettings(
    const std::string& ip, const std::string& netmask, const std::string& gateway)
{
    const std::string problems = FindSettingsProblems(ip, netmask, gateway);
    if (problems.empty())
        return true;
    const QString text = tr("The amplifier may become unreachable with these settings:\n\n%1\n"
                            "Send them anyway? Choose No to correct them.")
                             .arg(TranslatedCoreText(problems));
    return UserDialogs::Warning(
               this, tr("Warning"), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
}

void TFormTovrin::WatchSettingsReply(const TTovrinData& record)
{
    if (!FSettingsWatch.Active())
        return;
    if (const auto notice
        = FSettingsWatch.Reply(record.MacKey, { record.IP, record.NetMask, record.Gateway }, FClock()))
        ShowStatus(*notice);
}

void TFormTovrin::WatchSettingsTick()
{
    if (const auto notice = FSettingsWatch.Tick(FClock()))
        ShowStatus(*notice);
}
