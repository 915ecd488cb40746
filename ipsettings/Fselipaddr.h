#pragma once
// The choice of the local interface that the discovery channel is bound to.

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QComboBox;

namespace Ui {
class TFormSelIpAddr;
}

class TFormSelIpAddr : public QDialog {
    Q_OBJECT

public:
    static constexpr int ModalOk = 1;
    static constexpr int ModalCancel = 2;
    using AddressSource = std::function<std::vector<std::string>()>;

    explicit TFormSelIpAddr(QWidget* parent = nullptr);
    ~TFormSelIpAddr() override;

    QComboBox* ComboBoxLocalAddrs;

    // Lists the local addresses afresh, the first preselected, and lets the user choose: always
    // when alwaysAsk, otherwise only when there are two or more. Returns ModalOk (also when not
    // asked) or ModalCancel; after ModalOk, SelectedAddress() is the choice ("" for none).
    int SelectLocalInterface(bool alwaysAsk);
    std::string SelectedAddress() const;

    // Where the addresses come from; the interfaces of this computer unless replaced.
    void SetAddressSource(AddressSource source);
    // Test control: the next showing is answered with result after item pick is chosen, instead of
    // opening the window.
    void SetNextAnswer(int result, int pick = 0);

    void accept() override;
    void reject() override;

private:
    void CentreOnOwner();

    std::unique_ptr<Ui::TFormSelIpAddr> ui;
    AddressSource FAddressSource;
    struct Answer {
        int result;
        int pick;
    };
    std::optional<Answer> FNextAnswer;
};

extern TFormSelIpAddr* FormSelIpAddr;
