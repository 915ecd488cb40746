#include "ipsettings/Fipsettings.h"

#include "gui/Accessibility.h"
#include "gui/CoreTexts.h"
#include "gui/FocusedButtonEnter.h"
#include "gui/QtText.h"
#include "gui/UserDialogs.h"
#include "gui/WindowPlacement.h"
#include "ipsettings/BoundedLookup.h"
#include "ipsettings/CommandTest.h"
#include "ui_Fipsettings.h"

#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <cctype>

TFormIpSettings* FormIpSettings = nullptr;

namespace {

std::string ToLower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

namespace {

// How long the first showing waits for a domain answer still outstanding.
constexpr int DomainWaitAtShowMs = 1000;

} // namespace

TFormIpSettings::TFormIpSettings(QWidget* parent, DomainSource localDnsDomain)
    : TFormIpSettings(parent, std::string())
{
    FDomainLookup = TPendingText::Ask(std::move(localDnsDomain));
    if (!FDomainLookup)
        return; // no thread: no domain, as when it cannot be read
    FDomainPoll = new QTimer(this);
    FDomainPoll->setInterval(50);
    connect(FDomainPoll, &QTimer::timeout, this, [this] { TakeDomainAnswer(0); });
    FDomainPoll->start();
}

TFormIpSettings::TFormIpSettings(QWidget* parent, const std::string& localDnsDomain)
    : QDialog(parent)
    , ui(std::make_unique<Ui::TFormIpSettings>())
{
    ui->setupUi(this);
    EnterPressesFocusedButton(*this);
    SizeLabelsToText(*this);
    EditMac = ui->EditMac;
    EditName = ui->EditName;
    CheckBoxDhcp = ui->CheckBoxDhcp;
    EditIP = ui->EditIP;
    EditNM = ui->EditNM;
    EditGW = ui->EditGW;
    ButtonTest = ui->ButtonTest;
    Button1 = ui->Button1;
    ButtonHausnetz = ui->ButtonHausnetz;

    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
        | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(235, 363);
    setWindowIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
    for (QLineEdit* readOnly : { EditMac, EditName }) {
        QPalette palette = readOnly->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Midlight));
        readOnly->setPalette(palette);
    }

    connect(CheckBoxDhcp, &QCheckBox::toggled, this, &TFormIpSettings::CheckBoxDhcpClick);
    connect(Button1, &QPushButton::clicked, this, &TFormIpSettings::Button1Click);
    connect(ButtonHausnetz, &QPushButton::clicked, this, &TFormIpSettings::ButtonHausnetzClick);
    connect(ButtonTest, &QPushButton::clicked, this, &TFormIpSettings::ButtonTestClick);
    connect(ui->ButtonOK, &QPushButton::clicked, this, &TFormIpSettings::accept);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &TFormIpSettings::reject);

    FormCreate(localDnsDomain);
}

TFormIpSettings::~TFormIpSettings() = default;

void TFormIpSettings::TakeDomainAnswer(int waitMs)
{
    if (!FDomainLookup)
        return;
    const auto domain = FDomainLookup->WaitFor(waitMs);
    if (!domain && waitMs == 0)
        return;
    // Not in after the wait at the first showing: counts as no domain.
    FormCreate(domain.value_or(std::string()));
    FDomainLookup.reset();
    FDomainPoll->stop();
}

void TFormIpSettings::FormCreate(const std::string& localDnsDomain)
{
    // Lower-cased on both sides: a domain configured with capitals must not silently never match.
    const bool inHouse = ToLower(localDnsDomain) == ToLower(TOVRIN_INHOUSE_DOMAIN);
    ButtonHausnetz->setVisible(inHouse);
    ButtonTest->setVisible(inHouse);
}

// The close box and Esc end in reject() as well, so every way out gives one of the two results.
void TFormIpSettings::accept()
{
    done(ModalOk);
}
void TFormIpSettings::reject()
{
    done(ModalCancel);
}

void TFormIpSettings::showEvent(QShowEvent* event)
{
    TakeDomainAnswer(DomainWaitAtShowMs);
    CentreOnOpener(*this);
    QDialog::showEvent(event);
}

void TFormIpSettings::CheckBoxDhcpClick()
{
    if (!CheckBoxDhcp->isChecked())
        return;
    UserDialogs::Warning(this, tr("Warning"),
        tr("Please assert that a DHCP server is running in your LAN and you can retreive the IP "
           "address, that it will assign to the amplifier."));
}

void TFormIpSettings::ApplyPreset(const char* ip, const char* netmask, const char* gateway)
{
    CheckBoxDhcp->setChecked(false);
    EditIP->setText(ip);
    EditNM->setText(netmask);
    EditGW->setText(gateway);
}

void TFormIpSettings::Button1Click()
{
    ApplyPreset("192.168.1.253", "255.255.255.0", "0.0.0.0");
}

void TFormIpSettings::ButtonHausnetzClick()
{
    ApplyPreset("10.255.252.180", "255.255.248.0", "0.0.0.0");
    UserDialogs::Information(
        nullptr, tr("Information"), tr("Please use IP address from 10.255.252.180-189."));
    // Caret at the end, so that the user can change the last number of the address.
    EditIP->setFocus(Qt::OtherFocusReason);
    EditIP->deselect();
    EditIP->end(false);
}

void TFormIpSettings::ButtonTestClick()
{
    std::string command = "$$$VER?";
    if (!UserDialogs::InputQuery(this, tr("Command"), tr("Enter Test Command to Amplifier"), command, 255))
        return;
    const TCommandTestResult result = RunCommandTest(FromQt(EditIP->text()), TestPort, command);
    if (!result.Connected) {
        UserDialogs::Error(this, tr("Error"), TranslatedCoreText(result.Text));
        return;
    }
    UserDialogs::Information(this, tr("Information"), TranslatedCoreText(result.Text));
}
