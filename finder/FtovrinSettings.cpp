// The main window's IP settings flow: fill the dialog from the selected amplifier, send the
// settings datagram after confirmation, and follow the amplifier until the change shows.

#include "finder/Ftovrin.h"

#include "finder/SettingsCheck.h"
#include "gui/QtText.h"
#include "gui/UserDialogs.h"
#include "ipsettings/Fipsettings.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

namespace {

// The line has room for two lines of text; the tool tip keeps the whole notice readable.
void ShowNotice(QLabel* label, const std::string& text)
{
    label->setText(ToQt(text));
    label->setToolTip(ToQt(text));
}

} // namespace

void TFormTovrin::ListView1DblClick()
{
    MenuItemIpSettingsClick();
}

void TFormTovrin::MenuItemIpSettingsClick()
{
    if (FormIpSettings == nullptr || !GetSelected(Selected))
        return;
    TFormIpSettings& dialog = *FormIpSettings;
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
        ip = FromQt(dialog.EditIP->text());
        netmask = FromQt(dialog.EditNM->text());
        gateway = FromQt(dialog.EditGW->text());
    } while (!dhcp && !ConfirmDoubtfulSettings(ip, netmask, gateway));

    const std::string mac = FromQt(dialog.EditMac->text());
    const std::string datagram = BuildSettingsDatagram(mac, dhcp, ip, netmask, gateway);
    if (UserDialogs::Question(this, tr("Confirm"), "Apply settings? (Target will reboot, stand by)")
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
    ShowNotice(LabelStatus,
        FSettingsWatch.Start(mac, dhcp, { ip, netmask, gateway },
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
                             .arg(ToQt(problems));
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
        ShowNotice(LabelStatus, *notice);
}

void TFormTovrin::WatchSettingsTick()
{
    if (const auto notice = FSettingsWatch.Tick(FClock()))
        ShowNotice(LabelStatus, *notice);
}
