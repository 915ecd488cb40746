#pragma once
// The dialog in which one amplifier's network settings are viewed, edited and tested. Created once
// and reused: its controls keep their state between showings; the caller fills the edit texts.

#include "text/Strtools.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTimer;
class TPendingText;

namespace Ui {
class TFormIpSettings;
}

class TFormIpSettings : public QDialog {
    Q_OBJECT

public:
    // Modal results of the program's dialogs.
    static constexpr int ModalOk = 1;
    static constexpr int ModalCancel = 2;
    static constexpr int CommandPort = 2500;

    using DomainSource = std::function<std::string()>;

    // The local DNS domain decides, once, whether the in-house preset and the test are offered.
    // Finding it may wait for a resolver time-out, so it is asked on a thread of its own: the
    // window thread goes on at once, and the two buttons show when the answer is in (at the
    // latest when the dialog is first shown, which waits for it a bounded time).
    explicit TFormIpSettings(QWidget* parent = nullptr, DomainSource localDnsDomain = GetLocalDnsDomain);
    TFormIpSettings(QWidget* parent, const std::string& localDnsDomain);
    ~TFormIpSettings() override;

    QLineEdit* EditMac;
    QLineEdit* EditName;
    QCheckBox* CheckBoxDhcp;
    QLineEdit* EditIP;
    QLineEdit* EditNM;
    QLineEdit* EditGW;
    QPushButton* ButtonTest;
    QPushButton* Button1;
    QPushButton* ButtonHausnetz;

    // The amplifier's command port that "Test..." talks to.
    int TestPort = CommandPort;

    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void CheckBoxDhcpClick();
    void Button1Click();
    void ButtonHausnetzClick();
    void ButtonTestClick();

private:
    void FormCreate(const std::string& localDnsDomain);
    void TakeDomainAnswer(int waitMs);
    void ApplyPreset(const char* ip, const char* netmask, const char* gateway);

    std::unique_ptr<Ui::TFormIpSettings> ui;
    std::shared_ptr<TPendingText> FDomainLookup;
    QTimer* FDomainPoll = nullptr;
};

extern TFormIpSettings* FormIpSettings;
