// The main window's user command menu, headless: items built from real menu files, commands
// started as real processes (a recording program stands in for ping and friends, recording
// stand-ins for the terminal and the opener), the prompts, "Configure this Menu..." with the real
// editor, and amplifiers whose reply fields try to smuggle in shell commands.

#include "finder/Ftovrin.h"

#include "finder/UserCommands.h"
#include "gui/GlobalForm.h"
#include "gui/KeyboardState.h"
#include "gui/ProcessEnd.h"
#include "gui/UserDialogs.h"
#include "memo/Fmemo.h"
#include "support/StandInDesktop.h"
#include "support/TempTree.h"

#include <QAction>
#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <tuple>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

using Args = std::vector<std::string>;

class FtovrinCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UserDialogs::TakeAsked();
        SetControlKeyHeldForTest(false);
        LastIp.reset();
        Window().DesktopPrograms = desktop.Programs;
        probe = desktop.AddProgram("probe");
        ping = desktop.AddProgram("ping");
        // Were anything to interpret the command lines, these would record it.
        desktop.AddProgram("touch");
        desktop.AddProgram("id");
        desktop.AddProgram("sh");
    }
    void TearDown() override
    {
        SetControlKeyHeldForTest(std::nullopt);
        UserDialogs::TakeAsked();
    }

    static TFormTovrin& Window() { return *FormTovrin; }

    void MenuFile(const std::string& text)
    {
        Window().CmdsFileName = desktop.Folder + "/" + MenuFileName;
        std::ofstream(Window().CmdsFileName, std::ios::binary) << text;
        Window().BuildUserCommandItems();
    }
    static QList<QAction*> UserItems()
    {
        QList<QAction*> items;
        for (QAction* item : Window().PopupMenu1->actions())
            if (item->objectName().startsWith("MenuItemCmds"))
                items << item;
        return items;
    }
    static void Reply(const std::string& mac, const std::string& ip)
    {
        const std::string text = mac + " 1 " + ip + " 255.255.0.0 0.0.0.0 Stage";
        Window().DatagramReceived("198.18.1.1:8001", text.c_str(), static_cast<int>(text.size()));
    }
    // The arguments of the programs run in the stand-in terminal, sorted: each command is one
    // run of the terminal and one of the program, and commands started together finish in any
    // order.
    std::vector<Args> ProgramRuns(size_t count) const
    {
        std::vector<Args> args;
        for (const auto& run : desktop.Runs(2 * count))
            if (run.Args.at(0) != desktop.Programs.Terminal)
                args.push_back(run.Args);
        std::sort(args.begin(), args.end());
        return args;
    }
    // Lets a started program record itself; true when nothing at all was started.
    bool NothingStarted() const
    {
        QTest::qWait(150);
        return desktop.RunsSoFar().empty();
    }

    StandInDesktop desktop;
    GlobalForm<TFormTovrin> formTovrin { FormTovrin };
    GlobalForm<TFormMemo> formMemo { FormMemo };
    std::string probe, ping;
};

TEST_F(FtovrinCommandsTest, MenuHasTheFixedItemsThenTheFileEntriesInOrder)
{
    MenuFile("# This file defines items\r\n"
             "  ping | ping <IP>  \r\n"
             "   # indented comment\n"
             "a | b | c\n"
             "\n"
             "No bar\n"
             "Same | probe one\n"
             "Same | probe two\n");
    const QList<QAction*> actions = Window().PopupMenu1->actions();
    QStringList shown;
    for (const QAction* action : actions)
        shown << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(shown,
        (QStringList { "IP-&Settings...", "Upload File...", "-", "Configure this Menu...", "-",
            "Copy IP-Address", "ping", "a", "No bar", "Same", "Same", "-", "Save List As...", "Find...",
            "Find Next" }));
    EXPECT_EQ(actions[2], Window().N1);
    EXPECT_EQ(actions[3], Window().MenuItemCfgTools);
    EXPECT_EQ(actions[4], Window().N2);
    EXPECT_EQ(Window().Commands, (TStringToks { "ping <IP>", "b | c", "", "probe one", "probe two" }));
    for (int i = 0; i < UserItems().size(); ++i)
        EXPECT_EQ(UserItems()[i]->data().toInt(), i);

    // Built again (another activation), the menu holds each entry once; without a file, none.
    Window().BuildUserCommandItems();
    EXPECT_EQ(UserItems().size(), 5);
    Window().CmdsFileName = desktop.Folder + "/missing.txt";
    Window().BuildUserCommandItems();
    EXPECT_TRUE(UserItems().isEmpty());
    EXPECT_TRUE(Window().Commands.empty());
}

TEST_F(FtovrinCommandsTest, PingRunsWithTheSelectedAmplifiersAddressInATerminal)
{
    MenuFile("  ping | ping <IP>  \r\nSecond | probe <IP> <ip>\r\n");
    Reply("0A1B2C", "10.0.0.7");
    UserItems()[0]->trigger();
    UserItems()[1]->trigger();
    EXPECT_EQ(ProgramRuns(2), (std::vector<Args> { { ping, "10.0.0.7" }, { probe, "10.0.0.7", "<ip>" } }));
    EXPECT_EQ(Window().ParamValues["IP"], "10.0.0.7");
    EXPECT_TRUE(UserDialogs::TakeAsked().isEmpty());
}

// Any host can set the IP field, so it reaches a program only as a dotted IPv4 address: anything
// else (an option such as "-oProxyCommand=", shell syntax, markup) is named in an error, and
// nothing runs, also for a command line without "<IP>".
TEST_F(FtovrinCommandsTest, AddressFieldsThatAreNoIpv4AddressRunNothing)
{
    MenuFile("probe | probe <IP>\nno address | probe x\n");
    const std::string fields[] = { "-oProxyCommand=", "--help", "-1.2.3.4", "$(touch${IFS}X)",
        ";touch${IFS}X", "`id`", "|id>X&&id", "10.0.0.256", "010.0.0.7", "10.0.0", "<b>1.2.3.4</b>" };
    int mac = 10;
    for (const std::string& ip : fields) {
        Reply("0A1B" + std::to_string(mac++), ip);
        ASSERT_EQ(Window().Amplifiers().Row(Window().Amplifiers().SelectedRow()).IP, ip);
        for (QAction* item : UserItems()) {
            UserDialogs::SetNextAnswer(QMessageBox::Ok);
            item->trigger();
            const auto asked = UserDialogs::TakeAsked();
            ASSERT_EQ(asked.size(), 1) << ip;
            EXPECT_EQ(asked[0].kind, "error");
            EXPECT_EQ(asked[0].text,
                "The selected amplifier's IP field \"" + QString::fromStdString(ip)
                    + "\" is no IPv4 address. Nothing was run.");
        }
    }
    EXPECT_TRUE(NothingStarted());
    EXPECT_FALSE(fs::exists(desktop.Folder + "/X"));

    Reply("0A1B2C", "10.0.0.7");
    UserItems()[0]->trigger();
    EXPECT_EQ(ProgramRuns(1), (std::vector<Args> { { probe, "10.0.0.7" } }));
}

TEST_F(FtovrinCommandsTest, WithoutSelectionTheAddressIsAskedAndRemembered)
{
    MenuFile("probe | probe <IP>\nplain | probe x\n");
    UserDialogs::SetNextInput(std::nullopt);
    UserItems()[0]->trigger();
    UserDialogs::SetNextInput("10.1.1.1");
    UserItems()[0]->trigger();
    UserDialogs::SetNextInput("10.1.1.2");
    UserItems()[1]->trigger(); // asked even without "<IP>"
    UserDialogs::SetNextInput(std::nullopt);
    UserItems()[1]->trigger();
    // What the user types is theirs, and taken as typed.
    UserDialogs::SetNextInput("-oProxyCommand=x");
    UserItems()[0]->trigger();

    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 5);
    for (const auto& a : asked) {
        EXPECT_EQ(a.kind, "input");
        EXPECT_EQ(a.caption, "Enter IP Address");
        EXPECT_EQ(a.text, "IP Address");
    }
    EXPECT_EQ(asked[0].value, "192.168.1.");
    EXPECT_EQ(asked[1].value, "192.168.1.") << "a cancelled prompt changes nothing";
    EXPECT_EQ(asked[2].value, "10.1.1.1");
    EXPECT_EQ(asked[3].value, "10.1.1.2");
    EXPECT_EQ(ProgramRuns(3),
        (std::vector<Args> { { probe, "-oProxyCommand=x" }, { probe, "10.1.1.1" }, { probe, "x" } }));
    EXPECT_EQ(Window().ParamValues.count("IP"), 0u);
}

TEST_F(FtovrinCommandsTest, PlaceholdersAreAskedAndAPlaceholderNamedIpProposesTheAddress)
{
    MenuFile("telnet | probe.exe <?IP> <?Port:23>\nbroken | probe <?Host\n");
    Reply("0A1B2C", "10.0.0.7");
    UserDialogs::SetNextInput("10.0.0.8");
    UserDialogs::SetNextInput("2323");
    UserItems()[0]->trigger();
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    UserItems()[1]->trigger();

    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 3);
    EXPECT_EQ(asked[0].caption, "Enter Parameter Value");
    EXPECT_EQ(asked[0].text, "IP");
    EXPECT_EQ(asked[0].value, "10.0.0.7");
    EXPECT_EQ(asked[1].text, "Port");
    EXPECT_EQ(asked[1].value, "23");
    EXPECT_EQ(asked[2].kind, "error");
    EXPECT_EQ(asked[2].text, "Unterminated <?...> Sequence!");
    EXPECT_EQ(ProgramRuns(1), (std::vector<Args> { { probe, "10.0.0.8", "2323" } }));
    EXPECT_EQ(Window().ParamValues["Port"], "2323");
}

TEST_F(FtovrinCommandsTest, CtrlShowsTheCommandLineForConfirmation)
{
    MenuFile("probe | probe <IP> -c 3\n");
    Reply("0A1B2C", "10.0.0.7");
    SetControlKeyHeldForTest(true);
    UserDialogs::SetNextInput(std::nullopt);
    UserItems()[0]->trigger();
    UserDialogs::SetNextInput("probe \"edited line\" 10.0.0.9");
    UserItems()[0]->trigger();
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[0].caption, "Command Line");
    EXPECT_EQ(asked[0].text, "Enter Command Line");
    EXPECT_EQ(asked[0].value, "probe 10.0.0.7 -c 3");
    EXPECT_EQ(ProgramRuns(1), (std::vector<Args> { { probe, "edited line", "10.0.0.9" } }));
}

TEST_F(FtovrinCommandsTest, QuotedProgramsDocumentsAndFailures)
{
    desktop.AddProgram("my tool");
    MenuFile("quoted | \"" + desktop.Bin
        + "/my tool\" -a <IP>\n"
          "page | http://<IP>/status\n"
          "No bar here\n"
          "missing | no-such-program.exe <IP>\n");
    Reply("0A1B2C", "10.0.0.7");
    UserItems()[0]->trigger();
    const auto quoted = desktop.Runs(2);
    ASSERT_EQ(quoted.size(), 2u);
    EXPECT_EQ(quoted[1].Args, (Args { desktop.Bin + "/my tool", "-a", "10.0.0.7" }));
    UserItems()[1]->trigger();
    const auto all = desktop.Runs(3);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2].Args, (Args { desktop.Programs.Opener, "http://10.0.0.7/status" }));

    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    UserItems()[2]->trigger();
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    UserItems()[3]->trigger();
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 2);
    for (const auto& a : asked) {
        EXPECT_EQ(a.kind, "error");
        EXPECT_EQ(a.text, QString::fromStdString(SystemErrorText(ENOENT)));
    }
    QTest::qWait(150);
    EXPECT_EQ(desktop.RunsSoFar().size(), 3u);
}

// "Configure this Menu..." with the real editor, accepted or cancelled from inside its modal run.
class ConfigureMenuTest : public FtovrinCommandsTest {
protected:
    void Configure(const std::function<void(TFormMemo&)>& inside)
    {
        QTimer::singleShot(0, [inside] { inside(*FormMemo); });
        Window().MenuItemCfgToolsClick();
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(ConfigureMenuTest, WithoutAFileTheDefaultTextIsOfferedAndSavedUnchanged)
{
    Window().CmdsFileName = desktop.Folder + "/cfg/tovrin/" + MenuFileName;
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    std::string shown;
    Configure([&](TFormMemo& memo) {
        shown = memo.Text();
        EXPECT_EQ(memo.windowTitle(), QString::fromStdString(Window().CmdsFileName));
        memo.accept();
    });
    EXPECT_EQ(shown, DefaultMenuText());
    EXPECT_EQ(Read(Window().CmdsFileName), DefaultMenuText());
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].kind, "information");
    EXPECT_EQ(asked[0].text, "Restart program to make settings effect.");
}

TEST_F(ConfigureMenuTest, EditedTextIsWrittenWithCrLfAndTheMenuWaitsForARestart)
{
    MenuFile("old | probe old\n");
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    Configure([](TFormMemo& memo) {
        EXPECT_EQ(memo.Text(), "old | probe old\r\n");
        memo.Memo1->setPlainText("new | probe new\nsecond | probe 2");
        memo.accept();
    });
    EXPECT_EQ(Read(Window().CmdsFileName), "new | probe new\r\nsecond | probe 2");
    ASSERT_EQ(UserItems().size(), 1);
    EXPECT_EQ(UserItems()[0]->text(), "old");

    Configure([](TFormMemo& memo) {
        memo.Memo1->setPlainText("discarded");
        memo.reject();
    });
    EXPECT_EQ(Read(Window().CmdsFileName), "new | probe new\r\nsecond | probe 2");
    EXPECT_EQ(UserDialogs::TakeAsked().size(), 1) << "only the first restart notice";
}

TEST_F(ConfigureMenuTest, AFailedWriteNamesTheFileAndKeepsTheOldOne)
{
    std::ofstream(desktop.Folder + "/blocked") << "a file where the folder should be";
    Window().CmdsFileName = desktop.Folder + "/blocked/" + MenuFileName;
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    Configure([](TFormMemo& memo) { memo.accept(); });
    auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].kind, "error");
    EXPECT_EQ(asked[0].text,
        "Cannot create file \"" + QString::fromStdString(Window().CmdsFileName) + "\". Not a directory");
}

// Without a file of their own, the menu comes from the first default found; the editor starts
// from it and writes the user's own file.
TEST_F(ConfigureMenuTest, TheDefaultInUseIsReadAndTheEditWrittenToTheUsersOwnFile)
{
    const std::string own = desktop.Folder + "/cfg/tovrin/" + MenuFileName;
    const std::string system = desktop.Folder + "/xdg/tovrin/" + MenuFileName;
    const std::string beside = desktop.Folder + "/" + MenuFileName;
    fs::create_directories(fs::path(system).parent_path());
    std::ofstream(system, std::ios::binary) << "system | probe system\r\n";
    std::ofstream(beside, std::ios::binary) << "beside | probe beside\r\n";
    Window().CmdsFileName = own;
    Window().CmdsDefaultFileNames = { system, beside };
    Window().BuildUserCommandItems();
    ASSERT_EQ(UserItems().size(), 1);
    EXPECT_EQ(UserItems()[0]->text(), "system");

    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    Configure([&](TFormMemo& memo) {
        EXPECT_EQ(memo.windowTitle(), QString::fromStdString(own));
        EXPECT_EQ(memo.Text(), "system | probe system\r\n");
        memo.Memo1->setPlainText("mine | probe mine");
        memo.accept();
    });
    EXPECT_EQ(Read(own), "mine | probe mine");
    EXPECT_EQ(Read(system), "system | probe system\r\n");
    Window().BuildUserCommandItems();
    ASSERT_EQ(UserItems().size(), 1);
    EXPECT_EQ(UserItems()[0]->text(), "mine");
    UserDialogs::TakeAsked();
}

// A FIFO named like the menu file would hold the window for ever if it were opened for reading.
TEST_F(ConfigureMenuTest, AMenuFileThatIsNoRegularFileIsRefusedWithoutWaiting)
{
    Window().CmdsFileName = desktop.Folder + "/" + MenuFileName;
    ASSERT_EQ(::mkfifo(Window().CmdsFileName.c_str(), 0600), 0);
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    Window().BuildUserCommandItems();
    EXPECT_TRUE(UserItems().isEmpty());
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    Window().MenuItemCfgToolsClick();
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 2) << "at the start and in the editor";
    for (const auto& a : asked)
        EXPECT_EQ(a.text,
            "Cannot open file \"" + QString::fromStdString(Window().CmdsFileName) + "\". Not a regular file");
}

TEST(InputQueryDialog, LongProposalShownWholeTypingLimitedSelectedAndPlain)
{
    const std::string longValue(300, 'x');
    auto dialog = UserDialogs::NewInputQuery(nullptr, "Command Line", "<b>Port</b>", longValue, 255);
    auto* edit = dialog->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    dialog->show();
    QApplication::processEvents();
    EXPECT_EQ(edit->text().size(), 300);
    EXPECT_EQ(edit->selectedText().size(), 300) << "opens fully selected";
    edit->end(false);
    QTest::keyClicks(edit, "y");
    EXPECT_EQ(edit->text().size(), 300) << "no typing beyond the limit";
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text().size(), 299);
    for (const auto* label : dialog->findChildren<QLabel*>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText);

    auto shortQuery = UserDialogs::NewInputQuery(nullptr, "c", "p", std::string(250, 'a'), 255);
    auto* shortEdit = shortQuery->findChild<QLineEdit*>();
    shortEdit->end(false);
    QTest::keyClicks(shortEdit, "0123456789");
    EXPECT_EQ(shortEdit->text(), QString(250, 'a') + "01234");
}

// Enter on the proposal gives its bytes back, whatever they are; an edit gives the text as UTF-8.
TEST(InputQueryDialog, AProposalConfirmedUneditedKeepsItsBytes)
{
    const std::tuple<std::string, const char*, std::string> cases[] = {
        { "latin-1 \xFC\xA0", "", "latin-1 \xFC\xA0" },
        { "\xEF\xBB\xBF bom", "", "\xEF\xBB\xBF bom" },
        { "\xFC", "x", "\xC3\xBCx" },
    };
    for (const auto& [proposal, typed, confirmed] : cases) {
        QTimer::singleShot(0, [typed = typed] {
            auto* edit = QApplication::activeModalWidget()->findChild<QLineEdit*>();
            edit->end(false);
            QTest::keyClicks(edit, typed);
            QTest::keyClick(edit, Qt::Key_Return);
        });
        std::string value = proposal;
        EXPECT_TRUE(UserDialogs::InputQuery(nullptr, "Enter Parameter Value", "Name", value));
        EXPECT_EQ(value, confirmed) << proposal;
    }
    UserDialogs::TakeAsked();
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return EndBeforeWindowSystemTeardown(RUN_ALL_TESTS());
}
