#pragma once
// The dialog in which one amplifier's network settings are viewed, edited and tested. Created once
// and reused: its controls keep their state between showings; the caller fills the edit texts.

#include "text/Strtools.h"

#include <QDialog>

#include <memory>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;

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

    // localDnsDomain decides, once, whether the in-house preset and the test are offered.
    explicit TFormIpSettings(
        QWidget* parent = nullptr, const std::string& localDnsDomain = GetLocalDnsDomain());
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
    void ApplyPreset(const char* ip, const char* netmask, const char* gateway);

    std::unique_ptr<Ui::TFormIpSettings> ui;
};

extern TFormIpSettings* FormIpSettings;
