#include "ipsettings/Fselipaddr.h"

#include "gui/Accessibility.h"
#include "gui/FocusedButtonEnter.h"
#include "gui/WindowPlacement.h"
#include "platform/LocalInterfaces.h"
#include "ui_Fselipaddr.h"

#include <QApplication>
#include <QComboBox>

TFormSelIpAddr* FormSelIpAddr = nullptr;

TFormSelIpAddr::TFormSelIpAddr(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::TFormSelIpAddr>())
    , FAddressSource(platform::LocalIPv4Addresses)
{
    ui->setupUi(this);
    EnterPressesFocusedButton(*this);
    SizeLabelsToText(*this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    ComboBoxLocalAddrs = ui->ComboBoxLocalAddrs;
    ReadValueAsText(*ComboBoxLocalAddrs);
}

TFormSelIpAddr::~TFormSelIpAddr() = default;

int TFormSelIpAddr::SelectLocalInterface(bool alwaysAsk)
{
    ComboBoxLocalAddrs->clear();
    for (const auto& address : FAddressSource())
        ComboBoxLocalAddrs->addItem(QString::fromStdString(address));
    ComboBoxLocalAddrs->setCurrentIndex(ComboBoxLocalAddrs->count() > 0 ? 0 : -1);

    if (!alwaysAsk && ComboBoxLocalAddrs->count() < 2)
        return ModalOk;
    if (FNextAnswer) {
        const Answer answer = *FNextAnswer;
        FNextAnswer.reset();
        if (answer.pick >= 0 && answer.pick < ComboBoxLocalAddrs->count())
            ComboBoxLocalAddrs->setCurrentIndex(answer.pick);
        return answer.result;
    }
    CentreOnOwner();
    ComboBoxLocalAddrs->setFocus();
    return exec();
}

std::string TFormSelIpAddr::SelectedAddress() const
{
    return ComboBoxLocalAddrs->currentText().toStdString();
}

void TFormSelIpAddr::SetAddressSource(AddressSource source)
{
    FAddressSource = std::move(source);
}

void TFormSelIpAddr::SetNextAnswer(int result, int pick)
{
    FNextAnswer = Answer { result, pick };
}

void TFormSelIpAddr::accept()
{
    done(ModalOk);
}

void TFormSelIpAddr::reject()
{
    done(ModalCancel);
}

// The dialog is created without a parent (it lives in a global of its own), so Qt would centre it
// on the screen; it belongs over the window that asks.
void TFormSelIpAddr::CentreOnOwner()
{
    const QWidget* owner = QApplication::activeWindow();
    if (owner == nullptr || owner == this) {
        owner = nullptr;
        for (const QWidget* candidate : QApplication::topLevelWidgets())
            if (candidate != this && candidate->isVisible() && owner == nullptr)
                owner = candidate;
    }
    if (owner != nullptr)
        CentreOn(*this, *owner);
}
