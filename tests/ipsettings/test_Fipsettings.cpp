#include "ipsettings/Fipsettings.h"

#include "comm/Recvthread.h"
#include "comm/SocketHelpers.h"
#include "gui/ProcessEnd.h"
#include "gui/UserDialogs.h"
#include "platform/UniqueFd.h"
#include "support/CommandSimulator.h"
#include "support/TestSockets.h"
#include "tools/ampsim/Ampsim.h"

#include <QApplication>
#include <QCheckBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "support/QtFocus.h"
#include "support/QtWait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

namespace {

const std::string InHouse = TOVRIN_INHOUSE_DOMAIN;

class FipsettingsTest : public ::testing::Test {
protected:
    void SetUp() override { UserDialogs::TakeAsked(); }
    void TearDown() override { UserDialogs::TakeAsked(); }

    static void ShowActive(QWidget& dialog)
    {
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }
};

// On the box itself: a check box only takes clicks on its indicator and caption.
void ClickBox(QCheckBox* box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

QString Upper(const std::string& text)
{
    return QString::fromStdString(text).toUpper();
}

TEST_F(FipsettingsTest, InHousePresetAndTestAreOfferedOnlyInTheInHouseDomainInAnyLetterCase)
{
    for (const std::string& domain : { InHouse, Upper(InHouse).toStdString() }) {
        TFormIpSettings dialog(nullptr, domain);
        EXPECT_FALSE(dialog.ButtonHausnetz->isHidden()) << domain;
        EXPECT_FALSE(dialog.ButtonTest->isHidden()) << domain;
    }
    for (const std::string& domain :
        { std::string(), std::string("other.example"), "sub." + InHouse, InHouse + "." }) {
        TFormIpSettings dialog(nullptr, domain);
        EXPECT_TRUE(dialog.ButtonHausnetz->isHidden()) << domain;
        EXPECT_TRUE(dialog.ButtonTest->isHidden()) << domain;
    }
}

// Finding the domain may wait for a resolver time-out: the dialog is made at once and offers the
// in-house buttons when the answer comes; a first showing waits for it only a bounded time.
TEST_F(FipsettingsTest, TheDomainIsFoundOffTheWindowThread)
{
    auto release = std::make_shared<std::promise<void>>();
    auto released = release->get_future().share();
    const auto started = std::chrono::steady_clock::now();
    TFormIpSettings dialog(nullptr, [released] {
        released.wait();
        return std::string(TOVRIN_INHOUSE_DOMAIN);
    });
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
    EXPECT_TRUE(dialog.ButtonHausnetz->isHidden());
    release->set_value();
    EXPECT_TRUE(WaitFor([&] { return !dialog.ButtonTest->isHidden(); }, 3000));
    EXPECT_FALSE(dialog.ButtonHausnetz->isHidden());

    auto never = std::make_shared<std::promise<void>>();
    auto hangs = never->get_future().share();
    TFormIpSettings stuck(nullptr, [hangs] {
        hangs.wait();
        return std::string(TOVRIN_INHOUSE_DOMAIN);
    });
    const auto shown = std::chrono::steady_clock::now();
    stuck.show();
    EXPECT_LT(std::chrono::steady_clock::now() - shown, std::chrono::milliseconds(2500));
    EXPECT_TRUE(stuck.ButtonTest->isHidden()) << "no answer in time counts as no domain";
    never->set_value();
    QTest::qWait(100);
    EXPECT_TRUE(stuck.ButtonTest->isHidden()) << "fixed once decided";
}

TEST_F(FipsettingsTest, DhcpWarningOnEveryTickingOnly)
{
    TFormIpSettings dialog(nullptr, InHouse);
    EXPECT_FALSE(dialog.CheckBoxDhcp->isChecked()) << "unticked at creation";
    ASSERT_NO_FATAL_FAILURE(ShowActive(dialog));
    dialog.EditIP->setText("10.1.2.3");

    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    ClickBox(dialog.CheckBoxDhcp);
    auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].kind, "warning");
    EXPECT_EQ(asked[0].text,
        "Please assert that a DHCP server is running in your LAN and you can retreive the IP "
        "address, that it will assign to the amplifier.");
    EXPECT_TRUE(dialog.EditIP->isEnabled()) << "ticking disables nothing";
    EXPECT_EQ(dialog.EditIP->text(), "10.1.2.3");

    ClickBox(dialog.CheckBoxDhcp);
    EXPECT_TRUE(UserDialogs::TakeAsked().isEmpty()) << "unticking shows nothing";

    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    ClickBox(dialog.CheckBoxDhcp);
    EXPECT_EQ(UserDialogs::TakeAsked().size(), 1) << "each ticking warns again";

    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
    EXPECT_FALSE(dialog.CheckBoxDhcp->isChecked());
    EXPECT_TRUE(UserDialogs::TakeAsked().isEmpty()) << "the preset unticks silently";
}

TEST_F(FipsettingsTest, SetDefaultFillsTheDefaultAddressesAndLeavesTheFocus)
{
    TFormIpSettings dialog(nullptr, "");
    ASSERT_NO_FATAL_FAILURE(ShowActive(dialog));
    dialog.EditNM->setFocus();
    dialog.EditIP->setText("1.2.3.4");
    dialog.EditGW->setText("");
    dialog.Button1->click();
    EXPECT_EQ(dialog.EditIP->text(), "192.168.1.253");
    EXPECT_EQ(dialog.EditNM->text(), "255.255.255.0");
    EXPECT_EQ(dialog.EditGW->text(), "0.0.0.0");
    EXPECT_TRUE(dialog.EditNM->hasFocus());
    EXPECT_TRUE(UserDialogs::TakeAsked().isEmpty());
}

TEST_F(FipsettingsTest, InHousePresetReplacesAllAddressesInformsAndPutsTheCaretInTheIpField)
{
    TFormIpSettings dialog(nullptr, InHouse);
    ASSERT_NO_FATAL_FAILURE(ShowActive(dialog));
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    dialog.CheckBoxDhcp->setChecked(true);
    UserDialogs::TakeAsked();
    dialog.EditIP->setText("192.168.1.9");
    dialog.EditNM->setText("x");
    dialog.EditGW->setText("192.168.1.1");

    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    QTest::mouseClick(dialog.ButtonHausnetz, Qt::LeftButton);
    EXPECT_FALSE(dialog.CheckBoxDhcp->isChecked());
    EXPECT_EQ(dialog.EditIP->text(), "10.255.252.180");
    EXPECT_EQ(dialog.EditNM->text(), "255.255.248.0");
    EXPECT_EQ(dialog.EditGW->text(), "0.0.0.0");
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 1) << "the information box, and no DHCP warning";
    EXPECT_EQ(asked[0].kind, "information");
    EXPECT_EQ(asked[0].caption, "Information");
    EXPECT_EQ(asked[0].text, "Please use IP address from 10.255.252.180-189.");
    EXPECT_TRUE(dialog.EditIP->hasFocus());
    EXPECT_FALSE(dialog.EditIP->hasSelectedText());
    EXPECT_EQ(dialog.EditIP->cursorPosition(), dialog.EditIP->text().size());
}

TEST_F(FipsettingsTest, OkAndEnterGiveOneCancelEscAndTheCloseBoxGiveTwo)
{
    TFormIpSettings dialog(nullptr, "");
    QSignalSpy finished(&dialog, &QDialog::finished);
    const auto run = [&](const std::function<void()>& act) {
        finished.clear();
        ShowActive(dialog);
        if (HasFatalFailure())
            return -1;
        act();
        EXPECT_FALSE(dialog.isVisible());
        return finished.size() == 1 ? finished[0][0].toInt() : -1;
    };
    EXPECT_EQ(run([&] { QTest::mouseClick(dialog.findChild<QPushButton*>("ButtonOK"), Qt::LeftButton); }), 1);
    EXPECT_EQ(run([&] {
        dialog.EditIP->setFocus();
        QTest::keyClick(dialog.EditIP, Qt::Key_Return);
    }),
        1);
    EXPECT_EQ(
        run([&] { QTest::mouseClick(dialog.findChild<QPushButton*>("ButtonCancel"), Qt::LeftButton); }), 2);
    EXPECT_EQ(run([&] { QTest::keyClick(&dialog, Qt::Key_Escape); }), 2);
    EXPECT_EQ(run([&] { dialog.close(); }), 2);
}

TEST_F(FipsettingsTest, WindowIsAFixedDialogCentredOnTheWindowThatOpensIt)
{
    QWidget owner;
    owner.setGeometry(500, 300, 390, 225);
    ASSERT_NO_FATAL_FAILURE(ShowActive(owner));
    TFormIpSettings dialog(nullptr, "");
    EXPECT_EQ(dialog.windowTitle(), "Amplifier IP Settings");
    EXPECT_EQ(dialog.minimumSize(), QSize(235, 363));
    EXPECT_EQ(dialog.maximumSize(), QSize(235, 363));
    EXPECT_FALSE(dialog.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(dialog.windowIcon().isNull());
    EXPECT_TRUE(dialog.EditMac->isReadOnly());
    EXPECT_TRUE(dialog.EditName->isReadOnly());
    dialog.show();
    const QPoint offset = dialog.frameGeometry().center() - owner.frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 4) << offset.x() << "," << offset.y();
    dialog.reject();
}

TEST_F(FipsettingsTest, AddressTextsAreFreeAndKeptBetweenShowings)
{
    TFormIpSettings dialog(nullptr, "");
    ASSERT_NO_FATAL_FAILURE(ShowActive(dialog));
    const QString longText = QString("not an address; ") + QString(300, QChar('9'));
    dialog.EditIP->setFocus();
    dialog.EditIP->clear();
    QTest::keyClicks(dialog.EditIP, longText);
    EXPECT_EQ(dialog.EditIP->text(), longText) << "no length or character limit";
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    dialog.CheckBoxDhcp->setChecked(true);
    dialog.accept();
    ASSERT_NO_FATAL_FAILURE(ShowActive(dialog));
    EXPECT_EQ(dialog.EditIP->text(), longText);
    EXPECT_TRUE(dialog.CheckBoxDhcp->isChecked());
    dialog.reject();
}

TEST_F(FipsettingsTest, TabOrderAndLabelAccelerators)
{
    TFormIpSettings dialog(nullptr, InHouse);
    ASSERT_NO_FATAL_FAILURE(ShowActive(dialog));
    dialog.CheckBoxDhcp->setFocus();
    std::vector<std::string> order { FocusName(FocusedWidget()) };
    while (order.size() < 11 && QApplication::focusWidget() != nullptr) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.push_back(FocusName(FocusedWidget()));
    }
    EXPECT_EQ(order,
        std::vector<std::string>({ "CheckBoxDhcp", "EditIP", "ButtonTest", "EditNM", "EditGW", "EditMac",
            "EditName", "Button1", "ButtonHausnetz", "ButtonOK", "ButtonCancel" }));

    const std::pair<Qt::Key, const char*> accelerators[] = { { Qt::Key_M, "EditMac" },
        { Qt::Key_N, "EditName" }, { Qt::Key_P, "EditIP" }, { Qt::Key_G, "EditGW" } };
    for (const auto& [key, name] : accelerators) {
        QTest::keyClick(&dialog, key, Qt::AltModifier);
        EXPECT_EQ(FocusName(FocusedWidget()), name);
    }
}

TEST_F(FipsettingsTest, TestQueryStartsWithTheVersionQueryAndTakes255Characters)
{
    TFormIpSettings dialog(nullptr, InHouse);
    ASSERT_NO_FATAL_FAILURE(ShowActive(dialog));
    QString initial;
    int maxLength = 0;
    // The one place where the real query is shown: its initial text and limit are what is checked.
    QTimer::singleShot(0, [&] {
        auto* query = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (query == nullptr) {
            ADD_FAILURE() << "no query shown";
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
            return;
        }
        initial = query->textValue();
        if (auto* edit = query->findChild<QLineEdit*>())
            maxLength = edit->maxLength();
        query->reject();
    });
    dialog.ButtonTest->click();
    EXPECT_EQ(initial, "$$$VER?");
    EXPECT_EQ(maxLength, 255);
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 1) << "cancelled: nothing else happens";
    EXPECT_EQ(asked[0].caption, "Command");
    EXPECT_EQ(asked[0].text, "Enter Test Command to Amplifier");
}

TEST_F(FipsettingsTest, TestTalksToTheAddressInTheIpFieldAndReportsOrFails)
{
    const auto sim = LoopbackCommandSimulator();
    std::string error;
    ASSERT_TRUE(sim->Start(error)) << error;

    TFormIpSettings dialog(nullptr, InHouse);
    dialog.TestPort = sim->CommandPort();
    dialog.EditIP->setText("127.0.0.1");
    const QString where = "127.0.0.1:" + QString::number(sim->CommandPort());

    UserDialogs::SetNextInput(std::nullopt);
    dialog.ButtonTest->click();
    EXPECT_EQ(UserDialogs::TakeAsked().size(), 1);
    EXPECT_EQ(sim->Connections(), 0u) << "a cancelled query connects nowhere";

    UserDialogs::SetNextInput("$$$VER?");
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    dialog.ButtonTest->click();
    auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[1].kind, "information");
    EXPECT_EQ(asked[1].text,
        "Connected to " + where + " ...\r\n$$$VER?\r\nAMPSIM V1.0 " + QString::fromStdString(sim->Amp(0).Mac)
            + "\r\n");

    sim->Stop();
    UserDialogs::SetNextInput("$$$VER?");
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    dialog.ButtonTest->click();
    asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[1].kind, "error");
    EXPECT_EQ(asked[1].text, "Connecting to " + where + " failed.");
    EXPECT_EQ(dialog.EditIP->text(), "127.0.0.1") << "the dialog stays as it was";
}

// An amplifier's reply is shown as it came: markup stays text, foreign bytes are not replaced.
TEST_F(FipsettingsTest, TheReportShowsAMarkupReplyLiterally)
{
    std::string status;
    const UniqueFd listener(OpenListenSocket("127.0.0.1", 0, status));
    ASSERT_NE(listener.get(), -1) << status;
    auto peer = std::async(std::launch::async, [listener = listener.get()] {
        if (WaitReadable(listener, -1, 5000) != WaitResult::Readable)
            return;
        std::string from, ignored, line;
        const UniqueFd s(AcceptPeer(listener, from, ignored));
        ReadUntil(s.get(), line, 5000, '\n');
        SocketSendString(s.get(), "<h1>big</h1><img src=x>\xE9\n");
    });

    TFormIpSettings dialog(nullptr, InHouse);
    dialog.TestPort = LocalPortOf(listener.get());
    dialog.EditIP->setText("127.0.0.1");
    UserDialogs::SetNextInput("$$$VER?");
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    // The real message box this time: what its label does with the text is the point.
    QTimer::singleShot(0, [&] {
        const bool found = WaitFor(
            [&] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; }, 5000);
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!found || box == nullptr) {
            ADD_FAILURE() << "no message box shown";
            return;
        }
        if (auto* label = box->findChild<QLabel*>("qt_msgbox_label")) {
            shown = label->text();
            format = label->textFormat();
        }
        box->accept();
    });
    dialog.ButtonTest->click();
    ASSERT_EQ(peer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_TRUE(shown.endsWith(QString::fromLatin1("<h1>big</h1><img src=x>\xE9\r\n")))
        << shown.toStdString();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return EndBeforeWindowSystemTeardown(RUN_ALL_TESTS());
}
